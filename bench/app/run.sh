#!/usr/bin/env bash
# Builds the release tree and measures the hook round trip: pv-hook-client through the
# application's socket against `perchwell hook` alone. Usage: bench/app/run.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target bench_hook_latency >/dev/null
exec build/default/bin/bench_hook_latency "${1:-300}"
