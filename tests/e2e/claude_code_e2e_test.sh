#!/usr/bin/env bash
# The real Claude Code (npm package, pinned) against `perchwell --headless` and the hook
# entries `perchwell hooks install` writes, offline: a stand-in Messages API
# (tests/support/fake_messages_api.mjs) scripts the assistant's turns. Everything lives
# in a temporary HOME. Usage: claude_code_e2e_test.sh <bin-dir> <scratch-dir>
set -euo pipefail
bin="$1"
scratch="$2"
here="$(cd "$(dirname "$0")" && pwd)"
support="$here/../support"
# shellcheck source=../support/claude_code.sh
source "$support/claude_code.sh"

claude_code_install "$scratch"
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing (scripts/deps.sh installs it)"; exit 1; }

home="$(mktemp -d)"
real_path="$PATH" # the scenarios shadow rm
app_pid=""
api_pid=""
cleanup() {
  for pid in $app_pid $api_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  PATH="$real_path" rm -rf "$home"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- perchwell log"
  cat "$home/perchwell.log" 2>/dev/null || true
  echo "--- hook-events.log"
  cat "$home/.local/share/perchwell/hook-events.log" 2>/dev/null || true
  exit 1
}

export HOME="$home"
export TMPDIR="$home/tmp"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_RUNTIME_DIR CLAUDE_CONFIG_DIR DBUS_SESSION_BUS_ADDRESS DISPLAY \
  WAYLAND_DISPLAY
mkdir -p "$TMPDIR" "$home/work" "$home/.ssh" "$home/standins" "$home/prefix/bin"
echo "not a key" >"$home/.ssh/id_ed25519"
data="$home/.local/share/perchwell"
hook_log="$data/hook-events.log"

# The hook command runs from a copy whose `perchwell` records each event that falls
# back to the hook process, so a PreToolUse answered over the socket shows as absent.
cp "$bin/perchwell" "$bin/pv-hook-client" "$home/prefix/bin/"
"$home/prefix/bin/perchwell" hooks install || fail "hooks install"
"$home/prefix/bin/perchwell" hooks status | grep -q "^Installed in $home/.claude/settings.json" || fail "hooks status"
cat >"$home/prefix/bin/perchwell" <<EOF
#!/bin/sh
input=\$(cat)
printf '%s\n' "\$input" >>"$home/fallback-events.jsonl"
printf '%s' "\$input" | exec "$bin/perchwell" "\$@"
EOF
chmod +x "$home/prefix/bin/perchwell"

# Stand-ins for every command a scenario sends: harmless even if the hook let them run.
for name in pv-e2e-probe ls rm; do
  printf '#!/bin/sh\necho "%s ran: $*"\ntouch "%s/ran-%s"\n' "$name" "$home" "$name" >"$home/standins/$name"
  chmod +x "$home/standins/$name"
done
export PATH="$home/standins:$PATH"

messages_api_start "$home" || fail "the stand-in Messages API did not start"

"$bin/perchwell" --headless >"$home/perchwell.log" 2>&1 &
app_pid=$!
for _ in $(seq 1 100); do [ -S "$data/hook.sock" ] && break; kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
[ -S "$data/hook.sock" ] || fail "the application did not open its hook socket"

# bash_turns <command>: one Bash call, then a closing text.
bash_turns() {
  node -e 'const [c]=process.argv.slice(1); console.log(JSON.stringify({turns:[
    {content:[{type:"text",text:"Running it."},{type:"tool_use",name:"Bash",input:{command:c,description:"scenario"}}]},
    {content:[{type:"text",text:"Scenario finished."}]}]}))' "$1"
}
# session <prompt>: one `claude -p` session in the work directory.
session() {
  (cd "$home/work" && env "${claude_code_offline_env[@]}" ANTHROPIC_BASE_URL="$api" timeout 120 "$claude" \
    -p "$1" --output-format json) >"$home/session.json" 2>"$home/session.err" ||
    { cat "$home/session.err"; fail "claude -p \"$1\" failed"; }
}
# tool_result: the tool result Claude Code sent back to the stand-in, as JSON.
tool_result() {
  node -e "fetch('$api/__requests').then(r=>r.json()).then(rs=>{
    for (const r of rs) for (const m of r.messages) if (Array.isArray(m.content))
      for (const b of m.content) if (b.type==='tool_result') { console.log(JSON.stringify(b)); return; }
    console.log('none')})"
}
log_lines() { [ -f "$hook_log" ] && wc -l <"$hook_log" || echo 0; }
fallback_pretooluse() { grep -c '"hook_event_name": *"PreToolUse"' "$home/fallback-events.jsonl" 2>/dev/null || true; }

echo "(a) a harmless Bash call runs, answered over the application's socket"
messages_api_script "$(bash_turns "pv-e2e-probe hello")"
session "Run the probe please"
result="$(tool_result)"
echo "  tool result: $result"
echo "$result" | grep -q '"is_error":false' || fail "(a) the tool did not run: $result"
echo "$result" | grep -q 'pv-e2e-probe ran: hello' || fail "(a) unexpected output: $result"
[ -f "$home/ran-pv-e2e-probe" ] || fail "(a) the stand-in did not run"
grep -q "	allow	Bash	" "$hook_log" || fail "(a) no allow line in the hook event log"
[ "$(fallback_pretooluse)" = "0" ] || fail "(a) PreToolUse fell back to the hook process"
grep -q '"hook_event_name": *"UserPromptSubmit"' "$home/fallback-events.jsonl" ||
  fail "(a) UserPromptSubmit did not reach the hook"

echo "(b) a Bash call that touches ~/.ssh is blocked (ask)"
messages_api_script "$(bash_turns "ls ~/.ssh")"
session "List my ssh directory"
result="$(tool_result)"
echo "  tool result: $result"
echo "$result" | grep -q '"is_error":true' || fail "(b) the call was not blocked: $result"
[ ! -e "$home/ran-ls" ] || fail "(b) ls ran"
grep -q "	ask	Bash	.*ssh" "$hook_log" || fail "(b) no ask line in the hook event log"

echo "(c) with pv.hookHardDeny on, a catastrophic command is refused (deny)"
mkdir -p "$home/.config/perchwell"
echo '{"pv.hookHardDeny": true}' >"$home/.config/perchwell/defaults.json"
messages_api_script "$(bash_turns "rm -rf /")"
session "Clean up everything"
result="$(tool_result)"
echo "  tool result: $result"
echo "$result" | grep -q '"is_error":true' || fail "(c) the call was not blocked: $result"
echo "$result" | grep -q 'refused' || fail "(c) the refusal reason did not reach Claude Code: $result"
[ ! -e "$home/ran-rm" ] || fail "(c) rm ran"
grep -q "	deny	Bash	" "$hook_log" || fail "(c) no deny line in the hook event log"

echo "(d) the prompts and turns reached workflow.db while the application runs"
db="$data/workflow.db"
for _ in $(seq 1 100); do
  prompts="$(sqlite3 "$db" "SELECT count(*) FROM user_prompts WHERE content IN
    ('Run the probe please','List my ssh directory','Clean up everything')" 2>/dev/null || echo 0)"
  turns="$(sqlite3 "$db" "SELECT count(*) FROM assistant_turns WHERE text_content LIKE '%Scenario finished.%'" \
    2>/dev/null || echo 0)"
  [ "$prompts" = "3" ] && [ "$turns" = "3" ] && break
  sleep 0.2
done
[ "$prompts" = "3" ] || fail "(d) $prompts of 3 prompts in workflow.db"
[ "$turns" = "3" ] || fail "(d) $turns of 3 closing turns in workflow.db"
kill -0 "$app_pid" 2>/dev/null || fail "the application ended"

echo "(e) after hooks uninstall a session runs with no hook call"
"$bin/perchwell" hooks uninstall | grep -q "^Removed the Perchwell hook" || fail "hooks uninstall"
before="$(log_lines)"
fallback_before="$(wc -l <"$home/fallback-events.jsonl")"
messages_api_script "$(bash_turns "echo after-uninstall")"
session "Run the probe once more"
tool_result | grep -q "after-uninstall" || fail "(e) the tool did not run"
[ "$(log_lines)" = "$before" ] || fail "(e) the hook was called after uninstall"
[ "$(wc -l <"$home/fallback-events.jsonl")" = "$fallback_before" ] || fail "(e) the hook process ran after uninstall"
echo "all scenarios passed"
