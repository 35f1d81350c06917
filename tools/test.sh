#!/bin/bash
# Runs every test: installs what is missing, builds, starts Xvfb and a Wine
# server of its own, runs ctest, and stops what it started (also on failure).
# Arguments go to ctest (for example -R FormatBounded). KORVANE_BUILD_DIR
# chooses another build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}

"$root/tools/install_deps.sh"
cmake --preset mingw -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2

source "$root/tools/wine_env.sh"
KORVANE_XVFB=1
trap korvane_wine_stop EXIT
korvane_wine_start "$build"
ctest --test-dir "$build" -j2 --output-on-failure "$@"
# A short fuzz run of the pure text helpers (natively, with sanitizers); only for the full run.
if [ $# -eq 0 ]; then
    KORVANE_FUZZ_DIR="$build-fuzz" "$root/tools/fuzz.sh"
fi
