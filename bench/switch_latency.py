#!/usr/bin/env python3
"""Time from a switch command to the new pitch's first frame at the card.

Runs larkhorn --hold in the console on a test card paced by period
interrupts that records every frame and logs each write with the time and
the frames played by then. Plays A4, types "e p" a second later (E5), ends.
The switch frame is the first recorded frame that is not the A4 sine's;
it is heard when the card, playing in real time from the write that held
it, reaches it. Prints one line per run: the latency in milliseconds and
the gap, in frames, between the last A4 frame and the switch frame's cycle
end (0: the new tone starts right after a whole cycle).
Usage: switch_latency.py BINARY DEVICE RECORDING LOG RUNS
"""
import math
import os
import re
import struct
import subprocess
import sys
import time

RATE = 44100
AMPLITUDE = 2097152.0  # 25 % of 2^23


def single(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def a4(i, step):
    return int(math.sin(i * step) * AMPLITUDE)


def frames(path):
    data = open(path, "rb").read()
    out = []
    for at in range(0, len(data) - 5, 6):  # stereo, the left channel
        v = data[at] | data[at + 1] << 8 | data[at + 2] << 16
        out.append(v - (1 << 24) if v & 0x800000 else v)
    return out


def run(binary, device, recording, log):
    for path in (recording, log):
        if os.path.exists(path):
            os.remove(path)
    player = subprocess.Popen([binary, "--hold", "--device", device],
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    player.stdin.write(b"p\n")
    player.stdin.flush()
    time.sleep(1.0)
    typed = time.monotonic()
    player.stdin.write(b"e p\n")
    player.stdin.flush()
    time.sleep(1.0)
    player.stdin.write(b"x\n")
    player.stdin.close()
    player.wait()
    step = single(440.0 * 2 * math.pi / RATE)
    played = frames(recording)
    switch = next(i for i, v in enumerate(played) if v != a4(i, step))
    period = RATE / 440.0
    whole = math.ceil(switch / period - 1e-9) * period
    writes = re.findall(r"write at=(\d+) frames=(\d+) played=(\d+) t=([\d.]+)",
                        open(log).read())
    for at, count, done, when in writes:
        if int(at) <= switch < int(at) + int(count):
            heard = float(when) + (switch - int(done)) / RATE
            return (heard - typed) * 1000, switch - int(whole)
    raise SystemExit("the switch frame was never written")


def main():
    binary, device, recording, log, runs = sys.argv[1:6]
    for _ in range(int(runs)):
        latency, gap = run(binary, device, recording, log)
        print("%.1f %d" % (latency, gap))


main()
