#!/usr/bin/env bash
# CPU used by the app while it listens to a recording under Xvfb (software GL), as a percentage of one
# core: the app's own user + system time from /proc/PID/stat over a fixed window after a warm-up.
#   bench/app_cpu.sh [BUILD_DIR] [SECONDS] [RUNS] [WxH]
# WxH is the window's size (--window-size); without it the first-run window (320x480).
# The recording is the sample repeated to outlast the window, so listening never stops while measured.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
seconds=${2:-20}
runs=${3:-3}
size=${4:-}
warmup=4
app="$build/app/veraxo"
[ -x "$app" ] || { echo "no $app: build first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
long="$work/long.wav"
bench/repeat_wav.py resources/sample.wav "$long" "$((seconds + warmup + 30))"

cat >"$work/measure.sh" <<'SH'
#!/usr/bin/env bash
# Runs inside the X server: starts the app, waits, and prints its CPU share over the window.
set -euo pipefail
app=$1 input=$2 warmup=$3 seconds=$4 size=${5:-}
"$app" --input "$input" ${size:+--window-size "$size"} >/dev/null 2>&1 &
pid=$!
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
sleep "$warmup"
kill -0 "$pid" 2>/dev/null || { echo "the app ended before the measurement" >&2; exit 1; }
t0=$(ticks)
w0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks)
w1=$(date +%s.%N)
kill "$pid"
wait "$pid" 2>/dev/null || true
python3 -c "import sys; hz, t0, t1, w0, w1 = map(float, sys.argv[1:]); print(f'{100.0 * (t1 - t0) / hz / (w1 - w0):.2f}')" \
  "$(getconf CLK_TCK)" "$t0" "$t1" "$w0" "$w1"
SH
chmod +x "$work/measure.sh"

# A settings folder of its own: the first-run window every time, whatever a user left behind.
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config"
results=()
for ((i = 1; i <= runs; ++i)); do
  share=$(xvfb-run -a -s "-screen 0 1920x1200x24" "$work/measure.sh" "$app" "$long" "$warmup" "$seconds" "$size")
  results+=("$share")
  echo "run $i: $share % of one core over $seconds s"
done
printf '%s\n' "${results[@]}" | sort -n | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "median: %.2f %% of one core (load %s)\n", m, load }' load="$(cut -d' ' -f1-3 /proc/loadavg)"
