#!/usr/bin/python3
"""End to end: the real program analyses a recording live, takes a picture of its window and exits.

Usage: smoke_test.py VERAXO RECORDING PICTURE
Passes when the program exits with status 0 within its time, and the picture shows a coloured relief
and a lie graph that rises and falls. The same run without OpenGL (Qt's offscreen and minimal platforms,
and an X server without GLX) must show the graph and a placeholder for the relief, and a named pipe that
nobody writes must not keep the window from running.
"""

import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image


def main():
    veraxo, recording, picture = sys.argv[1:4]
    # The program remembers its window: every run starts from a settings folder of our own, never the
    # user's.
    settings = tempfile.TemporaryDirectory()
    os.environ["XDG_CONFIG_HOME"] = settings.name
    environment = dict(os.environ)
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
    return check_without_opengl(veraxo, recording, picture) or check_silent_pipe(veraxo, picture)


def graph_rows(picture):
    image = Image.open(picture).convert("RGB")
    width, height = image.size
    pixels = image.load()
    rows = [y for y in range(height // 2, height) for x in range(width)
            if pixels[x, y][0] < 120 and pixels[x, y][1] > 150 and pixels[x, y][2] > 150]
    return max(rows) - min(rows) if rows else 0


def run_without_opengl(name, veraxo, recording, picture, env):
    try:
        run = subprocess.run(
            [veraxo, "--input", recording, "--screenshot", picture, "--screenshot-delay", "3"],
            capture_output=True, text=True, timeout=45, env=env)
    except subprocess.TimeoutExpired:
        print(f"{name}: veraxo did not exit after taking its picture")
        return 1
    if run.returncode != 0:
        print(f"{name}: veraxo exited with status {run.returncode}:\n{run.stderr}")
        return 1
    said = [line for line in run.stderr.splitlines() if "relief is not shown" in line]
    if len(said) != 1 or not said[0].startswith("veraxo: "):
        print(f"{name}: no single line says why the relief is missing:\n{run.stderr}")
        return 1
    if graph_rows(picture) < 20:
        print(f"{name}: the lie graph is flat without OpenGL")
        return 1
    print(f"{name}: {said[0]}")
    return 0


def check_without_opengl(veraxo, recording, picture):
    for platform in ("offscreen", "minimal"):
        env = dict(os.environ, QT_QPA_PLATFORM=platform)
        if run_without_opengl(platform, veraxo, recording, picture, env):
            return 1
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        print("no Xvfb: the run on an X server without GLX is skipped")
        return 0
    read_end, write_end = os.pipe()
    server = subprocess.Popen([xvfb, "-displayfd", str(write_end), "-extension", "GLX",
                               "-screen", "0", "640x800x24", "-nolisten", "tcp"],
                              pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            print("Xvfb did not start")
            return 1
        env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
        env.update(DISPLAY=":" + number, LIBGL_DRIVERS_PATH="/nonexistent", GALLIUM_DRIVER="none")
        return run_without_opengl("no GLX", veraxo, recording, picture, env)
    finally:
        server.terminate()
        server.wait()


def check_silent_pipe(veraxo, picture):
    with tempfile.TemporaryDirectory() as folder:
        pipe = os.path.join(folder, "silent.wav")
        os.mkfifo(pipe)
        try:
            run = subprocess.run(
                [veraxo, "--input", pipe, "--screenshot", picture, "--screenshot-delay", "1"],
                capture_output=True, text=True, timeout=30)
        except subprocess.TimeoutExpired:
            print("a named pipe with no writer blocked the program")
            return 1
    if run.returncode != 0:
        print(f"on a silent named pipe veraxo exited with status {run.returncode}:\n{run.stderr}")
        return 1
    print("a silent named pipe leaves the window running")
    return 0


if __name__ == "__main__":
    sys.exit(main())
