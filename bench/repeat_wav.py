#!/usr/bin/env python3
# Writes DST: the audio of the WAV file SRC repeated and cut to SECONDS, starting PART/OF of the way
# into SRC (at its beginning by default). Python's own wave module does it, so the benchmarks need
# nothing beyond python3.
#   bench/repeat_wav.py SRC DST SECONDS [PART OF]
import sys
import wave

src, dst, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
part, of = (int(sys.argv[4]), int(sys.argv[5])) if len(sys.argv) > 5 else (0, 1)
with wave.open(src) as w:
    params, audio = w.getparams(), w.readframes(w.getnframes())
frame = params.sampwidth * params.nchannels
start = part * params.nframes // of * frame
audio = audio[start:] + audio[:start]
want = int(round(seconds * params.framerate)) * frame
with wave.open(dst, "wb") as out:
    out.setparams(params)
    while want > 0:
        piece = audio[:want]
        out.writeframes(piece)
        want -= len(piece)
