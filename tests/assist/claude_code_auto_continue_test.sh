#!/usr/bin/env bash
# Auto Continue with the real Claude Code: `perchwell --headless` with auto-continue on,
# and interactive Claude Code (npm package, pinned) in a detached tmux pane of a private
# tmux server, offline against the stand-in Messages API. After its first answer the
# session goes quiet; the application types "continue" into the pane, and Claude Code
# sends it on as the next prompt. Everything lives in a temporary HOME.
# Usage: claude_code_auto_continue_test.sh <bin-dir> <scratch-dir>
set -euo pipefail
bin="$1"
scratch="$2"
# shellcheck source=../support/claude_code.sh
source "$(cd "$(dirname "$0")" && pwd)/../support/claude_code.sh"
claude_code_install "$scratch"
command -v tmux >/dev/null || { echo "tmux is missing (scripts/deps.sh installs it)"; exit 1; }

home="$(mktemp -d)"
app_pid=""
api_pid=""
export HOME="$home"
export TMPDIR="$home/tmp"
# The application's pane finder asks the default tmux server: with TMUX_TMPDIR here, that
# is this test's own server, never the user's.
export TMUX_TMPDIR="$home/tmux"
unset TMUX TMUX_PANE XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_RUNTIME_DIR CLAUDE_CONFIG_DIR \
  DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
cleanup() {
  tmux kill-server 2>/dev/null || true
  for pid in $app_pid $api_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$home"
}
trap cleanup EXIT
mkdir -p "$TMPDIR" "$TMUX_TMPDIR" "$home/work" "$home/.config/perchwell"
work="$(cd "$home/work" && pwd -P)"

fail() {
  echo "FAIL: $*"
  echo "--- the pane"
  tmux capture-pane -p -t agents 2>/dev/null || true
  echo "--- perchwell log"
  cat "$home/perchwell.log" 2>/dev/null || true
  exit 1
}
# wait_for <tenths of a second> <command...>
wait_for() {
  local tries="$1"
  shift
  for _ in $(seq 1 "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}

echo '{"pv.autoContinue": true, "pv.autoContinueIdleSeconds": 2}' >"$home/.config/perchwell/defaults.json"
claude_code_skip_first_run "$work"
messages_api_start "$home" || fail "the stand-in Messages API did not start"
messages_api_script '{"turns":[{"content":[{"type":"text","text":"First answer."}]},
  {"content":[{"type":"text","text":"Carried on."}]}]}'

"$bin/perchwell" --headless >"$home/perchwell.log" 2>&1 &
app_pid=$!
app_ready() { [ -S "$home/.local/share/perchwell/hook.sock" ] || ! kill -0 "$app_pid" 2>/dev/null; }
wait_for 100 app_ready
kill -0 "$app_pid" 2>/dev/null || fail "the application ended"

tmux -f /dev/null new-session -d -s agents -c "$work" -x 120 -y 40 \
  env "${claude_code_offline_env[@]}" ANTHROPIC_BASE_URL="$api" "$claude" \; set-option -g remain-on-exit on ||
  fail "tmux did not start"
# The prompt box, and no first-run screen ("Enter to confirm") in front of it.
at_prompt() {
  local screen
  screen="$(tmux capture-pane -p -t agents)"
  grep -q '^❯' <<<"$screen" && ! grep -q 'Enter to confirm' <<<"$screen"
}
wait_for 300 at_prompt || fail "Claude Code did not reach its prompt"

# last_prompts: the text of each agent request's last user message, one a line.
last_prompts() {
  node -e "fetch('$api/__requests').then(r=>r.json()).then(rs=>{ for (const r of rs) {
    const m = r.messages.filter(m => m.role === 'user').at(-1);
    const text = typeof m.content === 'string' ? m.content : m.content.filter(b => b.type === 'text').at(-1)?.text;
    console.log(JSON.stringify((text ?? '').trim())) } })"
}
# Sent together, the prompt could take the Return as part of a paste.
tmux send-keys -t agents -l "Say hello"
sleep 0.5
tmux send-keys -t agents Enter
answered() { tmux capture-pane -p -t agents | grep -q 'First answer\.'; }
wait_for 300 answered || fail "no first answer"
[ "$(last_prompts)" = '"Say hello"' ] || fail "unexpected first request: $(last_prompts)"

echo "first answer shown; waiting for the session to go quiet and be continued"
continued() { [ "$(last_prompts | sed -n 2p)" = '"continue"' ]; }
wait_for 600 continued || fail "no second request ending in \"continue\"; requests: $(last_prompts | tr '\n' ' ')"
grep -q "firing onIdle" "$home/perchwell.log" || fail "the application did not log the idle session"
wait_for 300 bash -c "tmux capture-pane -p -t agents | grep -q 'Carried on\.'" || fail "no second answer"
# Its own "continue" comes back as a user prompt; that must not restart the ten-minute
# cooldown. Two idle checks past the threshold, nothing more may arrive.
sleep 22
[ "$(last_prompts | grep -c '^"continue"$')" = 1 ] ||
  fail "continued more than once within the cooldown: $(last_prompts | tr '\n' ' ')"
echo "auto-continue with Claude Code $claude_code_version: passed"
