#!/usr/bin/env bash
# Builds the release tree and measures the hook command as Claude Code runs it
# (sh -c '<command>', 1 KB on a pipe) with the application running and not running,
# against sh -c <C no-op>, interleaved in one run.
#   bench/app/run.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target bench_hook_latency >/dev/null
exec build/default/bin/bench_hook_latency "${1:-300}"
