# Sourced by tools/test.sh and tools/bench_store.sh: a private PostgreSQL 15
# cluster for the collector's tests, in a temporary folder, listening on
# 127.0.0.1 (and a socket in that folder) on the first free port from
# KORVANE_PG_PORTS (default 19200-19299).
#   korvane_pg_start   initdb, start, create the database, export KORVANE_PG_URI
#   korvane_pg_stop    stop the server and remove the folder
# PostgreSQL refuses to run as root; as root the cluster belongs to the
# "postgres" user of Debian's package. fsync is off unless KORVANE_PG_FSYNC=on
# (a test cluster is thrown away; the benchmark turns it on).

KORVANE_PG_BIN=${KORVANE_PG_BIN:-/usr/lib/postgresql/15/bin}

korvane_pg_as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

korvane_pg_start() {
    local ports=${KORVANE_PG_PORTS:-19200-19299}
    local first=${ports%-*} last=${ports#*-} port
    KORVANE_PG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/korvane-pg.XXXXXX")
    [ "$(id -u)" -eq 0 ] && chown postgres: "$KORVANE_PG_DIR"
    korvane_pg_as_owner "$KORVANE_PG_BIN/initdb" -D "$KORVANE_PG_DIR/data" -U korvane -A trust -E UTF8 \
        --locale=C.UTF-8 >"$KORVANE_PG_DIR/initdb.log" 2>&1 || {
        cat "$KORVANE_PG_DIR/initdb.log" >&2
        return 1
    }
    for ((port = first; port <= last; port++)); do
        # A port another cluster holds makes the start fail; the next is tried.
        local settings="-p $port -k $KORVANE_PG_DIR -c listen_addresses=127.0.0.1 -c fsync=${KORVANE_PG_FSYNC:-off}"
        if korvane_pg_as_owner "$KORVANE_PG_BIN/pg_ctl" -D "$KORVANE_PG_DIR/data" -l "$KORVANE_PG_DIR/server.log" \
            -w -t 60 -o "$settings" start >/dev/null 2>&1; then
            korvane_pg_as_owner "$KORVANE_PG_BIN/createdb" -h "$KORVANE_PG_DIR" -p "$port" -U korvane korvane \
                || return 1
            export KORVANE_PG_URI="postgresql://korvane@127.0.0.1:$port/korvane"
            echo "PostgreSQL for the tests: $KORVANE_PG_URI"
            return 0
        fi
    done
    echo "PostgreSQL would not start on any port of $ports:" >&2
    tail -5 "$KORVANE_PG_DIR/server.log" >&2
    return 1
}

korvane_pg_stop() {
    [ -n "${KORVANE_PG_DIR:-}" ] || return 0
    if [ -f "$KORVANE_PG_DIR/data/postmaster.pid" ]; then
        korvane_pg_as_owner "$KORVANE_PG_BIN/pg_ctl" -D "$KORVANE_PG_DIR/data" -m fast -w stop >/dev/null || true
    fi
    rm -rf "$KORVANE_PG_DIR"
    unset KORVANE_PG_DIR KORVANE_PG_URI
}
