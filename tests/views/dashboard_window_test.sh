#!/usr/bin/env bash
# The "Receipts" window under Xvfb with a window manager and a tray: "Receipts..." from
# the tray menu opens one window of 720x800; with an xterm raised over it, "Receipts..."
# from the mascot's menu brings the same window back to the front instead of a second one.
# Usage: dashboard_window_test.sh <path to perchwell>. Exit 77 = skipped (tools missing).
set -u
app=${1:?path to perchwell}

source "$(dirname "$0")/../support/xvfb_helpers.sh"
reexecUnderXvfb 1920x1080x24 "xdotool xterm xprop xwininfo openbox trayer" "$0" "$@"

useTempHome pw-receipts
mkdir -p "$home/.claude/projects"
echo '{"pv.mascotHomeCorner": "bottomLeft", "pv.enabled": false}' > "$XDG_CONFIG_HOME/perchwell/defaults.json"
unset DBUS_SESSION_BUS_ADDRESS # the tray below is an XEmbed one
startOpenbox
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 & pids+=($!)
xterm -title pw-xterm -geometry 120x50+0+0 >/dev/null 2>&1 & pids+=($!)
waitFor 400 xdotool search --name pw-xterm >/dev/null || { echo "FAIL: no xterm"; exit 1; }
term=$(xdotool search --name pw-xterm | head -1)

"$app" --uitesting >"$home/app.log" 2>&1 & pids+=($!)

receipts() { xdotool search --onlyvisible --name '^Receipts$' 2>/dev/null; }
waitFor 400 hasIcon || { echo "FAIL: no tray icon"; cat "$home/app.log"; exit 1; }
# The menu's enabled items: Vuve Vurer, Resume Watcher, Settings..., Receipts...
chooseReceipts() {
    waitFor 100 perchwellMenuOpen || echo "note: no menu window seen"
    xdotool key Down Down Down Down Return
}

openTrayMenu "$(trayIcon)" || echo "note: no menu window seen"
chooseReceipts
check "Receipts... from the tray menu opens the window" waitFor 200 bash -c "test -n \"\$(xdotool search --onlyvisible --name '^Receipts$')\""
check "exactly one Receipts window" test "$(receipts | wc -l)" -eq 1
window=$(receipts | head -1)
check "the window is 720x800" bash -c "xwininfo -id $window | grep -q 'Width: 720' && xwininfo -id $window | grep -q 'Height: 800'"
if [ -n "${PW_SCREENSHOT_DIR:-}" ] && command -v import >/dev/null; then
    sleep 0.5 && mkdir -p "$PW_SCREENSHOT_DIR" && import -window root "$PW_SCREENSHOT_DIR/xvfb-receipts.png"
fi

xdotool windowactivate --sync "$term" 2>/dev/null
xdotool windowraise "$term"
termHex=$(printf '0x%x' "$term")
check "the xterm is in front before the second call" waitFor 100 bash -c "test \"\$(xprop -root _NET_ACTIVE_WINDOW | awk '{print \$NF}')\" = $termHex"

# The mascot's menu: a click on the panel pops it up at the pointer.
panel=$(xdotool search --onlyvisible --class Perchwell 2>/dev/null | while read -r w; do
    xwininfo -id "$w" | grep -q 'Width: 280' && echo "$w"; done | head -1)
read -r px py < <(xwininfo -id "$panel" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}')
xdotool mousemove $((px + 140)) $((py + 32)) click 1
chooseReceipts
windowHex=$(printf '0x%x' "$window")
aboveXterm() { # stacked above the xterm (the mascot panel stays above everything)
    local stack
    stack=$(xprop -root _NET_CLIENT_LIST_STACKING)
    [[ $stack == *"$termHex"*"$windowHex"* ]]
}
check "the second call raises the window above the xterm" waitFor 100 aboveXterm
check "and makes it the active window" waitFor 100 bash -c "test \"\$(xprop -root _NET_ACTIVE_WINDOW | awk '{print \$NF}')\" = $windowHex"
check "still exactly one Receipts window" test "$(receipts | wc -l)" -eq 1
check "it is the same window" test "$(receipts | head -1)" = "$window"

if [ "$failures" -ne 0 ]; then
    xprop -root _NET_CLIENT_LIST_STACKING
    cat "$home/app.log"
    exit 1
fi
echo "receipts window: all checks passed"
