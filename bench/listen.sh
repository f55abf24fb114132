#!/bin/bash
# The pitch detector over generated signals from B0 to C8 (build/
# larkhorn_listen_bench: median and worst error in cents, wrong notes,
# dashes, time to the first reading, how far a plucked note's readings
# wander, CPU per second of sound), then the whole program listening in
# real time: the CPU time of `larkhorn --listen 10` on the test card
# capturing, in real time, a low E that larkhorn recorded (from a WAV file,
# so that making the sound costs nothing), as a share of one core. A
# benchmark: it reports figures, it does not pass or fail.
# Usage: bench/listen.sh [larkhorn binary...]   (default: builds
# build/larkhorn). Several binaries are measured side by side.
# RUNS=n sets how many real-time runs are averaged (default 3).
set -e
cd "$(dirname "$0")/.."
tools/install-deps time >/dev/null
./build.sh >/dev/null
cmake --build build --target larkhorn_listen_bench -j "$(nproc)" >/dev/null
binaries=("$@")
[ ${#binaries[@]} -eq 0 ] && binaries=(build/larkhorn)
runs=${RUNS:-3}
seconds=10

build/larkhorn_listen_bench

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A private home, so that only this configuration names the devices.
export HOME=$scratch XDG_CONFIG_HOME=$scratch
mkdir -p "$scratch/alsa"
build/larkhorn --note E2 $((seconds + 2)) "file:$scratch/e2.wav,wav" \
  >/dev/null
cat >"$scratch/alsa/asoundrc" <<CONF
pcm_type.larkhorn_test { lib "$PWD/build/libasound_module_pcm_larkhorn_test.so" }
pcm.guitar { type larkhorn_test realtime true wav "$scratch/e2.wav" }
CONF

echo
printf '%-28s %8s %8s %8s\n' "real time, $seconds s" cpu_s cpu_% readings
for binary in "${binaries[@]}"; do
  cpu=0
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%U %S' -o "$scratch/time" "$binary" --listen $seconds \
      guitar >"$scratch/out"
    read -r user sys <"$scratch/time"
    cpu=$(awk -v a="$cpu" -v u="$user" -v s="$sys" 'BEGIN { print a + u + s }')
  done
  awk -v b="$binary" -v c="$cpu" -v n="$runs" -v s="$seconds" \
    -v r="$(grep -c E2 "$scratch/out")" 'BEGIN {
      if (length(b) > 28) b = "..." substr(b, length(b) - 24)
      printf "%-28s %8.3f %8.2f %8d\n", b, c / n, 100 * c / n / s, r }'
done
