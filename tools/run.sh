#!/bin/bash
# Builds Korvane and opens it under Wine: on your display when there is one,
# otherwise under Xvfb (then the window is only visible through screenshots).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}

"$root/tools/install_deps.sh"
cmake --preset mingw -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target zar

source "$root/tools/wine_env.sh"
KORVANE_XVFB=0
if [ -z "${DISPLAY:-}" ]; then
    echo "No display: Korvane runs under Xvfb; its window is not visible on screen." >&2
    KORVANE_XVFB=1
fi
trap korvane_wine_stop EXIT
korvane_wine_start "$build"
echo "Korvane runs; its log appears as $build/bin/zar.log. Close the window (\"Выход\") to end."
wine "$build/bin/zar.exe"
