#!/usr/bin/env bash
# The settings window on a real X server with a window manager: "Settings..." from the
# tray menu opens one window titled "Perchwell" of 540x620; asking again while it is
# open (after another window took the front) raises the same window, and no second
# one appears.
# Usage: settings_window_test.sh <path to perchwell>. Exit 77 = skipped (tools missing).
set -u
app=${1:?path to perchwell}

source "$(dirname "$0")/../support/xvfb_helpers.sh"
reexecUnderXvfb 1280x800x24 "xdotool xterm xprop xwininfo openbox trayer" "$0" "$@"

useTempHome pw-settings
echo '{"pv.enabled": false}' > "$XDG_CONFIG_HOME/perchwell/defaults.json"
unset DBUS_SESSION_BUS_ADDRESS # the tray below is an XEmbed one
startOpenbox
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 & pids+=($!)
xterm -title pw-xterm -geometry 100x30+0+0 >"$home/xterm.log" 2>&1 & pids+=($!)
waitFor 400 xdotool search --name pw-xterm >/dev/null || { echo "FAIL: no xterm"; exit 1; }
term=$(xdotool search --name pw-xterm | head -1)
termHex=$(printf '0x%x' "$term")

"$app" --uitesting >"$home/app.log" 2>&1 & pids+=($!)

waitFor 400 hasIcon || { echo "FAIL: no tray icon embedded"; cat "$home/app.log"; exit 1; }
icon=$(trayIcon)

# Top-level windows titled "Perchwell" that are 540 wide: the settings window.
settingsWindows() {
    xdotool search --onlyvisible --name '^Perchwell$' 2>/dev/null | while read -r w; do
        xwininfo -id "$w" | grep -q 'Width: 540' && echo "$w"; done
}
# "Settings..." is the third enabled item (after "Start Vuve Vurer" and "Resume Watcher").
settingsFromTray() {
    openTrayMenu "$icon" || { echo "FAIL: the tray menu never opened"; return 1; }
    xdotool key Down Down Down Return
}
oneWindow() { test "$(settingsWindows | wc -l)" -eq 1; }

settingsFromTray
check "Settings... from the tray opens one settings window" waitFor 200 oneWindow
window=$(settingsWindows | head -1)
windowHex=$(printf '0x%x' "${window:-0}")
check "the settings window is 540x620" bash -c "xwininfo -id $window | grep -q 'Height: 620'"
check "the settings window comes to the front" waitFor 100 bash -c "test \"\$(xprop -root _NET_ACTIVE_WINDOW | awk '{print \$NF}')\" = $windowHex"
if [ -n "${PW_SCREENSHOT_DIR:-}" ] && command -v import >/dev/null; then
    mkdir -p "$PW_SCREENSHOT_DIR" && import -window root "$PW_SCREENSHOT_DIR/xvfb-settings.png"
fi

# Another window takes the front; asking again raises the same settings window.
xdotool windowraise "$term"; xdotool windowactivate --sync "$term"
check "the xterm took the front" test "$(activeWindow)" = "$termHex"
settingsFromTray
check "a second request raises the settings window" waitFor 100 bash -c "test \"\$(xprop -root _NET_ACTIVE_WINDOW | awk '{print \$NF}')\" = $windowHex"
sleep 0.5
check "still exactly one settings window, the same one" bash -c "test \"$(settingsWindows | tr '\n' ' ')\" = '$window '"
stacking=$(xprop -root _NET_CLIENT_LIST_STACKING)
check "the settings window is above the xterm" bash -c "[[ '$stacking' == *'$termHex'*'$windowHex'* ]]"

# Closed (openbox closes the active window on Alt+F4) and asked for again: shown again,
# still the one window.
xdotool windowactivate --sync "$window"
xdotool key alt+F4
check "Alt+F4 closes the settings window" waitFor 100 bash -c "test -z \"\$(xdotool search --onlyvisible --name '^Perchwell\$' 2>/dev/null | grep -x $window)\""
settingsFromTray
check "after closing, Settings... shows one window again" waitFor 200 oneWindow

if [ "$failures" -ne 0 ]; then
    cat "$home/app.log"
    exit 1
fi
echo "settings window: all checks passed"
