#!/bin/bash
# CPU time and voluntary context switches of playing a 10 s tone, beside
# aplay playing the same tone with the same period (1024) and buffer (2048):
# on the real-time test card, and on a private PulseAudio server when one is
# installed. Then underruns and stale frames (played past the last frame
# written; "sounding" counts those not silent) on the test card paced by
# period interrupts as real cards are, idle and beside two CPU-bound
# processes. Then held tones (--hold) on that card, idle and beside two
# CPU-bound processes: underruns, CPU and voluntary switches per second
# held beside aplay's, peak memory after 10 s and after 60 s held, and the
# time from a switch command in the console to the new pitch's first frame
# at the card (bench/switch_latency.py). A benchmark: it reports figures,
# it does not pass or fail.
# Usage: bench/playback.sh [larkhorn binary...]   (default: builds
# build/larkhorn). Several binaries, e.g. before and after a change, are
# measured side by side.
# RUNS=n sets how many runs of each are averaged (default 3).
set -e
cd "$(dirname "$0")/.."
tools/install-deps time alsa-utils python3 >/dev/null
./build.sh >/dev/null
binaries=("$@")
[ ${#binaries[@]} -eq 0 ] && binaries=(build/larkhorn)
runs=${RUNS:-3}
seconds=10
scratch=$(mktemp -d)
server=""
hogs=()
stop_hogs() {
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
  hogs=()
}
cleanup() {
  stop_hogs
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
pcm.periods { type larkhorn_test period_interrupts true log "$scratch/card.log" }
pcm.switching { type larkhorn_test period_interrupts true
  record "$scratch/switch.raw" log "$scratch/switch.log" }
CONF
tone=$scratch/tone.wav
"${binaries[0]}" 440 $seconds "file:$tone,wav" >/dev/null

# Runs "$@" $runs times and prints the sums of: user+system seconds,
# voluntary switches, underruns reported, frames played past the last one
# written, and how many of those were not silent.
measure() {
  local cpu=0 switches=0 underruns=0 past=0 sounding=0 user sys vol
  for ((i = 0; i < runs; i++)); do
    rm -f "$scratch/card.log"
    /usr/bin/time -f '%U %S %w' -o "$scratch/time" "$@" >"$scratch/out" \
      2>"$scratch/err" || true
    read -r user sys vol <"$scratch/time"
    cpu=$(awk -v a="$cpu" -v u="$user" -v s="$sys" 'BEGIN { print a + u + s }')
    switches=$((switches + vol))
    # larkhorn prints RX, aplay "underrun!!!".
    underruns=$((underruns + $(cat "$scratch/out" "$scratch/err" |
      grep -c -e '^RX$' -e 'underrun!!!' || true)))
    if [ -f "$scratch/card.log" ]; then
      read -r p s < <(sed -n 's/.*written=\([0-9]*\) sounding=\([0-9]*\)/\1 \2/p' \
        "$scratch/card.log")
      past=$((past + ${p:-0}))
      sounding=$((sounding + ${s:-0}))
    fi
  done
  echo "$cpu $switches $underruns $past $sounding"
}

aplay_on() {
  echo aplay -q -D "$1" --period-size=1024 --buffer-size=2048 "$tone"
}

# CPU and switches of each binary and of aplay on a device.
report() {
  local device=$1 label=$2 binary
  read -r acpu asw _ < <(measure $(aplay_on "$device"))
  for binary in "${binaries[@]}"; do
    read -r lcpu lsw _ < <(measure "$binary" 440 $seconds "$device")
    awk -v d="$label" -v b="$binary" -v n="$runs" -v lc="$lcpu" -v ls="$lsw" \
      -v ac="$acpu" -v as="$asw" 'BEGIN {
        printf "%-12s %-28s %8.3f %8d %8.3f %8d %7.2f %7.2f\n", d, b, lc / n,
          ls / n, ac / n, as / n, lc / ac, ls / as }'
  done
}

# Underruns and stale frames, per run, on the period-interrupt card.
report_periods() {
  local label=$1 player
  for player in aplay "${binaries[@]}"; do
    if [ "$player" = aplay ]; then
      read -r cpu sw under past sounding < <(measure $(aplay_on periods))
    else
      read -r cpu sw under past sounding < <(measure "$player" 440 $seconds \
        periods)
    fi
    awk -v d="$label" -v b="$player" -v n="$runs" -v c="$cpu" -v s="$sw" \
      -v u="$under" -v p="$past" -v q="$sounding" 'BEGIN {
        printf "%-12s %-28s %8.1f %8.1f %8.1f %8.3f %8d\n", d, b, u / n,
          p / n, q / n, c / n, s / n }'
  done
}

printf '%-12s %-28s %8s %8s %8s %8s %7s %7s\n' device binary cpu_s vcsw \
  aplay_s aplay_sw x_cpu x_vcsw
report card card
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
  report pulse pulse
else
  echo "pulse: PulseAudio is not installed"
fi

echo
printf '%-12s %-28s %8s %8s %8s %8s %8s\n' periods player underruns \
  past sounding cpu_s vcsw
report_periods idle
for _ in 1 2; do
  (while :; do :; done) &
  hogs+=($!)
done
report_periods "2 busy"
stop_hogs

# A held tone for $1 seconds, ended by SIGINT: user+system seconds,
# voluntary switches, underruns reported and peak resident memory (KB).
held() {
  local secs=$1 binary=$2 user sys vol rss
  /usr/bin/time -f '%U %S %w %M' -o "$scratch/time" timeout -s INT "$secs" \
    "$binary" --hold --device periods 440 >"$scratch/out" 2>"$scratch/err" ||
    true
  read -r user sys vol rss < <(tail -n 1 "$scratch/time")
  echo "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $vol" \
    "$(grep -c '^RX$' "$scratch/out" || true) $rss"
}

# Per second held, beside aplay's per second of its 10 s file.
report_held() {
  local label=$1 binary cpu sw under rss
  read -r acpu asw aunder _ < <(measure $(aplay_on periods))
  for binary in "${binaries[@]}"; do
    for ((i = 0; i < runs; i++)); do
      read -r cpu sw under rss < <(held $seconds "$binary")
      awk -v d="$label" -v b="$binary" -v n="$runs" -v c="$cpu" -v s="$sw" \
        -v u="$under" -v m="$rss" -v ac="$acpu" -v as="$asw" -v au="$aunder" \
        -v t="$seconds" 'BEGIN {
          printf "%-8s %-22s %5d %6.1f %8.4f %8.1f %8.4f %8.1f %7.2f %7.2f %7d\n",
            d, b, u, au / n, c / t, s / t, ac / n / t, as / n / t,
            c / (ac / n), s / (as / n), m }'
    done
  done
}

echo
printf '%-8s %-22s %5s %6s %8s %8s %8s %8s %7s %7s %7s\n' held binary \
  under aplay cpu_s/s vcsw/s aplay_c/s aplay_w/s x_cpu x_vcsw rss_kb
report_held idle
for _ in 1 2; do
  (while :; do :; done) &
  hogs+=($!)
done
report_held "2 busy"
stop_hogs

echo
echo "peak resident memory (KB) held 10 s and 60 s:"
for binary in "${binaries[@]}"; do
  read -r _ _ _ rss10 < <(held 10 "$binary")
  read -r _ _ _ rss60 < <(held 60 "$binary")
  echo "$binary $rss10 $rss60"
done

echo
echo "switch command to the new pitch's first frame at the card (ms), and"
echo "frames between the old tone's whole cycle end and the switch (0: none):"
for binary in "${binaries[@]}"; do
  python3 bench/switch_latency.py "$binary" switching "$scratch/switch.raw" \
    "$scratch/switch.log" "$runs" | sed "s|^|$binary |"
done
