#!/bin/bash
# Builds the report collector natively and starts it: by default on
# 127.0.0.1:8080 with SQLite in build-native/collector/korvane-reports.sqlite.
# Arguments go to korvane-collector (--help lists them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${KORVANE_NATIVE_BUILD_DIR:-$root/build-native}

"$root/tools/install_deps.sh"
cmake --preset native -S "$root" -B "$native" >/dev/null
cmake --build "$native" -j2 --target korvane-collector >/dev/null
exec "$native/collector/korvane-collector" "$@"
