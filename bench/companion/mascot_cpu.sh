#!/usr/bin/env bash
# CPU use of the running application while the mascot animates, measured from
# /proc/<pid>/stat (utime + stime) over a window of N seconds after a warm-up.
# Usage: mascot_cpu.sh [path to perchwell] [seconds, default 30]
# Prints "perchwell cpu: X.XX % of one core over N s" (and the X server's share).
set -u
app=${1:-$(dirname "$0")/../../build/default/bin/perchwell}
seconds=${2:-30}

if [ -z "${PW_IN_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is needed"; exit 1; }
    PW_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$app" "$seconds"
fi

home=$(mktemp -d /tmp/pw-cpu.XXXXXX)
trap 'kill $pid 2>/dev/null; wait 2>/dev/null; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

"$app" --uitesting >"$home/app.log" 2>&1 &
pid=$!
sleep 3 # start-up and the first patrol glide are not the steady state

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
xserver=$(pgrep -n Xvfb)
hz=$(getconf CLK_TCK)
a0=$(ticks "$pid"); x0=$(ticks "$xserver"); t0=$(date +%s.%N)
sleep "$seconds"
a1=$(ticks "$pid"); x1=$(ticks "$xserver"); t1=$(date +%s.%N)

awk -v a="$((a1 - a0))" -v x="$((x1 - x0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" 'BEGIN {
    wall = t1 - t0
    printf "perchwell cpu: %.2f %% of one core over %.1f s\n", 100 * a / hz / wall, wall
    printf "Xvfb (drawing the frames, not part of the app): %.2f %% of one core\n", 100 * x / hz / wall
}'
