#!/bin/bash
# Whole-process cost of one-shot tones of 8 s and 120 s played into ALSA's
# null device: wall time, CPU time and peak resident memory per run, the
# peak memory per frame of the tone, the CPU time as a ratio to sox making
# the same tone (stereo signed 24-bit at 44100 Hz, 25 % volume) into the same
# device in the same run, and for 120 s a bright B0 with F#1 and B1 sounding
# with it, its CPU time as a ratio to the same binary's 120 s sine (x_sine).
# Usage: bench/process.sh [larkhorn binary...]   (default: builds
# build/larkhorn). Several binaries, e.g. before and after a change, are
# measured side by side.
# RUNS=n sets how many runs each figure is averaged over (default 20).
set -e
cd "$(dirname "$0")/.."
tools/install-deps time sox >/dev/null
binaries=("$@")
if [ ${#binaries[@]} -eq 0 ]; then
  ./build.sh >/dev/null
  binaries=(build/larkhorn)
fi
runs=${RUNS:-20}
rate=44100
# A private home, so no user ALSA configuration redefines the devices.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home

# Runs the command given RUNS times and prints its wall, user and system
# seconds and peak kB. GNU time counts in hundredths of a second, so one
# timing covers all runs.
measure() {
  /usr/bin/time -f '%e %U %S %M' -o "$home/time" bash -c '
    n=$1; shift
    for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1; done' - "$runs" "$@"
  cat "$home/time"
}

printf '%-13s %-24s %8s %8s %8s %8s %9s %11s %7s %7s\n' tone program \
  wall_ms cpu_ms user_ms sys_ms peak_kB bytes/frame x_sox x_sine
# Prints a row: tone label, program, frames, wall, user, sys, peak kB, and
# the CPU seconds of sox's and of the sine's runs.
row() {
  awk -v t="$1" -v p="$2" -v f="$3" -v n="$runs" -v w="$4" -v u="$5" \
    -v y="$6" -v k="$7" -v x="$8" -v s="$9" '
    BEGIN {
      if (length(p) > 24) p = "..." substr(p, length(p) - 20)
      printf "%-13s %-24s %8.1f %8.1f %8.1f %8.1f %9d %11.2f %7.2f %7.2f\n",
        t, p, w * 1000 / n, (u + y) * 1000 / n, u * 1000 / n,
        y * 1000 / n, k, k * 1024 / f, (u + y) / x, (u + y) / s }'
}
for seconds in 8 120; do
  frames=$((rate * seconds))
  read -r wall user sys peak < <(measure sox -q -n -r "$rate" -c 2 -b 24 \
    -e signed -t alsa null synth "$seconds" sine 440 vol 0.25)
  soxCpu=$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')
  row "$seconds s sine" sox "$frames" "$wall" "$user" "$sys" "$peak" \
    "$soxCpu" "$soxCpu"
  echo "sox $frames $peak" >>"$home/peaks"
  for program in "${binaries[@]}"; do
    read -r wall user sys peak < <(measure "$program" 440 "$seconds" null)
    sineCpu=$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')
    row "$seconds s sine" "$program" "$frames" "$wall" "$user" "$sys" \
      "$peak" "$soxCpu" "$sineCpu"
    echo "$program $frames $peak" >>"$home/peaks"
    # Only where the binary has timbres.
    if [ "$seconds" = 120 ] && "$program" --help | grep -q -- --timbre; then
      read -r wall user sys peak < <(measure "$program" --timbre bright \
        --with F#1,B1 --note B0 "$seconds" null)
      row "$seconds s bright" "$program" "$frames" "$wall" "$user" "$sys" \
        "$peak" "$soxCpu" "$sineCpu"
    fi
  done
done
# What each further frame costs: the slope of peak memory over frame count.
awk '{ if ($1 in f) printf "%s: peak memory per extra frame (8 s -> 120 s): " \
  "%.2f bytes\n", $1, ($3 - k[$1]) * 1024 / ($2 - f[$1]); f[$1] = $2
  k[$1] = $3 }' "$home/peaks"
