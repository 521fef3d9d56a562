#!/usr/bin/env python3
"""Writes artwork/alarm.wav: the alarm sound, two alternating tones (880 and
660 Hz), 0.6 s, mono, 16 bits, 22050 Hz, with short fades against clicks."""
import math
import os
import struct
import wave

RATE = 22050
TONES = [(880, 0.15), (660, 0.15), (880, 0.15), (660, 0.15)]
FADE = 0.008  # seconds at each end of a tone

frames = bytearray()
for freq, length in TONES:
    n = int(RATE * length)
    fade = int(RATE * FADE)
    for i in range(n):
        env = min(1.0, i / fade, (n - 1 - i) / fade)
        v = 0.6 * env * math.sin(2 * math.pi * freq * i / RATE)
        frames += struct.pack("<h", int(v * 32767))

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "alarm.wav")
with wave.open(out, "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(bytes(frames))
