#!/usr/bin/env bash
# Whole-process latency of `perchwell hook` against the floor (a C no-op that reads
# stdin and prints one line) for a 1 KB and a 1 MiB input, and the hook socket's
# per-request latency with 64 idle connections open. Builds the release tree first.
#   bench/hooks/run.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target bench_hook_startup bench_socket_load >/dev/null
build/default/bin/bench_hook_startup "${1:-300}"
build/default/bin/bench_socket_load
