#!/usr/bin/env bash
# Runs the official MCP TypeScript SDK against `perchwell --headless` in a temporary
# HOME: installs the SDK (pinned) into a scratch folder of the build tree once, starts
# the application with the local API on, fetches the token with pv-token and runs
# mcp_sdk_client.mjs. Usage: mcp_sdk_test.sh <bin-dir> <scratch-dir>
set -euo pipefail
bin="$1"
scratch="$2"
here="$(cd "$(dirname "$0")" && pwd)"
sdk_version="1.32.2"

command -v node >/dev/null || { echo "node is missing (scripts/deps.sh installs it)"; exit 1; }
command -v npm >/dev/null || { echo "npm is missing (scripts/deps.sh installs it)"; exit 1; }

mkdir -p "$scratch"
installed="$(node -p "try { require('$scratch/node_modules/@modelcontextprotocol/sdk/package.json').version } catch { '' }")"
if [ "$installed" != "$sdk_version" ]; then
  [ -f "$scratch/package.json" ] || echo '{"name":"perchwell-mcp-sdk-test","private":true,"type":"module"}' >"$scratch/package.json"
  npm_config_cache="$scratch/.npm-cache" npm install --prefix "$scratch" --no-audit --no-fund --loglevel=error "@modelcontextprotocol/sdk@$sdk_version"
fi
cp "$here/mcp_sdk_client.mjs" "$scratch/"

home="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$home"
}
trap cleanup EXIT

# Everything the application and the token tool touch lives in the temporary HOME; no
# session bus, so the real keyring is never asked.
export HOME="$home"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_RUNTIME_DIR CLAUDE_CONFIG_DIR DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
port="$(node -e "const s=require('net').createServer().listen(0,'127.0.0.1',()=>{console.log(s.address().port);s.close()})")"
mkdir -p "$home/.config/perchwell"
printf '{"pv.mcpEnabled": true, "pv.mcpPort": %s}\n' "$port" >"$home/.config/perchwell/defaults.json"

"$bin/perchwell" --headless --uitesting >"$home/perchwell.log" 2>&1 &
pid=$!

ready=""
for _ in $(seq 1 100); do
  if node -e "fetch('http://127.0.0.1:$port/health').then(r=>process.exit(r.ok?0:1),()=>process.exit(1))"; then
    ready=1
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$ready" ]; then
  echo "the local API did not come up on port $port"
  cat "$home/perchwell.log"
  exit 1
fi

token="$("$bin/pv-token")"
status=0
node "$scratch/mcp_sdk_client.mjs" "http://127.0.0.1:$port/mcp" "$token" || status=$?
# The launch sequence handed the opened transcript store to the server.
if [ "$status" -eq 0 ]; then
  node -e "fetch('http://127.0.0.1:$port/api/sessions',{headers:{Authorization:'Bearer $token'}})
    .then(async r=>{const b=await r.text(); console.log('GET /api/sessions:', r.status, b); process.exit(r.status===200&&b==='{\"sessions\":[]}'?0:1)},
          e=>{console.error(e); process.exit(1)})" || status=$?
fi
if [ "$status" -ne 0 ]; then
  cat "$home/perchwell.log"
fi
exit "$status"
