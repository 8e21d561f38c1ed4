#!/usr/bin/env python3
"""Prints the lie level and the spectrum of each frame of an audio file, one line per frame.

    python3 analyze.py speech.wav            # the whole file at once
    python3 analyze.py --stream speech.raw   # 16-bit 8000 Hz mono headerless samples, streamed
"""
import sys

import numpy as np

import veraxo


def frames(args):
    if args[0] == "--stream":
        samples = np.fromfile(args[1], dtype="<i2")
        engine = veraxo.Engine()
        for start in range(0, len(samples), 1000):
            yield engine.push(samples[start : start + 1000])
    else:
        yield veraxo.analyze_file(args[0])


try:
    for lie_level, spectrum in frames(sys.argv[1:]):
        for level, bands in zip(lie_level, spectrum):
            print(",".join("%.9g" % v for v in [level, *bands]))
except veraxo.Error as e:
    sys.exit("analyze.py: %s" % e)
