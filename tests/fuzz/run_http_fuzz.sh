#!/usr/bin/env bash
# Builds the HTTP request fuzz target with clang's libFuzzer and AddressSanitizer and
# runs it for a bounded time (default 60 s): ./tests/fuzz/run_http_fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
out=build/fuzz
mkdir -p "$out/corpus"
sources=(
  src/api/http_request.cpp src/api/http_response.cpp src/api/api_route.cpp src/api/api_types.cpp
  src/api/mcp_protocol.cpp src/common/utf8.cpp src/common/app_logger.cpp src/common/system_log.cpp
  src/hooks/review_policy_level.cpp src/workflow/session_card.cpp
)
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Isrc \
  tests/fuzz/http_request_fuzz.cpp "${sources[@]}" -lsimdjson -o "$out/http_request_fuzz"

# Seeds: a few well-formed requests.
printf 'GET /health HTTP/1.1\r\nHost: x\r\n\r\n' >"$out/corpus/health"
printf 'POST /mcp HTTP/1.1\r\nContent-Length: 46\r\n\r\n{"jsonrpc":"2.0","id":1,"method":"tools/list"}' >"$out/corpus/mcp"
printf 'POST /api/control HTTP/1.1\r\ncontent-length: +17\r\n\r\n{"action":"wave"}' >"$out/corpus/control"

"$out/http_request_fuzz" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 "$out/corpus"
