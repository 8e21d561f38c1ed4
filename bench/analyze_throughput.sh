#!/usr/bin/env bash
# Whole-file throughput of veraxo-analyze: seconds of audio analysed per CPU second, and peak memory,
# on a long 16-bit mono 8000 Hz WAV made from the sample recording repeated (one hour by default).
#   bench/analyze_throughput.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
seconds=${2:-3600}
tool="$build/cli/veraxo-analyze"
[ -x "$tool" ] || { echo "no $tool: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
long="$work/long.wav"
bench/repeat_wav.py resources/sample.wav "$long" "$seconds"

measure() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys
audio = float(sys.argv[1]); label = sys.argv[2]; cmd = sys.argv[3:]
subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = u.ru_utime + u.ru_stime
print(f"{label:28s} {audio:8.0f} s audio in {cpu:6.3f} CPU s: {audio / cpu:8.0f} s/s, peak RSS {u.ru_maxrss / 1024:5.1f} MB")
PY
}

duration=$(python3 -c "import sys, wave; w = wave.open(sys.argv[1]); print(w.getnframes() / w.getframerate())" "$long")
measure "$duration" "summary only" "$tool" "$long"
measure "$duration" "--csv to a file" "$tool" --csv "$work/out.csv" "$long"
