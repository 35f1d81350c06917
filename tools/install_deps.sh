#!/bin/bash
# Installs what building and testing Korvane needs on Debian, when it is missing.
set -euo pipefail

packages=()
need() { command -v "$1" >/dev/null 2>&1 || packages+=("$2"); }
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
# The 32-bit DLL of the import check's wrong-machine target.
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
dpkg -s wine64 >/dev/null 2>&1 || packages+=(wine64)  # wine64 is not on PATH in Debian 12
need wine wine
need Xvfb xvfb
need cmake cmake
need xdotool xdotool
need import imagemagick
need python3 python3
need file file
need clang++ clang
[ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(googletest)
# libFuzzer and the sanitizers' runtimes for the native fuzz runs.
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || packages+=(libclang-rt-14-dev)
dpkg -s locales >/dev/null 2>&1 || packages+=(locales)
# The report collector, built natively: the host compiler, Boost (Beast and
# Asio), SQLite, libpqxx, a PostgreSQL server for its tests, libsodium for
# password hashing, and Chromium for the page's tests in a real browser.
for package in g++ pkg-config libboost-dev libsqlite3-dev libpqxx-dev postgresql libsodium-dev chromium; do
    dpkg -s "$package" >/dev/null 2>&1 || packages+=("$package")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# Wine runs as on a Russian system (LC_ALL=ru_RU.UTF-8 gives code page 1251);
# without the generated glibc locale, file names outside ASCII cannot be created.
ensure_russian_locale() {
    locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' && return 0
    "${sudo_cmd[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo_cmd[@]}" locale-gen >/dev/null
}

if [ ${#packages[@]} -eq 0 ]; then
    ensure_russian_locale
    exit 0
fi

echo "Installing: ${packages[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
ensure_russian_locale
