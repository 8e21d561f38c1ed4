#!/usr/bin/python3
"""End to end: the real program analyses a recording live, takes a picture of its window and exits.

Usage: smoke_test.py VERAXO RECORDING PICTURE
Passes when the program exits with status 0 within its time, and the picture shows a coloured relief
and a lie graph that rises and falls.
"""

import os
import subprocess
import sys
import tempfile

from PIL import Image


def main():
    veraxo, recording, picture = sys.argv[1:4]
    # The program remembers its window: start from a settings folder of our own, never the user's.
    settings = tempfile.TemporaryDirectory()
    environment = dict(os.environ, XDG_CONFIG_HOME=settings.name)
    try:
        run = subprocess.run(
            [veraxo, recording, "--screenshot", picture, "--screenshot-delay", "4"],
            capture_output=True, text=True, timeout=45, env=environment)
    except subprocess.TimeoutExpired:
        print("veraxo did not exit after taking its picture")
        return 1
    if run.returncode != 0:
        print(f"veraxo exited with status {run.returncode}:\n{run.stderr}")
        return 1

    image = Image.open(picture).convert("RGB")
    width, height = image.size
    if width < 320 or height < 480:
        print(f"the window is {width} x {height}, smaller than its default 320 x 480")
        return 1
    pixels = image.load()

    # The relief fills the upper part of the window under the navigation bar: count vivid pixels.
    vivid = 0
    for y in range(height // 10, height // 2):
        for x in range(width):
            r, g, b = pixels[x, y]
            if max(r, g, b) > 150 and max(r, g, b) - min(r, g, b) > 120:
                vivid += 1
    relief_area = width * (height // 2 - height // 10)
    if vivid < relief_area // 20:
        print(f"the relief is hardly coloured: {vivid} vivid pixels of {relief_area}")
        return 1

    # The graph's trace is cyan; its rows spread when the level rises and falls.
    rows = [y for y in range(height // 2, height) for x in range(width)
            if pixels[x, y][0] < 120 and pixels[x, y][1] > 150 and pixels[x, y][2] > 150]
    if not rows or max(rows) - min(rows) < height // 20:
        print("the lie graph is flat")
        return 1
    print(f"picture {width} x {height}: {vivid} vivid relief pixels, graph spans {max(rows) - min(rows)} rows")
    return 0


if __name__ == "__main__":
    sys.exit(main())
