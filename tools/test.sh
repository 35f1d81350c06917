#!/bin/bash
# Runs every test: installs what is missing, builds zar.exe (MinGW) and the
# report collector (native), starts Xvfb and a Wine server of its own, runs the
# MinGW ctest, then the collector's ctest while Wine is still up (its end-to-end
# test runs zar.exe) and a private PostgreSQL cluster runs when tools/pg_env.sh
# provides one, and stops what it started (also on failure). Arguments go to
# both ctests (for example -R FormatBounded). KORVANE_BUILD_DIR and
# KORVANE_NATIVE_BUILD_DIR choose other build folders.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}
native=${KORVANE_NATIVE_BUILD_DIR:-$root/build-native}

"$root/tools/install_deps.sh"
source "$root/tools/machine_kind.sh"
korvane_print_machine_kind
cmake --preset mingw -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2
cmake --preset native -S "$root" -B "$native" >/dev/null
cmake --build "$native" -j2

source "$root/tools/wine_env.sh"
[ -f "$root/tools/pg_env.sh" ] && source "$root/tools/pg_env.sh"
stop_everything() {
    korvane_wine_stop
    if declare -F korvane_pg_stop >/dev/null; then korvane_pg_stop; fi
}
KORVANE_XVFB=1
trap stop_everything EXIT
korvane_wine_start "$build"
status=0
ctest --test-dir "$build" -j2 --output-on-failure "$@" || status=$?
if declare -F korvane_pg_start >/dev/null; then korvane_pg_start; fi
KORVANE_BUILD_DIR="$build" ctest --test-dir "$native" -j2 --output-on-failure "$@" || status=$?
[ "$status" -eq 0 ] || exit "$status"
# A short fuzz run of the pure text helpers (natively, with sanitizers); only for the full run.
if [ $# -eq 0 ]; then
    KORVANE_FUZZ_DIR="$build-fuzz" "$root/tools/fuzz.sh"
fi
