#!/bin/bash
# Builds Korvane and the report collector, starts the collector on loopback,
# and opens Korvane, built to post its reports there, under Wine: on your
# display when there is one, otherwise under Xvfb (then the window is only
# visible through screenshots). Each run's report appears on the collector's
# page, whose address and login password are printed. KORVANE_COLLECTOR_PORT
# (8080) and KORVANE_COLLECTOR_PASSWORD (a fresh random one) change them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}
native=${KORVANE_NATIVE_BUILD_DIR:-$root/build-native}
port=${KORVANE_COLLECTOR_PORT:-8080}
password=${KORVANE_COLLECTOR_PASSWORD:-$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')}

"$root/tools/install_deps.sh"
cmake --preset mingw -S "$root" -B "$build" -DKORVANE_REPORT_HOST=127.0.0.1 -DKORVANE_REPORT_PORT="$port" >/dev/null
cmake --build "$build" -j2 --target zar
cmake --preset native -S "$root" -B "$native" >/dev/null
cmake --build "$native" -j2 --target korvane-collector

collector="$native/collector/korvane-collector"
echo "$password" | "$collector" --set-password >/dev/null
collector_log=$(mktemp)
"$collector" --port "$port" >"$collector_log" 2>&1 &
collector_pid=$!
source "$root/tools/wine_env.sh"
stop_everything() {
    korvane_wine_stop
    kill "$collector_pid" 2>/dev/null || true
    wait "$collector_pid" 2>/dev/null || true
    rm -f "$collector_log"
}
trap stop_everything EXIT
for _ in $(seq 100); do grep -q "listening on" "$collector_log" && break; sleep 0.1; done
if ! grep -q "listening on" "$collector_log"; then
    cat "$collector_log" >&2
    exit 1
fi

KORVANE_XVFB=0
if [ -z "${DISPLAY:-}" ]; then
    echo "No display: Korvane runs under Xvfb; its window is not visible on screen." >&2
    KORVANE_XVFB=1
fi
korvane_wine_start "$build"
echo "Korvane runs; its log appears as $build/bin/zar.log. Close the window (\"Выход\") to end."
echo "Its reports arrive at http://127.0.0.1:$port/ (login password: $password)."
wine "$build/bin/zar.exe"
