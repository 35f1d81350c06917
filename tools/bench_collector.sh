#!/bin/bash
# Benchmark of the collector's ingest: reports per second and latency of POSTs
# of reports with 200 modules and 60 running images, answered by an empty
# handler on the same HTTP stack, then stored in SQLite (synchronous FULL, the
# default, and NORMAL) and in a private PostgreSQL cluster (fsync on). Prints
# figures, asserts nothing.
# Usage: tools/bench_collector.sh [REPORTS] [CONNECTIONS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${KORVANE_NATIVE_BUILD_DIR:-$root/build-native}

cmake --preset native -S "$root" -B "$native" >/dev/null
cmake --build "$native" -j2 --target collector_ingest_bench >/dev/null
source "$root/tools/pg_env.sh"
work=$(mktemp -d)
trap 'korvane_pg_stop; rm -rf "$work"' EXIT
KORVANE_PG_FSYNC=on korvane_pg_start >/dev/null
"$native/collector/collector_ingest_bench" --reports "${1:-5000}" --connections "${2:-16}" \
    "sqlite:$work/bench.sqlite" "$KORVANE_PG_URI"
