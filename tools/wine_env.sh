# Sourced by the tools: a private Wine prefix in the build folder, a Russian
# system (code page 1251), no HTTP proxy, and a persistent booted Wine server;
# with KORVANE_XVFB=1 also an Xvfb on a free display, whose windows Wine does
# not leave to a window manager (there is none: Wine would wait 2 s for it each
# time a window is hidden, a file dialog's closing included, and draws the
# frames itself, as Windows does). korvane_wine_stop ends
# what korvane_wine_start started. Helper output goes to /dev/null: the first
# Wine process starts services that would otherwise hold our pipes open.

korvane_wine_start() {
    local build_dir=$1
    export WINEPREFIX="$build_dir/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export LC_ALL=ru_RU.UTF-8
    unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
    KORVANE_XVFB_PID=
    if [ "${KORVANE_XVFB:-0}" = 1 ]; then
        local display_file
        display_file=$(mktemp)
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
        KORVANE_XVFB_PID=$!
        for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
        export DISPLAY=":$(head -n1 "$display_file")"
        rm -f "$display_file"
    fi
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 || true  # already running for this prefix is fine
    wine wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    if [ -n "$KORVANE_XVFB_PID" ]; then
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    else
        wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true
    fi
}

korvane_wine_stop() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${KORVANE_XVFB_PID:-}" ]; then
        kill "$KORVANE_XVFB_PID" >/dev/null 2>&1 || true
        wait "$KORVANE_XVFB_PID" 2>/dev/null || true
    fi
}
