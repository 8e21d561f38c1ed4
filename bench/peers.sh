#!/usr/bin/env bash
# veraxo-analyze beside the tools a user would pick instead, on the same files: aubio's MFCC command
# with the same 256-sample frames every 128 samples (told to convert to 8000 Hz where the file is not),
# `sox FILE -n stat`, and the numpy yardstick bench/mel_numpy.py when numpy is installed (8 kHz input
# only). Three inputs, made from the sample recording: an hour of 16-bit mono 8000 Hz, ten minutes of
# 44.1 kHz stereo and one second of 44.1 kHz stereo. The commands run in turn, round after round, and
# each run's CPU time (user + system, the process's own accounting) is kept; the table gives the median
# per command and the median of the per-round ratios veraxo-analyze / command, so drift of a shared
# machine's speed cancels out. The load average is printed before and after.
#   bench/peers.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
rounds=${2:-7}
tool="$build/cli/veraxo-analyze"
[ -x "$tool" ] || { echo "no $tool: build first" >&2; exit 1; }
for t in aubiomfcc sox; do
  command -v "$t" >/dev/null || { echo "no $t: install aubio-tools and sox" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench/repeat_wav.py resources/sample.wav "$work/hour-8k.wav" 3600
bench/repeat_wav.py resources/sample.wav "$work/ten-8k.wav" 600
sox "$work/ten-8k.wav" -r 44100 -c 2 "$work/ten-44k-stereo.wav"
sox "$work/ten-44k-stereo.wav" "$work/second-44k-stereo.wav" trim 0 1

numpy=no
python3 -c "import numpy" 2>/dev/null && numpy=yes

python3 - "$tool" "$work" "$rounds" "$numpy" <<'PY'
import datetime, os, statistics, subprocess, sys

tool, work, rounds, numpy = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == "yes"

inputs = [
    ("1 h, 8 kHz mono", "hour-8k.wav", []),
    ("10 min, 44.1 kHz stereo", "ten-44k-stereo.wav", ["-r", "8000"]),
    ("1 s, 44.1 kHz stereo", "second-44k-stereo.wav", ["-r", "8000"]),
]

# The measuring process only waits while a command runs, and reads its CPU time from wait4.
def cpu(cmd):
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        sys.exit(f"failed: {' '.join(cmd)}")
    return usage.ru_utime + usage.ru_stime

def load():
    return open("/proc/loadavg").read().split()[0]

print(f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC, {os.cpu_count()} cores, "
      f"{rounds} interleaved rounds, load {load()} at the start")
print(f"| {'input':24s} | {'command':40s} | {'median CPU s':>12s} | {'veraxo / it':>11s} |")
print(f"|{'-' * 26}|{'-' * 42}|{'-' * 14}|{'-' * 13}|")
for label, name, rate in inputs:
    path = os.path.join(work, name)
    commands = [
        ("veraxo-analyze FILE", [tool, path]),
        ("aubiomfcc " + " ".join(rate + ["-B", "256", "-H", "128"]), ["aubiomfcc"] + rate + ["-B", "256", "-H", "128", "-i", path]),
        ("sox FILE -n stat", ["sox", path, "-n", "stat"]),
    ]
    if numpy and not rate:
        commands.append(("python3 bench/mel_numpy.py FILE", [sys.executable, "bench/mel_numpy.py", path]))
    for _, cmd in commands:
        cpu(cmd)  # warm-up: the file in the page cache, the libraries mapped once
    times = {c: [] for c, _ in commands}
    for _ in range(rounds):
        for c, cmd in commands:
            times[c].append(cpu(cmd))
    ours = times[commands[0][0]]
    for c, _ in commands:
        ratio = statistics.median(a / b for a, b in zip(ours, times[c]))
        print(f"| {label:24s} | {c:40s} | {statistics.median(times[c]):12.3f} | {ratio:10.3f}x |")
print(f"load {load()} at the end")
PY
