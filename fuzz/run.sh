#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while (default 60 s).
#   fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for target in build/fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  mkdir -p "$corpus/$name"
  seeds="fuzz/seeds/$name"
  echo "=== $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 "$corpus/$name" \
    $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==ERROR)" || true
done
