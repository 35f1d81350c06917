#!/bin/bash
# Builds the pure text helpers natively with clang's libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs each fuzz target.
#   tools/fuzz.sh            short run (part of tools/test.sh): FUZZ_RUNS runs each
#   FUZZ_SECONDS=600 tools/fuzz.sh   a long run, time-boxed per target
# Regression inputs live in tests/fuzz/corpus/<target>/ and are always replayed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${KORVANE_FUZZ_DIR:-$root/build-fuzz}
runs=${FUZZ_RUNS:-20000}
mkdir -p "$out"

declare -A sources=(
    [format_bounded_fuzz]="base/format_bounded.cpp"
)
# Every target; one built from headers only needs no .sources file.
for fuzzer in "$root"/tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$fuzzer" .cpp)
    [ -n "${sources[$name]+set}" ] || sources[$name]=""
done
for extra in "$root"/tests/fuzz/*.sources; do
    [ -e "$extra" ] || continue
    sources[$(basename "$extra" .sources)]=$(cat "$extra")
done

flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root")
for target in $(printf '%s\n' "${!sources[@]}" | sort); do
    srcs=()
    for s in ${sources[$target]}; do srcs+=("$root/$s"); done
    clang++ "${flags[@]}" "$root/tests/fuzz/$target.cpp" "${srcs[@]}" -o "$out/$target"
    corpus="$root/tests/fuzz/corpus/$target"
    work="$out/corpus-$target"
    mkdir -p "$corpus" "$work"
    limit=(-runs="$runs")
    [ -n "${FUZZ_SECONDS:-}" ] && limit=(-max_total_time="$FUZZ_SECONDS")
    log="$out/$target.log"
    if ! "$out/$target" "${limit[@]}" -max_len=4096 -artifact_prefix="$out/$target-" "$work" "$corpus" >"$log" 2>&1; then
        tail -40 "$log"
        echo "fuzz: $target FAILED (crash input saved as $out/$target-crash-*; keep it in $corpus once fixed)" >&2
        exit 1
    fi
    echo "fuzz: $target ok, $(grep -Eo '^Done [0-9]+ runs' "$log" | tail -1)"
done
