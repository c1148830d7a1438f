#!/usr/bin/env python3
"""Writes the DI guitar phrase the editor plays through an impulse response
before it goes into the unit: a short riff (a strummed power chord, palm-muted
eighths, two more chords and a single-note line) from a plucked-string model,
the way a guitar straight into an interface sounds (no amp, no cabinet).

The model is an extended Karplus-Strong string per note: a noise pluck shaped
by the picking position, a delay line tuned with a first-order all-pass, a
two-point loss filter whose loss sets the decay, a palm mute as a much
shorter decay; then the pickup's position comb and its resonance with the
cable. Random numbers come from one generator with a fixed seed and every
step is plain double arithmetic, so every run writes the same bytes.

Usage: make_di_phrase.py [OUT.wav]   (default: the bundle's data/audition/)
"""
import math
import os
import random
import struct
import sys

RATE = 48000
SEED = 19
PEAK_DBFS = -6.0
DEFAULT_OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bundle", "html",
                           "data", "audition", "di-phrase.wav")

E2, G2, A2, B2 = 82.407, 97.999, 110.0, 123.471
D3, E3, G3, A3, B3 = 146.832, 164.814, 195.998, 220.0, 246.942
D4, E4 = 293.665, 329.628


def pluck(rng, freq, seconds, decay, brightness, pick=0.18, level=1.0):
    """One plucked string: `decay` is the time to fall by 60 dB, `brightness`
    (0..1) how sharp the pick is."""
    n_total = int(seconds * RATE)
    period = RATE / freq
    # The loop's delay: whole samples, the two-point filter's half sample,
    # and the rest in the all-pass.
    whole = int(period - 0.5)
    frac = period - 0.5 - whole
    if frac < 0.1:
        whole -= 1
        frac += 1.0
    ap = (1.0 - frac) / (1.0 + frac)
    # Loss per period for the decay asked for.
    loss = 10.0 ** (-3.0 * period / (decay * RATE))
    # The pluck: noise, smoothed by how soft the pick is, with the notch of
    # the picking position.
    smooth = 1.0 - brightness
    line = [0.0] * whole
    prev = 0.0
    for i in range(whole):
        prev = (1.0 - smooth) * rng.uniform(-1.0, 1.0) + smooth * prev
        line[i] = prev
    notch = max(1, int(pick * whole))
    line = [line[i] - (line[i - notch] if i >= notch else 0.0) for i in range(whole)]
    mean = sum(line) / whole
    line = [v - mean for v in line]
    out = [0.0] * n_total
    idx = 0
    last = 0.0
    ap_x = 0.0
    ap_y = 0.0
    for t in range(n_total):
        x = line[idx]
        # Two-point loss filter, then the tuning all-pass.
        y = loss * 0.5 * (x + last)
        last = x
        a = ap * (y - ap_y) + ap_x
        ap_x = y
        ap_y = a
        line[idx] = a
        idx += 1
        if idx == whole:
            idx = 0
        out[t] = level * x
    return out


def pickup(samples):
    """The bridge pickup's position comb and its resonance with the cable
    (about 3.2 kHz), a second-order low-pass."""
    delay = int(0.00045 * RATE)
    combed = [samples[i] - 0.45 * (samples[i - delay] if i >= delay else 0.0)
              for i in range(len(samples))]
    w = 2.0 * math.pi * 3200.0 / RATE
    q = 1.6
    alpha = math.sin(w) / (2.0 * q)
    c = math.cos(w)
    b0 = (1.0 - c) / 2.0
    b1 = 1.0 - c
    a0 = 1.0 + alpha
    a1 = -2.0 * c
    a2 = 1.0 - alpha
    x1 = x2 = y1 = y2 = 0.0
    out = []
    for x in combed:
        y = (b0 * x + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2) / a0
        x2, x1, y2, y1 = x1, x, y1, y
        out.append(y)
    return out


def phrase(rng):
    beat = 0.5  # 120 beats a minute
    notes = []  # (start, freq, length, decay, brightness, level)

    def chord(start, freqs, length, decay=2.5, level=0.8, spread=0.009):
        for k, f in enumerate(freqs):
            notes.append((start + k * spread, f, length, decay, 0.7, level))

    chord(0.0, [E2, B2, E3], 2 * beat)
    # Palm-muted eighths on the low string.
    for k in range(4):
        notes.append((2 * beat + k * beat / 2, E2, beat / 2, 0.09, 0.5, 0.9))
    chord(4 * beat, [G2, D3, G3], beat)
    chord(5 * beat, [A2, E3, A3], beat)
    # A single-note line, ending on a ringing E.
    for k, f in enumerate([E3, G3, A3, B3, D4]):
        notes.append((6 * beat + k * beat / 4, f, beat / 4 + 0.03, 1.2, 0.8, 0.7))
    notes.append((6 * beat + 5 * beat / 4, E4, 1.2, 2.2, 0.8, 0.75))
    length = max(s + n for s, _, n, _, _, _ in notes) + 0.15
    mix = [0.0] * int(length * RATE)
    for start, freq, dur, decay, brightness, level in notes:
        voice = pluck(rng, freq, dur, decay, brightness, level=level)
        # A short release where the note is stopped.
        fade = min(len(voice), int(0.012 * RATE))
        for i in range(fade):
            voice[len(voice) - fade + i] *= 1.0 - (i + 1) / fade
        at = int(start * RATE)
        for i, v in enumerate(voice):
            if at + i < len(mix):
                mix[at + i] += v
    return pickup(mix)


def write_wav(path, samples):
    peak = max(abs(v) for v in samples) or 1.0
    scale = (10.0 ** (PEAK_DBFS / 20.0)) * 32767.0 / peak
    data = b"".join(struct.pack("<h", max(-32768, min(32767, int(round(v * scale)))))
                    for v in samples)
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16))
        f.write(b"data" + struct.pack("<I", len(data)) + data)


def main(argv):
    out = argv[1] if len(argv) > 1 else DEFAULT_OUT
    write_wav(out, phrase(random.Random(SEED)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
