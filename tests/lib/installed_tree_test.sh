#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs the examples against that tree alone:
# the C program through find_package(Veraxo) and through pkg-config, the Python script through the
# installed package. Every frame they print must equal the lie_level and s0..s31 columns of
# veraxo-analyze's CSV, for the whole file and for the samples streamed in blocks.
#   installed_tree_test.sh BUILD_DIR EXAMPLES_DIR VERAXO_ANALYZE SAMPLE_WAV PYTHON CMAKE CC GENERATOR MAKE
# The consumer is built with the generator and make program of this build, which are known to be there.
set -euo pipefail
build=$1 examples=$2 analyze=$3 sample=$4 python=$5 cmake=$6 cc=$7 generator=$8 make=$9

tmp=$(mktemp -d "${TMPDIR:-/tmp}/veraxo-install-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log"

fail() {
    echo "installed tree: $*" >&2
    exit 1
}
same() { # what, expected file, actual file
    cmp -s "$2" "$3" || { diff "$2" "$3" | head -c 600 >&2 || true; echo >&2; fail "$1 differs from the CSV"; }
}

"$analyze" --csv - "$sample" 2>/dev/null | tail -n +2 | cut -d, -f3- >"$tmp/expected.txt"
[ "$(wc -l <"$tmp/expected.txt")" -gt 1000 ] || fail "the CSV has too few rows"
"$python" -c 'import sys, wave; w = wave.open(sys.argv[1]); open(sys.argv[2], "wb").write(w.readframes(w.getnframes()))' \
    "$sample" "$tmp/sample.raw"

# The library exports the C interface alone, under a versioned name.
lib=$(find "$prefix" -name 'libveraxo.so.*.*' | head -1)
[ -n "$lib" ] || fail "no libveraxo.so installed"
others=$(nm -D --defined-only "$lib" | awk 'NF == 3 && $3 !~ /^vx_/ { print $3 }')
[ -z "$others" ] || fail "exports more than vx_*: $(echo $others | head -c 200)"
readelf -d "$lib" | grep -q 'SONAME.*libveraxo\.so\.[0-9]' || fail "no SONAME with a major version"
! readelf -d "$lib" | grep -qi 'NEEDED.*Qt' || fail "libveraxo depends on Qt"

# C through the CMake package.
"$cmake" -S "$examples" -B "$tmp/cmake-build" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
    >"$tmp/cmake.log" 2>&1 || { cat "$tmp/cmake.log" >&2; fail "find_package(Veraxo) failed"; }
"$cmake" --build "$tmp/cmake-build" >"$tmp/build.log" 2>&1 || { cat "$tmp/build.log" >&2; fail "CMake build failed"; }
"$tmp/cmake-build/analyze" "$sample" >"$tmp/c-cmake.txt"
same "C (find_package)" "$tmp/expected.txt" "$tmp/c-cmake.txt"
"$tmp/cmake-build/analyze" --stream "$tmp/sample.raw" >"$tmp/c-cmake-stream.txt"
same "C (find_package, streamed)" "$tmp/expected.txt" "$tmp/c-cmake-stream.txt"

# C through pkg-config.
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name veraxo.pc | head -1)")
libdir=$(pkg-config --variable=libdir veraxo)
# shellcheck disable=SC2046
"$cc" "$examples/analyze.c" $(pkg-config --cflags --libs veraxo) -Wl,-rpath,"$libdir" -o "$tmp/analyze-pc"
"$tmp/analyze-pc" "$sample" >"$tmp/c-pc.txt"
same "C (pkg-config)" "$tmp/expected.txt" "$tmp/c-pc.txt"

# Python through the installed package, which finds the library beside itself.
export PYTHONPATH=$prefix/lib/python3/dist-packages
"$python" "$examples/analyze.py" "$sample" >"$tmp/py.txt"
same "Python" "$tmp/expected.txt" "$tmp/py.txt"
"$python" "$examples/analyze.py" --stream "$tmp/sample.raw" >"$tmp/py-stream.txt"
same "Python (streamed)" "$tmp/expected.txt" "$tmp/py-stream.txt"
"$python" - "$sample" "$(pkg-config --modversion veraxo)" "$tmp" <<'PY' || fail "the Python package misbehaves"
import os
import sys
import wave
import numpy as np
import veraxo

assert veraxo.__version__ == sys.argv[2], veraxo.__version__
lie, spectrum = veraxo.analyze_file(sys.argv[1])
assert lie.dtype == np.float32 and spectrum.dtype == np.float32
assert lie.shape == (len(spectrum),) and spectrum.shape[1] == 32
lie, spectrum = veraxo.Engine().push(np.zeros(127, dtype=np.int16))
assert lie.shape == (0,) and spectrum.shape == (0, 32)
# Fewer samples than a hop: no frame, and no error.
short = os.path.join(sys.argv[3], "short.wav")
with wave.open(short, "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(8000)
    w.writeframes(b"\x01\x00" * 100)
lie, spectrum = veraxo.analyze_file(short)
assert lie.shape == (0,) and spectrum.shape == (0, 32)
# A failed analysis is veraxo.Error; arguments of the wrong kind are Python's own errors. A name with a
# NUL byte would otherwise name the file before it.
for expected, bad in ((veraxo.Error, lambda: veraxo.analyze_file("/nonexistent/voice.wav")),
                      (ValueError, lambda: veraxo.analyze_file(sys.argv[1] + "\0.txt")),
                      (TypeError, lambda: veraxo.Engine().push(np.zeros(300, dtype=np.float32))),
                      (ValueError, lambda: veraxo.Engine().push(np.zeros((2, 300), dtype=np.int16))),
                      (ValueError, lambda: veraxo.Engine().push(np.full(300, 40000, dtype=np.int32)))):
    try:
        bad()
    except expected as e:
        assert str(e), "an error without a reason"
        assert expected is veraxo.Error or not isinstance(e, veraxo.Error), type(e)
    else:
        raise AssertionError("no %s" % expected.__name__)
try:
    veraxo.analyze_file("/nonexistent/voice.wav")
except veraxo.Error as e:
    assert str(e).startswith("/nonexistent/voice.wav: "), str(e)

# Wider integers are taken while they fit 16 bits; one that does not is refused (ValueError), never wrapped.
voice = (np.sin(np.arange(4000) * 0.07) * 30000).astype(np.int16)
wide, narrow = veraxo.Engine().push(voice.astype(np.int32)), veraxo.Engine().push(voice)
assert len(narrow[0]) == 31 and all(np.array_equal(w, n) for w, n in zip(wide, narrow))
engine = veraxo.Engine()
for bad, reason in ((np.array([0, 40000, 0], dtype=np.int32), "out of range"),
                    (np.array([-32769], dtype=np.int64), "out of range")):
    try:
        engine.push(bad)
    except ValueError as e:
        assert reason in str(e), str(e)
    else:
        raise AssertionError("%r was taken" % bad)
assert len(engine.push(voice)[0]) == 31, "a refused push consumed samples"
engine.close()
try:
    engine.push(voice)
except veraxo.Error as e:
    assert str(e) == "the engine is closed", str(e)
else:
    raise AssertionError("a closed engine took samples")
PY
