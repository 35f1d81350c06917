#!/bin/bash
# Benchmark of the collector's store: fills SQLite and a private PostgreSQL
# cluster (fsync on) with generated reports (default 1,000,000; 40 modules and
# 8 running images each) and times the queries behind the pages. Prints
# figures, asserts nothing. Usage: tools/bench_store.sh [REPORTS] [BATCH]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${KORVANE_NATIVE_BUILD_DIR:-$root/build-native}
reports=${1:-1000000}
batch=${2:-5000}

cmake --preset native -S "$root" -B "$native" >/dev/null
cmake --build "$native" -j2 --target collector_store_bench
source "$root/tools/pg_env.sh"
work=$(mktemp -d)
trap 'korvane_pg_stop; rm -rf "$work"' EXIT
KORVANE_PG_FSYNC=on korvane_pg_start

"$native/collector/collector_store_bench" --reports "$reports" --batch "$batch" \
    "sqlite:$work/bench.db" "$KORVANE_PG_URI"
echo "SQLite file: $(du -ch "$work"/bench.db* | tail -1 | cut -f1)"
size="SELECT pg_size_pretty(pg_database_size(current_database()))"
echo "PostgreSQL database: $(psql -Atq "$KORVANE_PG_URI" -c "$size")"
