#!/usr/bin/python3
"""Makes the game's sounds into resources/snd: 36 effects (16-bit mono PCM, 22,050 Hz) from a
seeded synthesiser, and the three music loops as MPEG audio (lame, constant bit rate) inside
WAVE files (format tag 0x55 with a "fact" chunk). Each tune decodes to exactly its number of
stereo samples at 44.1 kHz: whole MPEG frames of 1,152 samples, no info frame, no trimming. The
game caches that decoding as a PCM WAVE file (a 46-byte header) and checks the cache by its
size, so the sample counts are fixed: 4,154,112, 1,960,704 and 784,512 (16,616,494, 7,842,862
and 3,138,094 bytes cached).

    gen_sounds.py [OUTDIR]"""
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np

SR = 22050
MSR = 44100
TAU = 2 * np.pi


def N(dur, sr=SR):
    return int(round(dur * sr))


def t_of(dur, sr=SR):
    return np.arange(int(round(dur * sr))) / sr


def env(n, a, d, s=0.0, r=0.0, sr=SR, total=None):
    """Attack-decay envelope to a sustain level, released over the last r seconds."""
    e = np.ones(n) * s
    ia, idd = int(a * sr), int(round(d * sr))
    ia = max(ia, 1)
    e[:ia] = np.linspace(0, 1, ia)[: n]
    e[ia:ia + idd] = np.linspace(1, s, idd)[: max(0, n - ia)]
    if r > 0:
        ir = min(n, int(r * sr))
        e[n - ir:] *= np.linspace(1, 0, ir)
    return e


def tone(freq, dur, shape="sine", sr=SR):
    """An oscillator; with an array of frequencies its length decides the duration."""
    if np.ndim(freq):
        f = np.asarray(freq, dtype=np.float64)
    else:
        f = np.full(int(round(dur * sr)), float(freq))
    ph = np.cumsum(f) / sr
    if shape == "sine":
        return np.sin(TAU * ph)
    if shape == "tri":
        return 2 * np.abs(2 * (ph % 1) - 1) - 1
    if shape == "square":
        return np.sign(np.sin(TAU * ph)) * 0.6
    if shape == "saw":
        return 2 * (ph % 1) - 1
    raise ValueError(shape)


def lowpass(x, cutoff, sr=SR):
    """One-pole low-pass; cutoff may vary per sample."""
    c = np.broadcast_to(cutoff, x.shape)
    a = 1 - np.exp(-TAU * c / sr)
    y = np.empty_like(x)
    acc = 0.0
    for i in range(len(x)):
        acc += a[i] * (x[i] - acc)
        y[i] = acc
    return y


def lp_fast(x, cutoff, sr=SR):
    """Fixed-cutoff one-pole low-pass (vectorised through a short FIR approximation)."""
    a = 1 - np.exp(-TAU * cutoff / sr)
    n = int(min(4000, 6 / a))
    k = a * (1 - a) ** np.arange(n)
    return np.convolve(x, k)[: len(x)]


def hp_fast(x, cutoff, sr=SR):
    return x - lp_fast(x, cutoff, sr)


def noise(dur, rng, sr=SR):
    return rng.uniform(-1, 1, int(round(dur * sr)))


def notes_seq(seq, shape="tri", sr=SR, decay=0.25):
    """seq: list of (frequency, start, duration, gain)."""
    end = max(s + d for _, s, d, _ in seq)
    out = np.zeros(int((end + 0.05) * sr))
    for f, s, d, g in seq:
        x = tone(f, d, shape, sr) * env(int(round(d * sr)), 0.005, decay, 0.3, min(0.05, d / 3), sr) * g
        i = int(s * sr)
        out[i:i + len(x)] += x
    return out


def midi(n):
    return 440.0 * 2 ** ((n - 69) / 12.0)


# ---------------------------------------------------------------- effects

def fx(name, rng):
    if name == "GameOver":
        seq = [(midi(n), i * 0.28, 0.45, 0.5) for i, n in enumerate([67, 63, 60, 55])]
        x = notes_seq(seq, "tri", decay=0.4)
        return lp_fast(x, 3000)
    if name == "LvlCompleted":
        seq = [(midi(n), i * 0.11, 0.3, 0.4) for i, n in enumerate([60, 64, 67, 72])]
        seq += [(midi(n), 0.5, 0.7, 0.3) for n in (72, 76, 79)]
        return notes_seq(seq, "tri", decay=0.3)
    if name == "LvlFinished":
        seq = [(midi(n), i * 0.14, 0.35, 0.35) for i, n in enumerate([60, 64, 67, 72, 67, 72, 76])]
        seq += [(midi(n), 1.0, 1.2, 0.28) for n in (72, 76, 79, 84)]
        return notes_seq(seq, "tri", decay=0.5)
    if name == "Delete":
        f = np.linspace(900, 300, N(0.09))
        return tone(f, 0.09, "square") * env(len(f), 0.002, 0.08) * 0.5
    if name == "Write":
        x = noise(0.04, rng) * env(N(0.04), 0.001, 0.03)
        return hp_fast(x, 2000) * 0.8 + tone(1400, 0.04) * env(N(0.04), 0.001, 0.03) * 0.25
    if name == "BigTime":
        seq = [(midi(n), i * 0.12, 0.5, 0.4) for i, n in enumerate([84, 88, 91])]
        return notes_seq(seq, "sine", decay=0.45)
    if name == "LvlStart":
        w = noise(0.6, rng)
        w = lowpass(w, np.linspace(300, 4000, len(w))) * env(len(w), 0.4, 0.2) * 0.6
        seq = [(midi(n), 0.45 + i * 0.09, 0.5, 0.35) for i, n in enumerate([72, 79, 84])]
        c = notes_seq(seq, "sine", decay=0.4)
        out = np.zeros(max(len(w), len(c)))
        out[:len(w)] += w
        out[:len(c)] += c
        return out
    if name in ("ShootWater", "WaterSplash"):
        d = 0.22 if name == "ShootWater" else 0.32
        x = noise(d, rng)
        x = lowpass(x, np.linspace(5000, 800, len(x)))
        bl = np.zeros_like(x)
        for _ in range(8 if name == "ShootWater" else 14):
            s = rng.randint(0, len(x) - 900)
            f = 600 + rng.rand() * 1400
            b = tone(np.linspace(f, f * 1.8, 900), 900 / SR) * env(900, 0.002, 0.03)
            bl[s:s + 900] += b * 0.3
        return (x * env(len(x), 0.005, d * 0.8) * 0.8 + bl)
    if name == "ShootHeart":
        f = np.linspace(400, 900, N(0.22))
        return tone(f, 0.22, "sine") * env(len(f), 0.005, 0.2) * 0.7 + tone(f * 2, 0.22) * env(len(f), 0.005, 0.1) * 0.2
    if name == "ShootSuper":
        f = np.linspace(1800, 200, N(0.35))
        x = tone(f, 0.35, "saw") * env(len(f), 0.003, 0.33)
        return lp_fast(x, 4000) * 0.6 + tone(f * 0.5, 0.35, "square") * env(len(f), 0.003, 0.3) * 0.2
    if name == "HeartHit":
        seq = [(midi(n), i * 0.04, 0.2, 0.3) for i, n in enumerate([88, 84, 81, 76])]
        x = notes_seq(seq, "sine", decay=0.15)
        n = noise(0.1, rng) * env(N(0.1), 0.001, 0.08) * 0.3
        x[:len(n)] += hp_fast(n, 3000)
        return x
    if name == "HeartConvert":
        seq = [(midi(n), i * 0.07, 0.35, 0.3) for i, n in enumerate([72, 76, 79, 84, 88, 91])]
        return notes_seq(seq, "sine", decay=0.3)
    if name == "PlayerHit":
        f = np.linspace(220, 70, N(0.3))
        x = tone(f, 0.3, "sine") * env(len(f), 0.003, 0.28) * 0.9
        n = lp_fast(noise(0.3, rng), 600) * env(N(0.3), 0.001, 0.1) * 0.8
        return x + n
    if name == "PlayerFire":
        x = noise(0.3, rng)
        x = hp_fast(x, 1500) * (0.5 + 0.5 * (rng.rand(len(x)) > 0.97)) * env(len(x), 0.01, 0.28)
        return x * 0.7
    if name == "PlayerLaser":
        t = t_of(0.3)
        x = tone(120 + 40 * np.sin(TAU * 30 * t), 0.3, "saw") * env(len(t), 0.002, 0.28)
        z = np.sign(np.sin(TAU * 2200 * t + 3 * np.sin(TAU * 90 * t))) * env(len(t), 0.002, 0.15) * 0.3
        return lp_fast(x, 3000) * 0.7 + z
    if name == "SmokerConvert":
        seq = [(midi(n), i * 0.08, 0.4, 0.3) for i, n in enumerate([60, 64, 67, 71, 72, 76, 79, 83])]
        x = notes_seq(seq, "tri", decay=0.3)
        sp = np.zeros_like(x)
        for _ in range(20):
            s = rng.randint(0, len(x) - 800)
            sp[s:s + 800] += tone(3000 + rng.rand() * 3000, 800 / SR) * env(800, 0.001, 0.03) * 0.08
        return x + sp
    if name == "SuperHit":
        x = lp_fast(noise(0.6, rng), 1200) * env(N(0.6), 0.002, 0.55) * 1.2
        f = np.linspace(150, 40, N(0.6))
        return x + tone(f, 0.6) * env(len(f), 0.002, 0.5) * 0.8
    if name.startswith("SmokerRest"):
        k = int(name[-1])
        out = np.zeros(int((0.5 + 0.15 * k) * SR))
        pos = 0
        for c in range(1 + (k % 3)):
            d = 0.16 + 0.05 * rng.rand()
            n = noise(d, rng)
            f0 = 300 + 120 * k + 80 * rng.rand()
            bp = lp_fast(n, f0 * 3) - lp_fast(n, f0)
            voice = tone(f0 * 0.5 * (1 - 0.3 * np.linspace(0, 1, len(n))), d, "saw") * 0.25
            c_ = (bp * 2 + lp_fast(voice, 1500)) * env(len(n), 0.005, d * 0.9)
            if pos + len(c_) > len(out):
                break
            out[pos:pos + len(c_)] += c_
            pos += len(c_) + int((0.06 + 0.05 * rng.rand()) * SR)
        return out
    if name == "SmokingIn":
        x = noise(0.8, rng)
        x = lowpass(x, np.linspace(400, 2500, len(x))) * env(len(x), 0.6, 0.2)
        return x * 0.7
    if name == "SmokingOut":
        x = noise(1.0, rng)
        x = lowpass(x, np.linspace(2000, 300, len(x))) * env(len(x), 0.05, 0.95)
        return x * 0.9
    if name == "DoorMove":
        t = t_of(0.8)
        hum = tone(90, 0.8, "saw") * 0.3 + tone(180, 0.8, "square") * 0.1
        rum = lp_fast(noise(0.8, rng), 500) * 0.6
        x = lp_fast(hum, 800) + rum
        return x * env(len(t), 0.05, 0.0, 1.0, 0.2)
    if name == "DoorUnlock":
        out = np.zeros(N(0.3))
        for s, f in ((0.0, 2500), (0.12, 1800)):
            n = hp_fast(noise(0.04, rng), 1000) * env(N(0.04), 0.001, 0.035)
            c = tone(f, 0.04) * env(N(0.04), 0.001, 0.03) * 0.4
            i = int(s * SR)
            out[i:i + len(n)] += n + c
        return out
    if name == "CatchOption":
        seq = [(midi(n), i * 0.06, 0.25, 0.4) for i, n in enumerate([79, 84, 91])]
        return notes_seq(seq, "sine", decay=0.2)
    if name == "ToolActivate":
        n = hp_fast(noise(0.03, rng), 1500) * env(N(0.03), 0.001, 0.025)
        b = tone(1000, 0.15, "square") * env(N(0.15), 0.003, 0.12) * 0.3
        out = np.zeros(N(0.2))
        out[:len(n)] += n
        out[N(0.04):N(0.04) + len(b)] += b
        return out
    if name == "Energy":
        t = t_of(0.3)
        x = tone(440 + 30 * np.sin(TAU * 12 * t), 0.3) * 0.3 + tone(880, 0.3) * 0.15
        return x * env(len(t), 0.02, 0.0, 1.0, 0.1)
    if name == "Fire":
        x = lp_fast(noise(0.7, rng), 900) * 0.7
        cr = (rng.rand(N(0.7)) > 0.995) * rng.uniform(-1, 1, N(0.7))
        cr = hp_fast(lp_fast(cr, 4000), 800) * 3
        return (x + cr) * env(N(0.7), 0.1, 0.0, 1.0, 0.3)
    if name == "Laser":
        t = t_of(1.4)
        buzz = tone(100, 1.4, "saw") * 0.4 + tone(200.5, 1.4, "saw") * 0.2
        buzz = lp_fast(buzz, 1800) * (0.8 + 0.2 * np.sin(TAU * 7 * t))
        zap = tone(np.linspace(3000, 800, len(t)), 1.4) * env(len(t), 0.002, 0.15) * 0.3
        return (buzz + zap) * env(len(t), 0.01, 0.0, 1.0, 0.15)
    if name == "Bonus":
        seq = [(midi(n), 0.0, 0.7, 0.25) for n in (72, 76, 79)] + [(midi(84), 0.12, 0.6, 0.3)]
        return notes_seq(seq, "sine", decay=0.6)
    if name == "Diamond":
        seq = [(midi(n), i * 0.05, 0.4, 0.3) for i, n in enumerate([91, 96, 100, 103])]
        return notes_seq(seq, "sine", decay=0.35)
    if name == "NonSmokerHit":
        f = 300 + 200 * np.sin(TAU * 6 * t_of(0.3)) * np.linspace(1, 0, N(0.3))
        return tone(f, 0.3, "tri") * env(len(f), 0.005, 0.28) * 0.7
    if name == "Firework":
        bang = lp_fast(noise(0.5, rng), 2000) * env(N(0.5), 0.001, 0.45) * 1.2
        out = np.zeros(N(1.3))
        out[:len(bang)] += bang
        for _ in range(40):
            s = int((0.2 + rng.rand() * 1.0) * SR)
            c = hp_fast(noise(0.02, rng), 2500) * env(N(0.02), 0.001, 0.018) * (0.3 + 0.4 * rng.rand())
            out[s:s + len(c)] += c
        return out
    raise ValueError(name)


EFFECTS = ["GameOver", "LvlCompleted", "LvlFinished", "Delete", "Write", "BigTime", "LvlStart",
           "ShootWater", "ShootHeart", "ShootSuper", "WaterSplash", "HeartHit", "HeartConvert",
           "PlayerHit", "PlayerFire", "PlayerLaser", "SmokerConvert", "SuperHit", "SmokerRest1",
           "SmokerRest2", "SmokerRest3", "SmokerRest4", "SmokerRest5", "SmokingIn", "SmokingOut",
           "DoorMove", "DoorUnlock", "CatchOption", "ToolActivate", "Energy", "Fire", "Laser",
           "Bonus", "Diamond", "NonSmokerHit", "Firework"]


def write_pcm_wave(path, x):
    x = np.asarray(x, dtype=np.float64)
    peak = np.max(np.abs(x)) if len(x) else 1.0
    if peak > 0:
        x = x / peak * 0.85
    n = min(len(x), N(0.004))
    if n > 1:
        x[-n:] *= np.linspace(1, 0, n)  # no click at the end
    pcm = np.clip(np.round(x * 32767), -32768, 32767).astype("<i2").tobytes()
    fmt = struct.pack("<HHIIHH", 1, 1, SR, SR * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(pcm)) + pcm
    if len(pcm) % 2:
        body += b"\0"
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


# ---------------------------------------------------------------- music

def drum_kit(rng):
    n = int(0.25 * MSR)
    t = np.arange(n) / MSR
    kick = np.sin(TAU * np.cumsum(50 + 90 * np.exp(-t * 30)) / MSR) * np.exp(-t * 9)
    sn = rng.uniform(-1, 1, n)
    snare = (hp_fast(sn, 1500, MSR) * 0.7 + np.sin(TAU * 190 * t) * 0.3) * np.exp(-t * 18)
    hat = hp_fast(rng.uniform(-1, 1, n), 6000, MSR) * np.exp(-t * 60)
    return kick, snare, hat


def place(buf, x, start, gain, pan=0.0):
    i = int(start)
    if i >= buf.shape[0]:
        return
    x = x[: buf.shape[0] - i]
    buf[i:i + len(x), 0] += x * gain * (1 - pan) if pan > 0 else x * gain
    buf[i:i + len(x), 1] += x * gain * (1 + pan) if pan < 0 else x * gain


def synth_note(f, dur, shape, cutoff, a=0.01, d=0.2, s=0.6, r=0.08):
    n = int(dur * MSR)
    x = tone(f, n / MSR, shape, MSR) + 0.5 * tone(f * 1.004, n / MSR, shape, MSR)
    x = lp_fast(x, cutoff, MSR)
    return x * env(n, a, d, s, min(r, dur / 2), MSR)


def song(total, beat, chords, melody, bass_oct, lead_shape, seed, drums=True, pad_gain=0.18,
         swing_hat=True):
    """A loop of `total` samples: chords (per bar, 4 beats), a bass on each beat, drums and a
    lead melody (list per bar of (beat, length, semitone offset from the chord root or None))."""
    rng = np.random.RandomState(seed)
    buf = np.zeros((total + MSR, 2))
    bars = total // (4 * beat)
    kick, snare, hat = drum_kit(rng)
    for b in range(bars):
        root, kind = chords[b % len(chords)]
        third = 3 if kind == "m" else 4
        t0 = b * 4 * beat
        for k, iv in enumerate((0, third, 7, 12)):
            x = synth_note(midi(root + 12 + iv), 4 * beat / MSR, "saw", 1400, a=0.2, d=0.5, s=0.7, r=0.3)
            place(buf, x, t0, pad_gain / 2, pan=(k - 1.5) * 0.3)
        for q in range(4):
            bn = root + 12 * bass_oct - 12 * 3 + (7 if q == 2 else 0)
            x = synth_note(midi(bn), beat * 0.9 / MSR, "square", 700, a=0.005, d=0.15, s=0.5)
            place(buf, x, t0 + q * beat, 0.32)
            if drums:
                if q in (0, 2):
                    place(buf, kick, t0 + q * beat, 0.6)
                if q in (1, 3):
                    place(buf, snare, t0 + q * beat, 0.35)
                for e in range(2):
                    off = int(e * beat * (0.58 if swing_hat and e else 0.5))
                    place(buf, hat, t0 + q * beat + off, 0.15, pan=0.3)
        for (bt, ln, semi) in melody[b % len(melody)]:
            if semi is None:
                continue
            x = synth_note(midi(root + 24 + semi), ln * beat / MSR, lead_shape, 3500, a=0.01, d=0.1, s=0.7, r=0.05)
            place(buf, x, t0 + bt * beat, 0.22, pan=-0.15)
            place(buf, x, t0 + bt * beat + beat * 0.75, 0.07, pan=0.4)  # echo
    # The decoder starts cold on the track's first frame, so the first LAME_DELAY samples it gives
    # are silence whatever was encoded there. The loop therefore joins in a short breath: the
    # last bar fades out, LOOP_GAP samples of silence follow and are moved to the start, and the
    # first beat comes after them; no sound is cut off where the codec starts.
    out = buf[:total].copy()
    quiet = total - LOOP_GAP
    out[quiet - LOOP_FADE:quiet] *= np.linspace(1, 0, LOOP_FADE)[:, None]
    out[quiet:] = 0
    out = np.roll(out, LOOP_GAP, axis=0)
    peak = np.max(np.abs(out))
    return out / peak * 0.8


LAME_DELAY = 576 + 529  # encoder plus decoder delay in samples
LOOP_GAP = 1536         # the silence where the loop joins: the codec's start-up and the first
                        # beat's pre-echo (35 ms)
LOOP_FADE = 4410        # the fade before it (0.1 s)
KBPS = 96


def tune(name):
    if name == "KTGame":
        total, beat = 4154112, 21636  # 48 bars at 122.3 beats a minute, 3606 frames
        chords = [(57, "m"), (53, ""), (48, ""), (55, ""), (57, "m"), (53, ""), (55, ""), (52, "")]
        A = [(0, 1, 0), (1, 0.5, 3), (1.5, 0.5, 7), (2, 1, 10), (3, 1, 7)]
        B = [(0, 1.5, 12), (1.5, 0.5, 10), (2, 1, 7), (3, 0.5, 4), (3.5, 0.5, 7)]
        C = [(0, 0.5, 7), (0.5, 0.5, 12), (1, 1, 14), (2, 2, 12)]
        D = [(0, 2, 4), (2, 1, 2), (3, 1, 0)]
        rest = [(0, 1, None)]
        melody = [A, B, A, C, B, D, C, D] * 2 + [rest] * 8 + [A, B, C, D, B, A, C, D]
        return total, song(total, beat, chords, melody, 1, "tri", 70)
    if name == "KTMenu":
        total, beat = 1960704, 20424  # 24 bars at 129.6 beats a minute, 1702 frames
        chords = [(48, ""), (57, "m"), (53, ""), (55, "")]
        A = [(0, 1, 4), (1, 1, 7), (2, 1, 12), (3, 1, 7)]
        B = [(0, 2, 12), (2, 1, 10), (3, 1, 7)]
        C = [(0, 0.5, 7), (0.5, 0.5, 9), (1, 1, 12), (2, 1.5, 14), (3.5, 0.5, 12)]
        melody = [A, B, A, C, B, C]
        return total, song(total, beat, chords, melody, 1, "square", 71, pad_gain=0.2)
    if name == "KTHighScore":
        total, beat = 784512, 24516  # 8 bars at 107.9 beats a minute, 681 frames
        chords = [(50, ""), (55, ""), (57, ""), (50, "")]
        A = [(0, 1, 0), (1, 1, 4), (2, 1, 7), (3, 1, 12)]
        B = [(0, 2, 14), (2, 2, 12)]
        melody = [A, B, A, [(0, 4, 12)]]
        return total, song(total, beat, chords, melody, 1, "tri", 72, drums=True, pad_gain=0.22)
    raise ValueError(name)


def mpeg_frames(data):
    """Splits an MPEG-1 layer III stream into frames."""
    rates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0]
    frames, i = [], 0
    if data[:3] == b"ID3":
        i = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
    while i + 4 <= len(data):
        if data[i:i + 3] == b"TAG":
            break
        h = struct.unpack(">I", data[i:i + 4])[0]
        if (h >> 21) & 0x7FF != 0x7FF:
            raise ValueError("lost frame sync at %d" % i)
        br = rates[(h >> 12) & 15] * 1000
        pad = (h >> 9) & 1
        size = 144 * br // MSR + pad
        frames.append(data[i:i + size])
        i += size
    return frames


def encode_music(path, name):
    total, x = tune(name)
    frames_needed = total // 1152
    assert frames_needed * 1152 == total
    # rotate by the codec delay so the decoded stream starts on the loop's first sample
    src = np.concatenate([x[LAME_DELAY:], x[:LAME_DELAY], x[LAME_DELAY:LAME_DELAY + 8 * 1152]])
    pcm = np.clip(np.round(src * 32767), -32768, 32767).astype("<i2").tobytes()
    with tempfile.TemporaryDirectory() as tmp:
        raw = os.path.join(tmp, "in.wav")
        mp3 = os.path.join(tmp, "out.mp3")
        fmt = struct.pack("<HHIIHH", 1, 2, MSR, MSR * 4, 4, 16)
        with open(raw, "wb") as f:
            f.write(b"RIFF" + struct.pack("<I", 36 + len(pcm)) + b"WAVEfmt " + struct.pack("<I", 16) + fmt
                    + b"data" + struct.pack("<I", len(pcm)) + pcm)
        # -t: no info frame, so every frame decodes to sound; keep 44.1 kHz at this rate
        subprocess.run(["lame", "--quiet", "-m", "j", "-b", str(KBPS), "--cbr", "-t", "-q", "2",
                        "--resample", "44.1", "--noreplaygain", "--id3v2-only", raw, mp3], check=True)
        data = open(mp3, "rb").read()
    frames = mpeg_frames(data)
    if len(frames) < frames_needed:
        raise ValueError("%s: %d frames, need %d" % (name, len(frames), frames_needed))
    body = b"".join(frames[:frames_needed])
    fmt = struct.pack("<HHIIHHHHIHHH", 0x55, 2, MSR, KBPS * 1000 // 8, 1, 0, 12, 1, 2,
                      144 * KBPS * 1000 // MSR, 1, LAME_DELAY)
    fact = struct.pack("<I", total)
    riff = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    riff += b"fact" + struct.pack("<I", len(fact)) + fact
    riff += b"data" + struct.pack("<I", len(body)) + body
    if len(body) % 2:
        riff += b"\0"
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(riff)) + riff)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "resources", "snd")
    os.makedirs(out, exist_ok=True)
    for i, name in enumerate(EFFECTS):
        rng = np.random.RandomState(1000 + i)
        write_pcm_wave(os.path.join(out, name + ".wav"), fx(name, rng))
    for name in ("KTGame", "KTMenu", "KTHighScore"):
        encode_music(os.path.join(out, name + ".wav"), name)


if __name__ == "__main__":
    main()
