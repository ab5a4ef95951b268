#!/usr/bin/env bash
# Auto Continue end to end, under Xvfb with a window manager and tmux:
#  1. an idle session whose `claude` runs in a detached tmux pane gets "continue" and
#     Enter there, while the focused xterm gets nothing;
#  2. an idle session with no pane: the focused xterm (running `cat > out`) gets
#     "continue" and a line feed;
#  3. the same while another client holds a keyboard grab: nothing is typed;
#  4. a session whose pane's claude was stopped with Ctrl+Z: neither the pane nor the
#     xterm in front gets anything.
# Usage: auto_continue_end_to_end.sh <perchwell> <keyboard grabber>. Exit 77 = skipped.
set -u
app=${1:?path to perchwell}
grabber=${2:?path to the keyboard grabber}

if [ -z "${PW_IN_XVFB:-}" ]; then
    for tool in xvfb-run xdotool xterm xprop openbox tmux; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
    done
    PW_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

home=$(mktemp -d /tmp/pw-autocontinue.XXXXXX)
pids=()
cleanup() {
    tmux kill-server 2>/dev/null
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
export CLAUDE_CONFIG_DIR=$home/.claude TMUX_TMPDIR=$home/tmux
unset TMUX TMUX_PANE DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_CONFIG_HOME/perchwell" "$XDG_RUNTIME_DIR" "$TMUX_TMPDIR" "$home/bin" && chmod 700 "$XDG_RUNTIME_DIR"
echo '{"pv.autoContinue": true, "pv.autoContinueIdleSeconds": 1}' > "$XDG_CONFIG_HOME/perchwell/defaults.json"

source "$(dirname "$0")/../support/xvfb_helpers.sh"

# Three sessions, each in a project directory of its own; each transcript exists before
# the application starts (read as history) and gets one live prompt, long past, later.
projects=$CLAUDE_CONFIG_DIR/projects
declare -A cwdOf
for n in 1 2 3 4; do
    session=00000000-0000-4000-8000-00000000000$n
    cwdOf[$n]=$home/project$n
    [ "$n" = 4 ] && cwdOf[4]=$home/project1
    mkdir -p "${cwdOf[$n]}" "$projects/project$n"
    echo "{\"type\":\"summary\",\"summary\":\"s$n\"}" > "$projects/project$n/$session.jsonl"
done
prompt() { # prompt <n>: a user prompt of session n, dated long ago, so it is idle at once
    local session=00000000-0000-4000-8000-00000000000$1
    echo "{\"type\":\"user\",\"uuid\":\"u$1\",\"sessionId\":\"$session\",\"timestamp\":\"2020-01-01T00:00:00Z\",\"cwd\":\"${cwdOf[$1]}\",\"message\":{\"role\":\"user\",\"content\":\"go\"}}" \
        >> "$projects/project$1/$session.jsonl"
}

# The stand-in Claude Code: appends what it reads to a file; started from a shell
# in a detached tmux session, in session 1's directory.
cat > "$home/bin/claude" <<'SCRIPT'
#!/bin/sh
cat >> "$PW_CLAUDE_OUT"
SCRIPT
chmod +x "$home/bin/claude"
paneOut=$home/pane-out.txt
: > "$paneOut"
tmux new-session -d -s agents -c "${cwdOf[1]}" -x 120 -y 30 \
    "env PATH=$home/bin:\$PATH PW_CLAUDE_OUT=$paneOut sh -i" || { echo "FAIL: tmux did not start"; exit 1; }
tmux send-keys -t agents 'claude' Enter
claudeRuns() { grep -qsx claude /proc/[0-9]*/comm; }
waitFor 100 claudeRuns || { echo "FAIL: the stand-in claude never ran"; exit 1; }

openbox >"$home/openbox.log" 2>&1 & pids+=($!)
waitFor 400 wmReady || { echo "FAIL: openbox never started"; exit 1; }
termOut=$home/xterm-out.txt
: > "$termOut"
xterm -title pw-cat -e sh -c "cat > '$termOut'" >"$home/xterm.log" 2>&1 & pids+=($!)
waitFor 400 xdotool search --name pw-cat >/dev/null || { echo "FAIL: no xterm"; exit 1; }
term=$(xdotool search --name pw-cat | head -1)
termHex=$(printf '0x%x' "$term")
termActive() { xdotool windowactivate --sync "$term" 2>/dev/null; test "$(activeWindow)" = "$termHex"; }
waitFor 100 termActive || { echo "FAIL: the xterm never got focus"; exit 1; }

"$app" --uitesting >"$home/app.log" 2>&1 & pids+=($!)
watching() { grep -qs "watcher active" "$home/app.log"; }
waitFor 400 watching || sleep 3 # the back-fill has read the history by then
termActive

# 1. The session's own pane; the xterm in front gets nothing.
prompt 1
check "session 1 fires within a check or two" waitFor 500 bash -c "[ \$(grep -c 'firing onIdle' '$home/app.log') -ge 1 ]"
check "the tmux pane's claude reads 'continue' and a line feed" waitFor 100 grep -qx continue "$paneOut"
sleep 0.5
check "the focused xterm received nothing (got: $(cat "$termOut"))" test ! -s "$termOut"

# 2. No pane: the trusted xterm in front.
termActive
prompt 2
check "session 2 fires" waitFor 500 bash -c "[ \$(grep -c 'firing onIdle' '$home/app.log') -ge 2 ]"
check "the focused xterm's cat reads 'continue' and a line feed" waitFor 100 grep -qx continue "$termOut"
check "the pane got nothing more" test "$(cat "$paneOut")" = continue

# 3. Another client holds the keyboard: nothing is typed.
: > "$termOut"
"$grabber" >"$home/grab.log" 2>&1 & pids+=($!)
grabberPid=$!
waitFor 100 grep -q grabbed "$home/grab.log" || { echo "FAIL: could not grab the keyboard"; cat "$home/grab.log"; exit 1; }
prompt 3
check "session 3 fires" waitFor 500 bash -c "[ \$(grep -c 'firing onIdle' '$home/app.log') -ge 3 ]"
sleep 1.5
check "with the keyboard grabbed nothing is typed (got: $(cat "$termOut"))" test ! -s "$termOut"

# 4. The pane's claude stopped with Ctrl+Z: the shell is in front there now.
kill "$grabberPid"; wait "$grabberPid" 2>/dev/null
termActive
tmux send-keys -t agents C-z
stopped() { grep -qs '^State:.*T' $(grep -lsx claude /proc/[0-9]*/comm | sed 's/comm$/status/'); }
check "the stand-in claude is stopped" waitFor 100 stopped
prompt 4
check "session 4 fires" waitFor 500 bash -c "[ \$(grep -c 'firing onIdle' '$home/app.log') -ge 4 ]"
sleep 1.5
check "a stopped claude's pane gets nothing more" test "$(cat "$paneOut")" = continue
check "and neither does the xterm in front (got: $(cat "$termOut"))" test ! -s "$termOut"

if [ "$failures" -ne 0 ]; then
    cat "$home/app.log"
    exit 1
fi
echo "auto-continue end to end: all checks passed"
