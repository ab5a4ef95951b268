# Sourced by the shell tests that drive real windows under Xvfb.

failures=0
check() { # check <description> <command...>
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
waitFor() { # waitFor <tries of 50 ms> <command...>
    local tries=$1; shift
    for ((i = 0; i < tries; i++)); do "$@" && return 0; sleep 0.05; done
    return 1
}
# Focus checks mean nothing until the window manager manages windows.
wmReady() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
activeWindow() { xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}'; }
# Runs the calling script again under xvfb-run unless it already runs there; exits 77
# when a tool it needs is missing. Usage: reexecUnderXvfb <WxHxD> "<tools>" "$0" "$@"
reexecUnderXvfb() {
    local screen=$1 tools=$2 tool
    shift 2
    [ -n "${PW_IN_XVFB:-}" ] && return 0
    for tool in xvfb-run $tools; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
    done
    PW_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 $screen" "$@"
}
# A temporary HOME ($home) with its XDG folders; at exit the processes in `pids` are
# stopped and the folder removed.
useTempHome() { # useTempHome <name prefix>
    home=$(mktemp -d "/tmp/$1.XXXXXX")
    pids=()
    trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$home"' EXIT
    export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
    mkdir -p "$XDG_CONFIG_HOME/perchwell" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}
startOpenbox() {
    openbox >"$home/openbox.log" 2>&1 &
    pids+=($!)
    waitFor 400 wmReady || { echo "FAIL: openbox never started"; cat "$home/openbox.log"; exit 1; }
}
# A visible window of Perchwell's taller than the mascot panel: its menu.
perchwellMenuOpen() {
    local w
    for w in $(xdotool search --onlyvisible --class Perchwell 2>/dev/null); do
        xwininfo -id "$w" | awk '/Height:/{h=$2} END{exit !(h > 150)}' && return 0
    done
    return 1
}
# Perchwell's tray icon: a 22x22 window embedded in the tray.
trayIcon() { xwininfo -root -tree | awk '/"Perchwell": \("perchwell"/ && /22x22/ {print $1; exit}'; }
hasIcon() { test -n "$(trayIcon)"; }
# Clicks the 22x22 tray icon window and waits for the menu.
openTrayMenu() { # openTrayMenu <icon window>
    local ix iy
    read -r ix iy < <(xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}')
    xdotool mousemove $((ix + 11)) $((iy + 11)) click 1
    waitFor 100 perchwellMenuOpen
}
