#!/bin/bash
# Installs what building and testing Korvane needs on Debian, when it is missing.
set -euo pipefail

packages=()
need() { command -v "$1" >/dev/null 2>&1 || packages+=("$2"); }
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
dpkg -s wine64 >/dev/null 2>&1 || packages+=(wine64)  # wine64 is not on PATH in Debian 12
need wine wine
need Xvfb xvfb
need cmake cmake
need xdotool xdotool
need import imagemagick
need python3 python3
need clang++ clang
[ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(googletest)
# libFuzzer and the sanitizers' runtimes for the native fuzz runs.
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || packages+=(libclang-rt-14-dev)
[ ${#packages[@]} -eq 0 ] && exit 0

echo "Installing: ${packages[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
