#!/usr/bin/env python3
"""Synthetic guitar-cabinet impulse responses for the factory sets.

Every response is built from a few simple parts: a direct impulse plus the
cabinet's reflections (a comb), a short burst of damped cone break-up modes
and a decaying noise tail, shaped by a chain of second-order filters (the
box's low resonance and cut, mid and presence peaks, the speaker's
high-frequency roll-off). Nothing here is measured from a real cabinet.

The output is deterministic: noise comes from a fixed-seed xorshift
generator, and samples are stored as 24-bit PCM, so the last-bit differences
of a maths library cannot reach the file.

Usage: synthetic_cabinets.py OUTPUT_FOLDER
"""
import math
import os
import struct
import sys
from dataclasses import dataclass, field

RATE = 48000
PEAK = 0.89  # about -1 dBFS
FADE_SECONDS = 0.02


class XorShift32:
    """Small deterministic noise source, independent of Python's random."""

    def __init__(self, seed: int):
        self.state = (seed & 0xFFFFFFFF) or 0x9E3779B9

    def next(self) -> float:
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x / 2147483648.0 - 1.0  # [-1, 1)


class Biquad:
    """Second-order section (audio EQ cookbook forms), direct form I."""

    def __init__(self, b, a):
        a0 = a[0]
        self.b = [c / a0 for c in b]
        self.a = [c / a0 for c in a]

    @staticmethod
    def _w(freq):
        w = 2.0 * math.pi * freq / RATE
        return math.cos(w), math.sin(w)

    @classmethod
    def lowpass(cls, freq, q):
        c, s = cls._w(freq)
        al = s / (2.0 * q)
        return cls([(1 - c) / 2, 1 - c, (1 - c) / 2], [1 + al, -2 * c, 1 - al])

    @classmethod
    def highpass(cls, freq, q):
        c, s = cls._w(freq)
        al = s / (2.0 * q)
        return cls([(1 + c) / 2, -(1 + c), (1 + c) / 2], [1 + al, -2 * c, 1 - al])

    @classmethod
    def peak(cls, freq, q, gain_db):
        c, s = cls._w(freq)
        al = s / (2.0 * q)
        g = 10.0 ** (gain_db / 40.0)
        return cls([1 + al * g, -2 * c, 1 - al * g], [1 + al / g, -2 * c, 1 - al / g])

    def run(self, x):
        b0, b1, b2 = self.b
        _, a1, a2 = self.a
        x1 = x2 = y1 = y2 = 0.0
        out = []
        for v in x:
            y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
            x2, x1, y2, y1 = x1, v, y1, y
            out.append(y)
        return out


@dataclass(frozen=True)
class Cabinet:
    name: str          # slot name, at most 32 characters
    slug: str          # file name part
    description: str
    seed: int
    seconds: float
    pre_delay_ms: float = 0.0
    # (delay in ms after the direct sound, gain): box, baffle and floor
    # reflections; a negative gain is the back wave of an open cabinet.
    reflections: tuple = ()
    # (frequency, decay in ms, level): cone break-up modes.
    modes: tuple = ()
    tail_ms: float = 20.0        # decay time constant of the noise tail
    tail_level: float = 0.03
    low_cut: tuple = (80.0, 1.2)          # high-pass frequency, Q (box resonance)
    peaks: tuple = ()                      # (frequency, Q, gain dB)
    roll_off: tuple = ((5000.0, 0.7),)    # low-pass sections (frequency, Q)


CABINETS = (
    Cabinet("SYN 1x12 Open Back", "1x12-open-back",
            "Synthetic 1x12 open-back combo, close mic: loose lows, open mids.",
            seed=1101, seconds=0.25,
            reflections=((0.42, -0.45), (1.3, 0.18), (2.6, -0.08)),
            modes=((2300.0, 1.2, 0.25), (3900.0, 0.8, 0.15)),
            tail_ms=18.0, tail_level=0.025, low_cut=(105.0, 0.9),
            peaks=((180.0, 1.0, 2.0), (1200.0, 1.2, 2.5), (2800.0, 2.0, 4.0)),
            roll_off=((5600.0, 0.75), (7400.0, 0.6))),
    Cabinet("SYN 1x12 Closed Back", "1x12-closed-back",
            "Synthetic 1x12 closed-back cabinet, close mic: tight low resonance.",
            seed=1202, seconds=0.25,
            reflections=((0.85, 0.32), (1.7, 0.14), (3.1, 0.06)),
            modes=((2500.0, 1.5, 0.2), (4200.0, 0.7, 0.12)),
            tail_ms=22.0, tail_level=0.03, low_cut=(95.0, 1.6),
            peaks=((350.0, 1.4, -2.0), (2500.0, 1.8, 3.5)),
            roll_off=((5200.0, 0.8), (6800.0, 0.6))),
    Cabinet("SYN 2x12 Open Back", "2x12-open-back",
            "Synthetic 2x12 open-back combo: two cones, wide and airy.",
            seed=2103, seconds=0.3,
            reflections=((0.11, 0.7), (0.48, -0.4), (0.6, -0.3), (1.9, 0.15)),
            modes=((2100.0, 1.4, 0.22), (3500.0, 1.0, 0.18)),
            tail_ms=25.0, tail_level=0.03, low_cut=(90.0, 1.0),
            peaks=((150.0, 1.2, 2.5), (900.0, 1.0, 1.5), (3000.0, 1.6, 3.0)),
            roll_off=((6000.0, 0.7), (7800.0, 0.6))),
    Cabinet("SYN 2x12 Closed Back", "2x12-closed-back",
            "Synthetic 2x12 closed-back cabinet: firm lows, focused mids.",
            seed=2204, seconds=0.3,
            reflections=((0.09, 0.75), (0.95, 0.3), (1.05, 0.25), (2.4, 0.1)),
            modes=((2400.0, 1.6, 0.2), (3800.0, 0.9, 0.14)),
            tail_ms=28.0, tail_level=0.035, low_cut=(88.0, 1.7),
            peaks=((110.0, 1.5, 2.0), (450.0, 1.2, -2.5), (2600.0, 1.6, 3.5)),
            roll_off=((5400.0, 0.8), (7000.0, 0.6))),
    Cabinet("SYN 4x12 Closed Back", "4x12-closed-back",
            "Synthetic 4x12 closed-back cabinet, close mic: deep thump, scooped mids.",
            seed=4105, seconds=0.35,
            reflections=((0.07, 0.8), (0.16, 0.6), (0.24, 0.45), (1.2, 0.35), (2.5, 0.15)),
            modes=((2200.0, 1.8, 0.22), (3300.0, 1.1, 0.16)),
            tail_ms=35.0, tail_level=0.04, low_cut=(82.0, 2.0),
            peaks=((100.0, 1.4, 3.0), (500.0, 0.9, -3.5), (2200.0, 1.5, 4.0)),
            roll_off=((5000.0, 0.85), (6200.0, 0.6))),
    Cabinet("SYN 4x12 Closed Far Mic", "4x12-closed-far-mic",
            "Synthetic 4x12 closed-back cabinet, mic a metre away: floor bounce, room.",
            seed=4206, seconds=0.45, pre_delay_ms=2.9,
            reflections=((0.07, 0.8), (0.16, 0.6), (1.2, 0.35), (3.4, 0.55), (6.8, 0.3),
                         (11.5, 0.2), (17.0, 0.12)),
            modes=((2200.0, 1.8, 0.15),),
            tail_ms=60.0, tail_level=0.06, low_cut=(80.0, 1.8),
            peaks=((100.0, 1.4, 2.0), (500.0, 0.9, -2.5), (2200.0, 1.5, 2.0)),
            roll_off=((4200.0, 0.8), (5800.0, 0.6))),
    Cabinet("SYN 4x12 Edge Mic", "4x12-edge-mic",
            "Synthetic 4x12 closed-back cabinet, mic off-axis at the cone edge: darker.",
            seed=4307, seconds=0.35, pre_delay_ms=0.25,
            reflections=((0.07, 0.8), (0.2, 0.55), (1.2, 0.35), (2.5, 0.15)),
            modes=((1800.0, 1.6, 0.18), (2700.0, 1.0, 0.1)),
            tail_ms=35.0, tail_level=0.04, low_cut=(80.0, 1.9),
            peaks=((110.0, 1.3, 3.0), (700.0, 1.0, -1.5), (1700.0, 1.4, 2.0)),
            roll_off=((3500.0, 0.8), (5000.0, 0.6))),
    Cabinet("SYN 4x10 Bright", "4x10-bright",
            "Synthetic 4x10 open cabinet: bright, snappy, little low end.",
            seed=4408, seconds=0.2,
            reflections=((0.06, 0.7), (0.13, 0.55), (0.4, -0.3), (1.5, 0.12)),
            modes=((3100.0, 1.0, 0.25), (5200.0, 0.6, 0.2)),
            tail_ms=15.0, tail_level=0.02, low_cut=(120.0, 0.9),
            peaks=((1500.0, 1.0, 2.0), (3600.0, 1.4, 5.0)),
            roll_off=((7500.0, 0.7), (9500.0, 0.6))),
    Cabinet("SYN 1x15 Dark", "1x15-dark",
            "Synthetic 1x15 closed cabinet: big low resonance, early high roll-off.",
            seed=1509, seconds=0.4,
            reflections=((1.1, 0.35), (2.2, 0.15), (3.6, 0.07)),
            modes=((1400.0, 2.0, 0.2), (2300.0, 1.2, 0.1)),
            tail_ms=40.0, tail_level=0.035, low_cut=(65.0, 1.9),
            peaks=((75.0, 1.6, 3.5), (800.0, 1.0, 1.5), (1600.0, 1.5, 2.0)),
            roll_off=((2800.0, 0.8), (3800.0, 0.6))),
    Cabinet("SYN 2x10 Small Combo", "2x10-small-combo",
            "Synthetic 2x10 small open-back combo: boxy mids, light lows.",
            seed=2010, seconds=0.2,
            reflections=((0.08, 0.65), (0.33, -0.5), (0.9, 0.2)),
            modes=((2700.0, 1.2, 0.22), (4400.0, 0.7, 0.15)),
            tail_ms=14.0, tail_level=0.02, low_cut=(135.0, 1.1),
            peaks=((600.0, 1.3, 3.5), (2400.0, 1.8, 3.0)),
            roll_off=((6200.0, 0.75), (8000.0, 0.6))),
    Cabinet("SYN 2x12 Room", "2x12-room",
            "Synthetic 2x12 closed-back cabinet in a small room: long, diffuse tail.",
            seed=2211, seconds=0.5, pre_delay_ms=1.6,
            reflections=((0.09, 0.75), (1.0, 0.3), (2.3, 0.45), (4.9, 0.35), (8.3, 0.28),
                         (12.7, 0.2), (19.4, 0.14), (27.5, 0.1)),
            modes=((2400.0, 1.6, 0.15),),
            tail_ms=90.0, tail_level=0.08, low_cut=(85.0, 1.5),
            peaks=((120.0, 1.2, 2.0), (450.0, 1.2, -2.0), (2600.0, 1.6, 2.5)),
            roll_off=((4800.0, 0.8), (6500.0, 0.6))),
)


def render(cab: Cabinet) -> list:
    n = int(round(cab.seconds * RATE))
    x = [0.0] * n
    start = int(round(cab.pre_delay_ms * RATE / 1000.0))

    def add(delay_ms, gain):
        # Fractional delay by linear interpolation between two samples.
        pos = start + delay_ms * RATE / 1000.0
        i = int(pos)
        frac = pos - i
        if i < n:
            x[i] += gain * (1.0 - frac)
        if i + 1 < n:
            x[i + 1] += gain * frac

    add(0.0, 1.0)
    for delay_ms, gain in cab.reflections:
        add(delay_ms, gain)

    for freq, decay_ms, level in cab.modes:
        tau = decay_ms * RATE / 1000.0
        w = 2.0 * math.pi * freq / RATE
        for k in range(min(n - start, int(tau * 8))):
            x[start + k] += level * math.exp(-k / tau) * math.sin(w * k)

    noise = XorShift32(cab.seed)
    tau = cab.tail_ms * RATE / 1000.0
    for k in range(n - start):
        x[start + k] += cab.tail_level * math.exp(-k / tau) * noise.next()

    y = Biquad.highpass(*cab.low_cut).run(x)
    for f, q, g in cab.peaks:
        y = Biquad.peak(f, q, g).run(y)
    for f, q in cab.roll_off:
        y = Biquad.lowpass(f, q).run(y)

    fade = int(FADE_SECONDS * RATE)
    for k in range(fade):
        y[n - fade + k] *= 0.5 + 0.5 * math.cos(math.pi * (k + 1) / fade)
    peak = max(abs(v) for v in y)
    return [v * PEAK / peak for v in y]


def wav_bytes(samples) -> bytes:
    """48 kHz mono 24-bit PCM."""
    data = bytearray()
    for v in samples:
        q = max(-8388608, min(8388607, int(math.floor(v * 8388607.0 + 0.5))))
        data += struct.pack("<i", q)[:3]
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE * 3, 3, 24)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + bytes(data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def file_name(cab: Cabinet) -> str:
    return f"synthetic-{cab.slug}.wav"


def write_all(folder: str) -> list:
    """Writes every cabinet into folder; answers [(cabinet, path)] in order."""
    os.makedirs(folder, exist_ok=True)
    written = []
    for cab in CABINETS:
        path = os.path.join(folder, file_name(cab))
        with open(path, "wb") as f:
            f.write(wav_bytes(render(cab)))
        written.append((cab, path))
    return written


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    for _, path in write_all(sys.argv[1]):
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
