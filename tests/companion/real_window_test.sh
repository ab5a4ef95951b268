#!/usr/bin/env bash
# Real windows under Xvfb with a window manager and a tray: the mascot panel appears at
# its home corner of a 1920x1080 screen, stays above a focused xterm without taking
# focus from it; resuming from the tray menu starts the patrol to the corners, pausing
# from it writes the setting. The watcher starts paused so that the panel stays home.
# Launched again without the tray, it says why the mascot will not hide itself.
# Usage: real_window_test.sh <path to perchwell>. Exit 77 = skipped (tools missing).
set -u
app=${1:?path to perchwell}

if [ -z "${PW_IN_XVFB:-}" ]; then
    for tool in xvfb-run xdotool xterm xprop xwininfo openbox trayer; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
    done
    PW_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$@"
fi

home=$(mktemp -d /tmp/pw-xvfb.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_CONFIG_HOME/perchwell" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
echo '{"pv.mascotHomeCorner": "bottomLeft", "pv.enabled": false}' > "$XDG_CONFIG_HOME/perchwell/defaults.json"
unset DBUS_SESSION_BUS_ADDRESS # the tray below is an XEmbed one

source "$(dirname "$0")/../support/xvfb_helpers.sh"

openbox >"$home/openbox.log" 2>&1 & pids+=($!)
waitFor 400 wmReady || { echo "FAIL: openbox never started"; cat "$home/openbox.log"; exit 1; }
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 & pids+=($!)
trayerPid=$!
xterm -title pw-xterm -geometry 200x70+0+0 >"$home/xterm.log" 2>&1 & pids+=($!)
waitFor 400 xdotool search --name pw-xterm >/dev/null || { echo "FAIL: no xterm"; cat "$home/xterm.log"; exit 1; }
term=$(xdotool search --name pw-xterm | head -1)
xdotool windowsize --sync "$term" 1920 1080 # the panel's corners all lie over it
termHex=$(printf '0x%x' "$term")
termActive() { xdotool windowactivate --sync "$term" 2>/dev/null; test "$(activeWindow)" = "$termHex"; }
waitFor 100 termActive || { echo "FAIL: the xterm never got focus"; exit 1; }

"$app" --uitesting >"$home/app.log" 2>&1 & pids+=($!)
appPid=$!
panelId() { xdotool search --onlyvisible --class Perchwell 2>/dev/null | while read -r w; do
    xwininfo -id "$w" | grep -q 'Width: 280' && echo "$w"; done | head -1; }
position() { xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x","y}'; }

hasPanel() { test -n "$(panelId)"; }
waitFor 400 hasPanel || { echo "FAIL: the panel never appeared"; cat "$home/app.log"; exit 1; }
panel=$(panelId)
first=$(position "$panel")
check "panel appears at the bottom-left home corner (16,1000), got $first" test "$first" = "16,1000"
check "panel is 280x64" bash -c "xwininfo -id $panel | grep -q 'Height: 64'"
active=$(activeWindow)
check "xterm keeps focus when the panel appears (active: $active)" test "$active" = "$termHex"
check "panel asks to stay above" bash -c "xprop -id $panel _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE"
check "panel is left out of task bars" bash -c "xprop -id $panel _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR"
check "panel is on every desktop" bash -c "xprop -id $panel _NET_WM_DESKTOP | grep -q 4294967295"
check "panel never takes input focus" bash -c "xprop -id $panel WM_HINTS | grep -q 'input focus: False'"

sleep 1.2 # a patrol would have moved it by now
check "a paused mascot stays home, got $(position "$panel")" test "$(position "$panel")" = "16,1000"

# The tray icon: a 22x22 window of ours embedded in trayer. A click opens the menu whose
# second enabled item is "Resume Watcher" / "Pause Watcher".
icon=$(xwininfo -root -tree | awk '/"Perchwell": \("perchwell"/ && /22x22/ {print $1; exit}')
menuOpen() { # a visible window of ours taller than the panel
    local w
    for w in $(xdotool search --onlyvisible --class Perchwell 2>/dev/null); do
        xwininfo -id "$w" | awk '/Height:/{h=$2} END{exit !(h > 150)}' && return 0
    done
    return 1
}
toggleFromTray() {
    read -r ix iy < <(xwininfo -id "$icon" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}')
    xdotool mousemove $((ix + 11)) $((iy + 11)) click 1
    waitFor 100 menuOpen || echo "note: no menu window seen"
    if [ -n "${PW_SCREENSHOT_DIR:-}" ] && command -v import >/dev/null; then
        mkdir -p "$PW_SCREENSHOT_DIR" && import -window root "$PW_SCREENSHOT_DIR/xvfb-tray-menu.png"
    fi
    xdotool key Down Down Return
}
if [ -z "$icon" ]; then
    echo "FAIL: no tray icon embedded"
    exit 1
fi
toggleFromTray
check "resuming from the tray menu writes pv.enabled=true" \
    waitFor 40 grep -q '"pv.enabled": true' "$XDG_CONFIG_HOME/perchwell/defaults.json"
check "the coordinator logs the resume" waitFor 40 grep -q 'watcher active' "$home/app.log"

xdotool windowraise "$term"; xdotool windowactivate --sync "$term"
sleep 1.5 # the first patrol move comes after 0.6 s and glides for 0.55 s
stacking=$(xprop -root _NET_CLIENT_LIST_STACKING)
panelHex=$(printf '0x%x' "$panel")
check "panel stays above the raised xterm" bash -c "[[ '$stacking' == *'$termHex'*'$panelHex'* ]]"
check "xterm still has focus while the panel patrols" test "$(activeWindow)" = "$termHex"
inCorner() { case $(position "$panel") in 16,16|1624,16|16,1000|1624,1000) true;; *) false;; esac; }
waitFor 100 inCorner
now=$(position "$panel")
# Optional: a picture of the whole screen for a reader (ImageMagick's import).
if [ -n "${PW_SCREENSHOT_DIR:-}" ] && command -v import >/dev/null; then
    mkdir -p "$PW_SCREENSHOT_DIR" && import -window root "$PW_SCREENSHOT_DIR/xvfb-desktop.png"
fi
check "patrol keeps the panel in a corner, got $now" inCorner

toggleFromTray
check "pausing from the tray menu writes pv.enabled=false" \
    waitFor 40 grep -q '"pv.enabled": false' "$XDG_CONFIG_HOME/perchwell/defaults.json"
check "the coordinator logs the pause" waitFor 40 bash -c "grep -c 'watcher paused' '$home/app.log' | grep -qv '^1$'"

# A click on the mascot pops the menu up at the pointer.
read -r px py < <(xwininfo -id "$panel" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}')
xdotool mousemove $((px + 140)) $((py + 32)) click 1 # inside the content at either alignment
check "a click on the mascot opens the menu" waitFor 100 menuOpen
xdotool key Escape
check "with a tray the launch has nothing to explain" bash -c "! grep -q 'no system tray' '$home/app.log'"

# No tray host: the mascot is all there is to click, so it must not hide itself.
kill "$appPid" "$trayerPid"
wait "$appPid" "$trayerPid" 2>/dev/null
"$app" --uitesting >"$home/app-notray.log" 2>&1 & pids+=($!)
check "without a tray the panel appears again" waitFor 400 hasPanel
check "without a tray the launch says why the mascot stays" \
    waitFor 100 grep -q '^\[pv:mascot\]\[I\] no system tray on this desktop: the mascot stays on screen' \
    "$home/app-notray.log"

if [ "$failures" -ne 0 ]; then
    cat "$home/app-notray.log"
    cat "$home/app.log"
    exit 1
fi
echo "real windows: all checks passed"
