# Sourced by tools/test.sh and tools/bench.sh: prints which kind of machine
# this is, as far as the watch cares (whether hardware breakpoints fire; the
# watch itself needs only int3 and the trap flag, and runs the same on both).
korvane_print_machine_kind() {
    local probe
    probe=$(mktemp /tmp/korvane-dr.XXXXXX)
    if cc -O0 -o "$probe" "$(dirname "${BASH_SOURCE[0]}")/debug_registers.c" 2>/dev/null; then
        timeout 10 "$probe" || true
    else
        echo "debug registers: cannot tell (no C compiler)"
    fi
    rm -f "$probe"
}
