#!/usr/bin/env bash
# Load on the local API against a reference server, in one run, loopback only:
#   wrk on GET /health and on an authenticated GET /api/state of `perchwell --headless`,
#   then on nginx (from the distribution, one worker, keep-alive off so every answer says
#   "Connection: close" as ours do) serving the same fixed JSON body. The two compared runs
#   alternate for a few rounds under the same background load (the probe below), and their
#   medians are compared, so that a neighbour's burst on a shared machine does not decide.
# Usage: bench/api/run.sh [seconds per run, default 10] [connections, default 16] [rounds, default 3]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/deps.sh
perchwell_install_missing "${PERCHWELL_BENCH_PACKAGES[@]}"

seconds="${1:-10}"
connections="${2:-16}"
rounds="${3:-3}"
bin="$PWD/build/default/bin"
if [ ! -x "$bin/perchwell" ] || [ ! -x "$bin/pv-token" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target perchwell perchwell_desktop pv-token
fi
nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"

home="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$home"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
wait_for() {
  for _ in $(seq 1 100); do
    curl -fs "http://127.0.0.1:$1/health" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "nothing answers on port $1" >&2
  return 1
}

# Perchwell, headless, in a temporary HOME with the local API on.
api_port="$(free_port)"
mkdir -p "$home/.config/perchwell"
printf '{"pv.mcpEnabled": true, "pv.mcpPort": %s}\n' "$api_port" >"$home/.config/perchwell/defaults.json"
(
  export HOME="$home"
  unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_RUNTIME_DIR CLAUDE_CONFIG_DIR DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
  exec "$bin/perchwell" --headless --uitesting >"$home/perchwell.log" 2>&1
) &
pids+=($!)
wait_for "$api_port"
token="$(HOME="$home" XDG_DATA_HOME= XDG_CONFIG_HOME= DBUS_SESSION_BUS_ADDRESS= XDG_RUNTIME_DIR= "$bin/pv-token")"

# nginx with the same body.
ref_port="$(free_port)"
mkdir -p "$home/nginx"
cat >"$home/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $home/nginx/nginx.pid;
error_log $home/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $home/nginx/body;
  proxy_temp_path $home/nginx/proxy;
  fastcgi_temp_path $home/nginx/fastcgi;
  uwsgi_temp_path $home/nginx/uwsgi;
  scgi_temp_path $home/nginx/scgi;
  server {
    listen 127.0.0.1:$ref_port;
    location / {
      default_type application/json;
      return 200 '{"ok":true,"version":"0.1.1"}';
    }
  }
}
CONF
"$nginx_bin" -p "$home/nginx" -c "$home/nginx/nginx.conf" &
pids+=($!)
wait_for "$ref_port"

run() {
  local name="$1" url="$2"
  shift 2
  echo "=== $name: $url (${seconds}s, $connections connections)"
  wrk -t1 -c"$connections" -d"${seconds}s" --latency "$@" "$url" | tee "$home/$name.wrk"
}
summary() {
  local name="$1"
  awk -v n="$name" '/Requests\/sec/ {rps=$2} /^    Latency/ {avg=$2} /^     50%/ {p50=$2} /^     99%/ {p99=$2}
    END {printf "%-22s %10s req/s   avg %-9s p50 %-9s p99 %s\n", n, rps, avg, p50, p99}' "$home/$name.wrk"
}

# The mascot and the tray share the server's event loop: while the load runs, a probe
# asks every 100 ms and records how long one answer takes, as the loop's responsiveness.
probe() {
  while :; do
    curl -s -o /dev/null -w '%{time_total}\n' "http://127.0.0.1:$api_port/health" >>"$home/probe.txt" || true
    sleep 0.1
  done
}

run perchwell-health "http://127.0.0.1:$api_port/health"
probe &
probe_pid=$!
pids+=("$probe_pid")
for round in $(seq 1 "$rounds"); do
  run "perchwell-api-state-$round" "http://127.0.0.1:$api_port/api/state" -H "Authorization: Bearer $token"
  run "nginx-reference-$round" "http://127.0.0.1:$ref_port/health"
done
kill "$probe_pid" 2>/dev/null || true

median_rps() {
  for round in $(seq 1 "$rounds"); do awk '/Requests\/sec/ {print $2}' "$home/$1-$round.wrk"; done |
    sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'
}

echo
echo "=== summary (loopback, Connection: close on every answer)"
summary perchwell-health
for round in $(seq 1 "$rounds"); do
  summary "perchwell-api-state-$round"
  summary "nginx-reference-$round"
done
ours="$(median_rps perchwell-api-state)"
reference="$(median_rps nginx-reference)"
awk -v a="$ours" -v b="$reference" -v n="$rounds" 'BEGIN {printf "median of %d rounds: authenticated /api/state %.0f req/s, nginx %.0f req/s: %.0f%% of the reference (target: at least 80%%)\n", n, a, b, 100*a/b}'
sort -n "$home/probe.txt" | awk '{v[NR]=$1} END {if (NR) printf "event loop under load: %d probes, median %.1f ms, max %.1f ms per answer\n", NR, 1000*v[int((NR+1)/2)], 1000*v[NR]}'
grep -c 'recv\|sendRaw\|accept' "$home/perchwell.log" >/dev/null && echo "server log warnings:" && grep 'recv\|sendRaw\|accept' "$home/perchwell.log" | sort | uniq -c | head || true
