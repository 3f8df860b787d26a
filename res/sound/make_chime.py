#!/usr/bin/env python3
"""Synthesizes Halvory's default chime, "Orvel.mp3": a short, soft bell.

A struck bell is a handful of partials that are not whole multiples of the
lowest one, each dying away exponentially, the high ones sooner. The wave is
computed here sample by sample, written as a 16-bit WAV and encoded with lame,
so the chime is ours and comes out the same on every build.

    make_chime.py OUT.mp3 [--wav OUT.wav]
"""
import argparse
import math
import os
import struct
import subprocess
import sys
import tempfile
import wave

RATE = 44100
SECONDS = 2.4
BASE_HZ = 784.0     # G5: bright enough to be noticed, not shrill

# (frequency ratio, relative amplitude, decay time constant in seconds):
# a hum an octave below, the strike tone, a minor third and a fifth above
# it, the octave, and two inharmonic upper partials that give the metal.
PARTIALS = [
    (0.5, 0.30, 1.10),
    (1.0, 1.00, 0.75),
    (1.19, 0.35, 0.45),
    (1.5, 0.25, 0.40),
    (2.0, 0.45, 0.30),
    (2.76, 0.18, 0.16),
    (4.07, 0.10, 0.09),
]
ATTACK = 0.004      # seconds of rise: no click at the strike
RELEASE = 0.15      # the last moments fade to silence
PEAK = 0.6          # of full scale, leaving room for the encoder


def samples():
    count = int(RATE * SECONDS)
    raw = []
    for i in range(count):
        t = i / RATE
        v = 0.0
        for ratio, amp, tau in PARTIALS:
            v += amp * math.exp(-t / tau) * math.sin(2 * math.pi * BASE_HZ * ratio * t)
        if t < ATTACK:
            v *= t / ATTACK
        left = SECONDS - t
        if left < RELEASE:
            v *= left / RELEASE
        raw.append(v)
    top = max(abs(v) for v in raw) or 1.0
    return [int(round(v / top * PEAK * 32767)) for v in raw]


def write_wav(path, data):
    with wave.open(path, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack('<%dh' % len(data), *data))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('out')
    parser.add_argument('--wav', help='also keep the WAV here')
    args = parser.parse_args()
    data = samples()
    with tempfile.TemporaryDirectory() as tmp:
        wav = args.wav or os.path.join(tmp, 'chime.wav')
        write_wav(wav, data)
        # Written aside and moved: a half-written file must never look built.
        part = args.out + '.part'
        subprocess.check_call(['lame', '--quiet', '--noreplaygain', '-m', 'm', '-b', '128',
                               wav, part])
        os.replace(part, args.out)
    return 0


if __name__ == '__main__':
    sys.exit(main())
