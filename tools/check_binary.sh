#!/bin/bash
# Checks that a built program is a 64-bit Windows GUI executable that imports
# nothing but DLLs every Windows system has.
set -euo pipefail
exe=$1
description=$(file -b "$exe")
echo "$description"
[[ $description == PE32+\ executable\ \(GUI\)\ x86-64* ]] || { echo "not a PE32+ x86-64 GUI executable" >&2; exit 1; }
allowed=" kernel32.dll msvcrt.dll user32.dll gdi32.dll advapi32.dll shell32.dll comdlg32.dll "
status=0
while read -r dll; do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    echo "imports $dll"
    [[ $allowed == *" $lower "* ]] || { echo "imports $dll, which is not a system DLL every Windows has" >&2; status=1; }
done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
exit $status
