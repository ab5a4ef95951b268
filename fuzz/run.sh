#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while (default 60 s).
#   fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in build/fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  mkdir -p "$work/$name"
  seeds="fuzz/seeds/$name"
  echo "=== $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 -artifact_prefix="$work/" \
      "$work/$name" $( [ -d "$seeds" ] && echo "$seeds" ) >"$work/$name.log" 2>&1; then
    grep -E "^stat::(number_of_executed_units|peak_rss_mb)" "$work/$name.log"
  else
    status=1
    tail -40 "$work/$name.log"
    cp "$work"/crash-* . 2>/dev/null && echo "crash input copied to $PWD"
  fi
done
exit $status
