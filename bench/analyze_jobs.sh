#!/usr/bin/env bash
# Parallel jobs of veraxo-analyze, side by side in one run: wall-clock time of `-j 1` and `-j 2` over the
# same files (four of 15 minutes by default, made from the sample recording, each starting at another
# point of it), alternated for a few rounds, summary only and with a CSV per file; every run's peak
# memory, CPU time (and so how many cores it kept busy) and the machine's load beside it. The engine
# is cheap, so reading and writing weigh in; on a loaded machine repeat and compare rounds.
#   bench/analyze_jobs.sh [BUILD_DIR] [FILES] [MINUTES] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
files=${2:-4}
minutes=${3:-15}
rounds=${4:-5}
tool="$build/cli/veraxo-analyze"
[ -x "$tool" ] || { echo "no $tool: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds=$(awk -v m="$minutes" 'BEGIN { print m * 60 }')
for ((i = 0; i < files; ++i)); do
  bench/repeat_wav.py resources/sample.wav "$work/take$i.wav" "$seconds" "$i" "$files"
done

# Measured from a small process of its own, so no run inherits the memory that made the files.
python3 - "$tool" "$work" "$files" "$minutes" "$rounds" <<'PY'
import os, subprocess, sys, time

tool, work, files, minutes, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5])
paths = [os.path.join(work, f"take{i}.wav") for i in range(files)]
csvDir = os.path.join(work, "csv")
os.makedirs(csvDir, exist_ok=True)
audio = files * minutes * 60

# The measuring process only waits: anything it did while a run goes on would take CPU time from `-j 2`,
# which has no idle core to spare, and bias the ratio against it.
def run(args):
    start = time.monotonic()
    child = subprocess.Popen([tool] + args, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit(f"{tool} {' '.join(args)} failed")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024

def load():
    return open("/proc/loadavg").read().split()[0]

print(f"{files} files of {minutes:g} min ({audio:.0f} s of audio), {os.cpu_count()} cores")
for label, extra in (("summary only", []), ("--csv-dir", ["--csv-dir", csvDir])):
    ratios = []
    for r in range(rounds):
        before = load()
        line = f"{label:12s} round {r + 1}:"
        walls = {}
        for jobs in ("1", "2"):
            wall, cpu, rss = run(["-j", jobs, "--summary", "json"] + extra + paths)
            walls[jobs] = wall
            line += (f"  -j {jobs} {wall:5.3f} s wall ({audio / wall:5.0f} s/s), {cpu:5.3f} s CPU "
                     f"({cpu / wall:4.2f} cores busy), peak RSS {rss:4.1f} MB;")
        ratios.append(walls["1"] / walls["2"])
        print(f"{line}  speed-up {ratios[-1]:4.2f}x  (load {before} -> {load()})")
    print(f"{label}: speed-up of -j 2 over -j 1, median {sorted(ratios)[len(ratios) // 2]:4.2f}x, best {max(ratios):4.2f}x")
wall, cpu, rss = run(["-j", "1", "--summary", "json", paths[0]])
print(f"one file alone: {wall:6.2f} s wall, peak RSS {rss:5.1f} MB (flat memory: the same as -j 1 over {files} files)")
PY
