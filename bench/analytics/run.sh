#!/bin/sh
# Token reports on a generated 500 MB transcript tree (40 projects, 1,000 sessions, split
# assistant messages, sub-agent files): `perchwell usage daily --json` beside
# `ccusage daily --json --offline` (npm, installed into a scratch directory), both with
# TZ=UTC on the same tree. Compares the per-day totals and reports wall time and peak RSS,
# then the Trace engine's reload after a 1 MB append and its whole-tree searches.
#
#   bench/analytics/run.sh [build-dir] [bytes]
set -eu
cd "$(dirname "$0")/../.."
BUILD=${1:-build/default}
BYTES=${2:-524288000}
CCUSAGE_VERSION=${CCUSAGE_VERSION:-18.0.11} # later releases need Node 22 or a native binary
WORK=$(mktemp -d /tmp/pw-analytics-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

cmake --build "$BUILD" --target perchwell analytics_bench >/dev/null
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (package time)"; exit 1; }

echo "== generating $BYTES bytes of transcripts"
mkdir -p "$WORK/claude/projects"
"$BUILD/bin/analytics_bench" generate "$WORK/claude/projects" "$BYTES" 1000 40 >"$WORK/expected.json"
du -sh "$WORK/claude/projects"

echo "== installing ccusage@$CCUSAGE_VERSION"
npm install --silent --no-audit --no-fund --prefix "$WORK/npm" "ccusage@$CCUSAGE_VERSION" >/dev/null
CCUSAGE="$WORK/npm/node_modules/.bin/ccusage"

# Warm the page cache so both read from memory.
cat $(find "$WORK/claude/projects" -name '*.jsonl') >/dev/null

measure() { # name, output, command...
  name=$1; out=$2; shift 2
  TZ=UTC CLAUDE_CONFIG_DIR="$WORK/claude" /usr/bin/time -v "$@" >"$out" 2>"$WORK/$name.time"
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/$name.time")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/$name.time")
  echo "$name: wall $wall, peak RSS $((rss / 1024)) MB"
}
measure perchwell "$WORK/perchwell.json" "$BUILD/bin/perchwell" usage daily --json
measure ccusage "$WORK/ccusage.json" "$CCUSAGE" daily --json --offline

echo "== per-day totals"
node -e '
const fs = require("fs");
const [ours, theirs, expected] = process.argv.slice(1).map(f => JSON.parse(fs.readFileSync(f, "utf8")));
const day = d => new Date(d.day * 86400000).toISOString().slice(0, 10);
const want = new Map(expected.daily.map(d => [day(d), d.totalTokens]));
const a = new Map(ours.daily.map(d => [d.date, d.totalTokens]));
const b = new Map(theirs.daily.map(d => [d.date, d.totalTokens]));
let bad = 0;
for (const k of new Set([...a.keys(), ...b.keys(), ...want.keys()])) {
  if (a.get(k) !== b.get(k) || a.get(k) !== want.get(k)) {
    bad++;
    console.log(`  ${k}: perchwell ${a.get(k)}, ccusage ${b.get(k)}, written ${want.get(k)}`);
  }
}
console.log(`${a.size} days, total perchwell ${ours.totals.totalTokens}, ccusage ${theirs.totals.totalTokens}, written ${expected.totalTokens}`);
console.log(bad === 0 ? "per-day totals: equal" : `per-day totals: ${bad} days differ`);
process.exitCode = bad === 0 ? 0 : 1;
' "$WORK/perchwell.json" "$WORK/ccusage.json" "$WORK/expected.json"

echo "== Trace engine (reload after a 1 MB append, whole-tree search)"
FILE=$(find "$WORK/claude/projects" -maxdepth 2 -name '*.jsonl' | head -1)
"$BUILD/bin/analytics_bench" trace "$WORK/claude/projects" "$FILE"
