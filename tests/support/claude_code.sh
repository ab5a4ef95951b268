# shellcheck shell=bash disable=SC2034 # sets variables for the scripts that source it
# Shared by the tests that run the real Claude Code (npm package, pinned) offline against
# the stand-in Messages API (fake_messages_api.mjs). Source it from bash.

claude_code_version="2.1.328"
claude_code_support="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# What keeps Claude Code quiet and on the stand-in: pass to env(1) with ANTHROPIC_BASE_URL.
claude_code_offline_env=(ANTHROPIC_API_KEY=sk-test-fake DISABLE_TELEMETRY=1 DISABLE_ERROR_REPORTING=1
  CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC=1 DISABLE_AUTOUPDATER=1)

# claude_code_find <scratch>: the native program, the platform package's or the copy its
# postinstall put in bin/ (that script wants a newer Node.js than some distributions ship).
claude_code_find() {
  local platform candidate
  platform="linux-$(uname -m | sed 's/x86_64/x64/; s/aarch64/arm64/')"
  for candidate in "$1/node_modules/@anthropic-ai/claude-code-$platform/claude" \
    "$1/node_modules/@anthropic-ai/claude-code/bin/claude.exe"; do
    if [ -x "$candidate" ] && [ "$(head -c 4 "$candidate" | tail -c 3)" = "ELF" ]; then
      echo "$candidate"
      return
    fi
  done
}

# claude_code_install <scratch>: installs the pinned package into <scratch> once (about
# 370 MB, reused by later runs) and sets $claude. Exits 77 without npm.
claude_code_install() {
  local scratch installed
  command -v npm >/dev/null || { echo "npm is missing: skipped"; exit 77; }
  command -v node >/dev/null || { echo "node is missing (scripts/deps.sh installs it)"; exit 1; }
  mkdir -p "$1"
  scratch="$(cd "$1" && pwd)"
  installed="$(node -p "try { require('$scratch/node_modules/@anthropic-ai/claude-code/package.json').version }
    catch { '' }")"
  if [ "$installed" != "$claude_code_version" ] || [ -z "$(claude_code_find "$scratch")" ]; then
    [ -f "$scratch/package.json" ] || echo '{"name":"perchwell-e2e-claude","private":true}' >"$scratch/package.json"
    npm_config_cache="$scratch/.npm-cache" npm install --prefix "$scratch" --no-audit --no-fund --loglevel=error \
      "@anthropic-ai/claude-code@$claude_code_version"
  fi
  claude="$(claude_code_find "$scratch")"
  [ -n "$claude" ] || { echo "no native Claude Code program in $scratch"; exit 1; }
  echo "Claude Code $claude_code_version: $claude"
}

# messages_api_start <dir>: the stand-in Messages API on loopback, logging to <dir>;
# sets $api (its base URL) and $api_pid. Fails when it does not come up.
messages_api_start() {
  node "$claude_code_support/fake_messages_api.mjs" --port-file "$1/api.port" --log "$1/api-requests.jsonl" \
    >"$1/api.log" 2>&1 &
  api_pid=$!
  for _ in $(seq 1 100); do [ -s "$1/api.port" ] && break; sleep 0.1; done
  [ -s "$1/api.port" ] || return 1
  api="http://127.0.0.1:$(cat "$1/api.port")"
}

# messages_api_script <turns-json>: the stand-in's assistant turns from now on.
messages_api_script() {
  node -e "fetch('$api/__script',{method:'POST',body:process.argv[1]}).then(r=>process.exit(r.ok?0:1),()=>process.exit(1))" "$1"
}

# claude_code_skip_first_run <project-dir>: the state interactive Claude Code writes to
# ~/.claude.json once its first-run screens are answered (onboarding with its connection
# check, trust of <project-dir>, use of the environment's key, the notices), so it opens
# straight at its prompt.
claude_code_skip_first_run() {
  local key="${claude_code_offline_env[0]#ANTHROPIC_API_KEY=}"
  node -e 'const [file, dir, key, version] = process.argv.slice(1);
    require("fs").writeFileSync(file, JSON.stringify({
      hasCompletedOnboarding: true, lastReleaseNotesSeen: version, hasSeenAutoDefaultNotice: true,
      fullscreenUpsellSeenCount: 3, customApiKeyResponses: {approved: [key.slice(-20)], rejected: []},
      projects: {[dir]: {hasTrustDialogAccepted: true}}}, null, 2))' \
    "$HOME/.claude.json" "$1" "$key" "$claude_code_version"
}
