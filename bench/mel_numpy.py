#!/usr/bin/env python3
# A numpy yardstick of the analysis' spectrum path, the way a user with numpy would write it: 256-sample
# Hann frames every 128 samples, the transform's real parts averaged with the previous frame's, 32
# triangular mel bands over 200-3400 Hz and log(1 + x), one minute of audio at a time. It reads 16-bit
# mono 8000 Hz WAV only and prints the frame count; its numbers are close to the engine's, not the same.
#   bench/mel_numpy.py FILE
import sys
import wave

import numpy as np

RATE, SIZE, HOP, BANDS = 8000, 256, 128, 32


def mel(hz):
    return 1127.01048 * np.log(1.0 + hz / 700.0)


def mel_inv(m):
    return 700.0 * (np.exp(m / 1127.01048) - 1.0)


def band_matrix():
    low, high = mel(200.0), mel(3400.0)
    width = (high - low) / BANDS
    freqs = np.arange(SIZE // 2) * RATE / SIZE
    weights = np.zeros((SIZE // 2, BANDS), dtype=np.float32)
    for b in range(BANDS):
        lo, mid, hi = (mel_inv(low + width * (b + k)) for k in (-0.5, 0.0, 0.5))
        w = np.clip(np.minimum((freqs - lo) / (mid - lo), (hi - freqs) / (hi - mid)), 0.0, None)
        weights[:, b] = w / w.sum()
    return weights


def main(path):
    with wave.open(path) as w:
        if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (RATE, 1, 2):
            sys.exit(f"{path}: not 16-bit mono {RATE} Hz")
        window = (0.5 * (1.0 - np.cos(2 * np.pi * np.arange(SIZE) / (SIZE - 1)))).astype(np.float32)
        bands = band_matrix()
        carry = np.zeros(SIZE - HOP, dtype=np.float32)
        previous = np.zeros(SIZE // 2, dtype=np.float32)
        frames = 0
        while True:
            chunk = w.readframes(60 * RATE)
            if not chunk:
                break
            x = np.concatenate([carry, np.frombuffer(chunk, dtype="<i2").astype(np.float32) / 32767.0])
            n = (len(x) - SIZE) // HOP + 1
            if n <= 0:
                carry = x
                continue
            framed = np.lib.stride_tricks.sliding_window_view(x, SIZE)[: n * HOP : HOP]
            real = np.abs(np.fft.rfft(framed * window, axis=1).real[:, : SIZE // 2]).astype(np.float32)
            averaged = np.empty_like(real)
            averaged[0] = (real[0] + previous) * 0.5
            averaged[1:] = (real[1:] + real[:-1]) * 0.5
            previous = real[-1]
            np.log1p(averaged @ bands)
            frames += n
            carry = x[n * HOP :]
    print(frames)


if __name__ == "__main__":
    main(sys.argv[1])
