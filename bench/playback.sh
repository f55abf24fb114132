#!/bin/bash
# CPU time and voluntary context switches of playing a 10 s tone, beside
# aplay playing the same tone with the same period (1024) and buffer (2048):
# on the real-time test card, and on a private PulseAudio server when one is
# installed. A benchmark: it reports figures, it does not pass or fail.
# Usage: bench/playback.sh [larkhorn binary]   (default: builds build/larkhorn)
# RUNS=n sets how many runs of each are averaged (default 3).
set -e
cd "$(dirname "$0")/.."
tools/install-deps time alsa-utils >/dev/null
./build.sh >/dev/null
binary=${1:-build/larkhorn}
runs=${RUNS:-3}
seconds=10
scratch=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
# A private home, so that only this configuration names the devices.
export HOME=$scratch XDG_CONFIG_HOME=$scratch XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$scratch/alsa" "$XDG_RUNTIME_DIR"
cat >"$scratch/alsa/asoundrc" <<CONF
pcm_type.larkhorn_test { lib "$PWD/build/libasound_module_pcm_larkhorn_test.so" }
pcm.card { type larkhorn_test realtime true }
CONF
tone=$scratch/tone.wav
"$binary" 440 $seconds "file:$tone,wav" >/dev/null

# Sums user+system seconds and voluntary switches over the runs of "$@".
measure() {
  local cpu=0 switches=0 user sys vol
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%U %S %w' -o "$scratch/time" "$@" >/dev/null 2>&1
    read -r user sys vol <"$scratch/time"
    cpu=$(awk -v a="$cpu" -v u="$user" -v s="$sys" 'BEGIN { print a + u + s }')
    switches=$((switches + vol))
  done
  echo "$cpu $switches"
}

report() {
  local device=$1
  read -r lcpu lsw < <(measure "$binary" 440 $seconds "$device")
  read -r acpu asw < <(measure aplay -q -D "$device" --period-size=1024 \
    --buffer-size=2048 "$tone")
  awk -v d="$device" -v n="$runs" -v lc="$lcpu" -v ls="$lsw" -v ac="$acpu" \
    -v as="$asw" 'BEGIN {
      printf "%-12s %8.3f %8d %8.3f %8d %7.2f %7.2f\n", d, lc / n, ls / n,
        ac / n, as / n, lc / ac, ls / as }'
}

printf '%-12s %8s %8s %8s %8s %7s %7s\n' device cpu_s vcsw aplay_s aplay_sw \
  x_cpu x_vcsw
report card
if command -v pulseaudio >/dev/null; then
  printf '%s\n' \
    "load-module module-native-protocol-unix socket=$scratch/native auth-anonymous=1" \
    "load-module module-null-sink sink_name=bench rate=44100 format=s24le channels=2" \
    >"$scratch/server.pa"
  echo "autospawn = no" >"$scratch/client.conf"
  export PULSE_CLIENTCONFIG=$scratch/client.conf PULSE_SERVER=unix:$scratch/native
  pulseaudio -n -F "$scratch/server.pa" --daemonize=no --exit-idle-time=-1 \
    >"$scratch/server.log" 2>&1 &
  server=$!
  for ((i = 0; i < 100; i++)); do
    [ -S "$scratch/native" ] && break
    sleep 0.1
  done
  report pulse
else
  echo "pulse: PulseAudio is not installed"
fi
