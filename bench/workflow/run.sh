#!/usr/bin/env bash
# Back-fill benchmark of the workflow watcher over a generated transcript tree.
# Uses the binaries of build/default (build them first); writes only under a temporary
# directory, removed at the end. SIZE_MB (default 500), LARGEST_MB (120), APPENDS (200)
# and SEED (42) tune the run.
set -euo pipefail
cd "$(dirname "$0")/../.."
bench=build/default/bin/workflow_bench
[ -x "$bench" ] || { echo "build first: cmake --preset default && cmake --build --preset default" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (Debian package: time)" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pw-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
root="$tmp/projects"

echo "=== generating ${SIZE_MB:-500} MB (seed ${SEED:-42})"
python3 bench/workflow/generate_transcripts.py --out "$root" --total-mb "${SIZE_MB:-500}" \
  --largest-mb "${LARGEST_MB:-120}" --seed "${SEED:-42}"
bytes=$(find "$root" -name '*.jsonl' -printf '%s\n' | awk '{s += $1} END {print s}')
largest=$(find "$root" -name '*.jsonl' -printf '%s\n' | sort -n | tail -1)
echo "files: $(find "$root" -name '*.jsonl' | wc -l), bytes: $bytes, largest file: $largest"

seconds() { date +%s.%N; }
# Both cat and the back-fill read from the page cache: the tree was just written.
t0=$(seconds)
find "$root" -name '*.jsonl' -print0 | xargs -0 cat > /dev/null
t1=$(seconds)
echo "cat_mb_per_s=$(echo "$bytes $t0 $t1" | awk '{printf "%.1f", $1 / 1e6 / ($3 - $2)}')"

echo "=== back-fill"
/usr/bin/time -v "$bench" backfill "$root" "$tmp/data/workflow.db" 2> "$tmp/time.txt" | tee "$tmp/backfill.txt"
rss_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$tmp/time.txt")
echo "peak_rss_mb=$(awk -v k="$rss_kb" 'BEGIN {printf "%.1f", k / 1024}')"
# On a shared machine the wall clock depends on the other load; CPU time does not.
cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$tmp/time.txt")
echo "cpu_seconds=$cpu backfill_mb_per_cpu_s=$(awk -v b="$bytes" -v c="$cpu" 'BEGIN {printf "%.1f", b / 1e6 / c}')"
echo "load_average=$(cut -d' ' -f1-3 /proc/loadavg)"
echo "database_mb=$(du -m "$tmp/data/workflow.db" | cut -f1)"

echo "=== append-to-callback latency"
"$bench" latency "$root" "$tmp/data/workflow.db" "${APPENDS:-200}"
