#!/usr/bin/env bash
# The Debian packages as a user gets them: builds them with scripts/package, installs them with apt-get,
# and checks the installed system with nothing set (no LD_LIBRARY_PATH, PYTHONPATH or prefix):
# veraxo-analyze reproduces the frozen CSV of the sample, a C program built through pkg-config and one
# built through find_package(Veraxo) print the CSV's numbers, the system Python imports veraxo from
# dist-packages, the man pages and the completion are where man and bash look. The packages are removed
# at the end, whatever happened, and must leave nothing behind. Skips only where dpkg itself is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."

if ! command -v dpkg >/dev/null || ! command -v apt-get >/dev/null; then
    echo "package test: skipped: dpkg is missing, not a Debian system"
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

scripts/package
version=$(sed -n 's/^project(Veraxo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

packages=(veraxo libveraxo0 libveraxo-dev python3-veraxo)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veraxo-packages-XXXXXX")
remove() {
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
    rm -rf "$tmp"
}
trap remove EXIT
fail() {
    echo "package test: $*" >&2
    exit 1
}

$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ./build/packages/*.deb \
    >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log" >&2; fail "apt-get install failed"; }
for p in "${packages[@]}"; do
    [ "$(dpkg-query -W -f='${Version}' "$p")" = "$version" ] || fail "$p $version is not installed"
done

# The installed programs and nothing from the tree: a clean environment and a neutral folder.
run() { env -i PATH=/usr/bin:/bin HOME="$tmp" "$@"; }
cd "$tmp"
sample=$OLDPWD/resources/sample.wav golden=$OLDPWD/tests/data/sample.csv examples=$OLDPWD/examples

run veraxo-analyze --csv frames.csv "$sample" >summary.txt || fail "veraxo-analyze failed"
cmp -s "$golden" frames.csv || fail "veraxo-analyze --csv differs from tests/data/sample.csv"
grep -q '^frames: ' summary.txt || fail "no summary: $(head -c 300 summary.txt)"
[ "$(run veraxo-analyze --version)" = "veraxo-analyze $version" ] || fail "veraxo-analyze --version"
run veraxo --version | grep -qx "veraxo $version" || fail "veraxo --version: $(run veraxo --version)"
tail -n +2 frames.csv | cut -d, -f3- >expected.txt

# C: pkg-config, then the CMake package; neither program needs a search path to start. The system's
# own directories are left to the compiler (an explicit -L/usr/lib/... would outrank the user's own).
flags=$(run pkg-config --cflags --libs veraxo)
read -ra words <<<"$flags"
[ "${words[*]}" = "-lveraxo" ] || fail "pkg-config gives more than -lveraxo: $flags"
# shellcheck disable=SC2046
run cc "$examples/analyze.c" $(run pkg-config --cflags --libs veraxo) -o analyze-pc || fail "cc with pkg-config failed"
run ./analyze-pc "$sample" >c-pc.txt && cmp -s expected.txt c-pc.txt || fail "the pkg-config program's frames differ"
run cmake -S "$examples" -B cmake-build -G Ninja >cmake.log 2>&1 && run cmake --build cmake-build >>cmake.log 2>&1 ||
    { cat cmake.log >&2; fail "find_package(Veraxo) or the build through it failed"; }
run cmake-build/analyze "$sample" >c-cmake.txt && cmp -s expected.txt c-cmake.txt || fail "the CMake program's frames differ"

# Python: the system interpreter finds the module and the library by itself.
where=$(run /usr/bin/python3 -c 'import veraxo; print(veraxo.__version__, veraxo.__file__)') || fail "import veraxo failed"
[ "$where" = "$version /usr/lib/python3/dist-packages/veraxo/__init__.py" ] || fail "python3 imported: $where"
run /usr/bin/python3 "$examples/analyze.py" "$sample" >py.txt && cmp -s expected.txt py.txt || fail "Python's frames differ"

# The manual and the completion, found by name as a user would.
for page in veraxo veraxo-analyze; do
    run man -w "$page" >/dev/null || fail "man cannot find $page"
    warnings=$(run env MANWIDTH=80 man --warnings -E UTF-8 "$page" 2>&1 >/dev/null) || fail "man $page failed"
    [ -z "$warnings" ] || fail "man $page: $warnings"
done
completion=$(run bash -c '. /usr/share/bash-completion/bash_completion; __load_completion veraxo-analyze; complete -p veraxo-analyze') ||
    fail "bash finds no completion for veraxo-analyze"
[[ $completion == *_veraxo_analyze* ]] || fail "unexpected completion: $completion"

# Removed, they leave nothing behind (the Python byte code the interpreter wrote included).
$sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >"$tmp/purge.log" 2>&1 ||
    { cat "$tmp/purge.log" >&2; fail "apt-get purge failed"; }
for left in /usr/lib/python3/dist-packages/veraxo /usr/include/veraxo /usr/lib/*/cmake/Veraxo /usr/bin/veraxo; do
    [ ! -e "$left" ] || fail "$left is left after the packages were removed"
done
echo "package test: the ${#packages[@]} packages of $version install, work and go again"
