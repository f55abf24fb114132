#!/bin/bash
# Whole-process cost of one-shot tones of 8 s and 120 s played into ALSA's
# null device: wall time, CPU time and peak resident memory per run, and the
# peak memory per frame of the tone.
# Usage: bench/process.sh [larkhorn binary]   (default: builds build/larkhorn)
# RUNS=n sets how many runs each figure is averaged over (default 20).
set -e
cd "$(dirname "$0")/.."
tools/install-deps time >/dev/null
binary=$1
if [ -z "$binary" ]; then
  ./build.sh >/dev/null
  binary=build/larkhorn
fi
runs=${RUNS:-20}
rate=44100
# A private home, so no user ALSA configuration redefines the devices.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home

printf '%-6s %8s %8s %8s %8s %8s %9s %11s\n' tone frames wall_ms cpu_ms \
  user_ms sys_ms peak_kB bytes/frame
for seconds in 8 120; do
  frames=$((rate * seconds))
  # One timing over all runs: GNU time counts in hundredths of a second.
  /usr/bin/time -f '%e %U %S %M' -o "$home/time" bash -c '
    for ((i = 0; i < $1; i++)); do "$2" 440 "$3" null >/dev/null; done' \
    - "$runs" "$binary" "$seconds"
  read -r wall user sys peak <"$home/time"
  awk -v s="$seconds" -v f="$frames" -v n="$runs" -v w="$wall" -v u="$user" \
    -v y="$sys" -v k="$peak" 'BEGIN {
      printf "%-6s %8d %8.1f %8.1f %8.1f %8.1f %9d %11.2f\n", s " s", f,
        w * 1000 / n, (u + y) * 1000 / n, u * 1000 / n, y * 1000 / n, k,
        k * 1024 / f }'
  echo "$frames $peak" >>"$home/peaks"
done
# What each further frame costs: the slope of peak memory over frame count.
awk 'NR == 1 { f = $1; k = $2 } NR == 2 {
  printf "peak memory per extra frame (8 s -> 120 s): %.2f bytes\n",
    ($2 - k) * 1024 / ($1 - f) }' "$home/peaks"
