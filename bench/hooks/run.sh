#!/usr/bin/env bash
# Whole-process latency of `perchwell hook` against a no-op program that reads stdin
# and prints one line (the floor), for a 1 KB Bash input and a 1 MiB Write input.
# Uses the default build (./scripts/run.sh or cmake --build --preset default first).
#   bench/hooks/run.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/deps.sh
perchwell_install_missing hyperfine python3
runs=${1:-400}
bin=$PWD/build/default/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/hooks/make_inputs.py "$work"
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"

for input in bash-1k write-1m; do
  hyperfine --warmup 30 --runs "$runs" --style basic --export-json "$work/$input.json" \
    -n floor "$bin/bench_noop < $work/$input.json" \
    -n "perchwell hook" "$bin/perchwell hook < $work/$input.json" >/dev/null
  python3 - "$work/$input.json" "$input" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
med = {r["command"]: r["median"] * 1000 for r in results}
floor, hook = med["floor"], med["perchwell hook"]
print(f"{sys.argv[2]:9s} floor median {floor:6.3f} ms   perchwell hook median {hook:6.3f} ms   ratio {hook / floor:4.2f}x")
PY
done
