#!/bin/bash
# Runs the benchmark under Wine and Xvfb and prints its table; then the peak
# memory of a run over 100,000 events. Figures only: nothing is asserted.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}

"$root/tools/install_deps.sh"
cmake --preset mingw -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target bench_runner >/dev/null

source "$root/tools/machine_kind.sh"
korvane_print_machine_kind
source "$root/tools/wine_env.sh"
KORVANE_XVFB=1
trap korvane_wine_stop EXIT
korvane_wine_start "$build"
wine "$build/bench/bench_runner.exe" "$@"
wine "$build/bench/bench_runner.exe" --memory
