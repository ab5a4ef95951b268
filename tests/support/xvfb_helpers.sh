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
