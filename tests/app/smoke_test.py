#!/usr/bin/python3
"""End to end: the real program analyses a recording live, takes a picture of its window and exits.

Usage: smoke_test.py VERAXO RECORDING PICTURE
Passes when the program exits with status 0 within its time, and the picture shows a coloured relief
and a lie graph that rises and falls. The same run without OpenGL (Qt's offscreen and minimal platforms,
and an X server without GLX) must show the graph and a placeholder for the relief, and a named pipe that
nobody writes must not keep the window from running. The picture never replaces the recording it
shows, and a picture that cannot be written whole leaves the old one as it was.

Every run on X has an Xvfb of its own: a server that goes down mid-run takes no other run or test with
it, and the run is tried once more on a new server, since a client cannot be at fault for a server's
death.
"""

import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile

from PIL import Image


XVFB = shutil.which("Xvfb")


class XServer:
    """A private Xvfb on the first free display; `glx` False starts it without the GLX extension."""

    def __init__(self, glx=True):
        read_end, write_end = os.pipe()
        extension = [] if glx else ["-extension", "GLX"]
        self.process = subprocess.Popen([XVFB, "-displayfd", str(write_end), *extension,
                                         "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                        pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            self.display = ":" + display.readline().strip()

    def alive(self):
        return self.display != ":" and self.process.poll() is None

    def close(self):
        self.process.terminate()
        self.process.wait()


def run_on_x(args, timeout, env=None, glx=True, **options):
    """Runs the program on a private X server (the ambient display when there is no Xvfb)."""
    env = dict(os.environ if env is None else env)
    if not XVFB:
        return subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=env, **options)
    for attempt in (1, 2):
        server = XServer(glx)
        try:
            if server.display == ":":
                raise RuntimeError("Xvfb did not start")
            env.pop("WAYLAND_DISPLAY", None)
            env.pop("QT_QPA_PLATFORM", None)
            env["DISPLAY"] = server.display
            run = subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=env, **options)
            if run.returncode == 0 or server.alive() or attempt == 2:
                return run
            print(f"the X server {server.display} went down during the run; once more on a new one")
        finally:
            server.close()


def main():
    veraxo, recording, picture = sys.argv[1:4]
    # The program remembers its window: every run starts from a settings folder of our own, never the
    # user's.
    settings = tempfile.TemporaryDirectory()
    os.environ["XDG_CONFIG_HOME"] = settings.name
    environment = dict(os.environ)
    try:
        run = run_on_x([veraxo, recording, "--screenshot", picture, "--screenshot-delay", "6"],
                       timeout=60, env=environment)
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
    return (check_without_opengl(veraxo, recording, picture) or check_silent_pipe(veraxo, picture) or
            check_one_run_size(veraxo, recording, picture) or check_display_without_server(veraxo) or
            check_picture_path(veraxo, recording))


def check_one_run_size(veraxo, recording, picture):
    """A --window-size is that run's alone: the next run opens at the size the window had before."""
    for size in ("700x500", None):
        extra = ["--window-size", size] if size else []
        run = run_on_x([veraxo, recording, "--screenshot", picture, "--screenshot-delay", "1"] + extra,
                       timeout=45)
        if run.returncode != 0:
            print(f"veraxo {' '.join(extra)} exited with status {run.returncode}:\n{run.stderr}")
            return 1
    size = Image.open(picture).size
    if size != (320, 480):
        print(f"after a run with --window-size 700x500 the window opens at {size[0]} x {size[1]}")
        return 1
    print("a one-run --window-size is not remembered")
    return 0


def check_display_without_server(veraxo):
    """DISPLAY naming a display nobody serves: one line of ours and status 1, never an abort."""
    env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
    env["DISPLAY"] = ":9871"
    run = subprocess.run([veraxo], capture_output=True, text=True, timeout=30, env=env)
    lines = [line for line in run.stderr.splitlines() if line.strip()]
    if run.returncode != 1 or len(lines) != 1 or not lines[0].startswith("veraxo: ") or ":9871" not in lines[0]:
        print(f"with DISPLAY=:9871 and no server: status {run.returncode}, standard error:\n{run.stderr}")
        return 1
    print(f"no X server: {lines[0]}")
    return 0


def graph_rows(picture):
    image = Image.open(picture).convert("RGB")
    width, height = image.size
    pixels = image.load()
    rows = [y for y in range(height // 2, height) for x in range(width)
            if pixels[x, y][0] < 120 and pixels[x, y][1] > 150 and pixels[x, y][2] > 150]
    return max(rows) - min(rows) if rows else 0


def run_without_opengl(name, veraxo, recording, picture, env, on_x=False):
    args = [veraxo, "--input", recording, "--screenshot", picture, "--screenshot-delay", "3"]
    try:
        if on_x:
            run = run_on_x(args, timeout=45, env=env, glx=False)
        else:
            run = subprocess.run(args, capture_output=True, text=True, timeout=45, env=env)
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
    if not XVFB:
        print("no Xvfb: the run on an X server without GLX is skipped")
        return 0
    env = dict(os.environ, LIBGL_DRIVERS_PATH="/nonexistent", GALLIUM_DRIVER="none")
    return run_without_opengl("no GLX", veraxo, recording, picture, env, on_x=True)


def check_picture_path(veraxo, recording):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    with tempfile.TemporaryDirectory() as folder:
        take = os.path.join(folder, "take.wav")
        shutil.copyfile(recording, take)
        os.symlink(take, os.path.join(folder, "link.png"))
        with open(recording, "rb") as f:
            sound = f.read()
        for target in (take, os.path.join(folder, "link.png")):
            run = subprocess.run([veraxo, "--screenshot", target, take], capture_output=True, text=True,
                                 timeout=30, env=env)
            if run.returncode != 2 or len(run.stderr.splitlines()) != 1:
                print(f"--screenshot onto the recording: status {run.returncode}:\n{run.stderr}")
                return 1
            with open(take, "rb") as f:
                if f.read() != sound:
                    print("--screenshot replaced the recording")
                    return 1

        # No room for the whole picture (a file size limit stands in for a full disk).
        old = os.path.join(folder, "old.png")
        with open(old, "w") as f:
            f.write("old picture\n")

        def limited():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        run = subprocess.run([veraxo, take, "--screenshot", old, "--screenshot-delay", "1"],
                             capture_output=True, text=True, timeout=30, env=env, preexec_fn=limited)
        said = [line for line in run.stderr.splitlines() if "cannot write the picture" in line]
        with open(old) as f:
            kept = f.read() == "old picture\n"
        left = sorted(os.listdir(folder))
        if run.returncode != 1 or len(said) != 1 or not kept or left != ["link.png", "old.png", "take.wav"]:
            print(f"a picture that does not fit: status {run.returncode}, old kept {kept}, files {left}:\n"
                  f"{run.stderr}")
            return 1
    print("the picture never replaces the recording, and a failed one keeps the old picture")
    return 0


def check_silent_pipe(veraxo, picture):
    with tempfile.TemporaryDirectory() as folder:
        pipe = os.path.join(folder, "silent.wav")
        os.mkfifo(pipe)
        try:
            run = run_on_x([veraxo, "--input", pipe, "--screenshot", picture, "--screenshot-delay", "1"],
                           timeout=30)
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
