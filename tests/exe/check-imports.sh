#!/usr/bin/env bash
# The shipped .exe must start on a bare Windows: right machine type, GUI
# subsystem, and no DLL beyond the system's (a mingw runtime DLL such as
# libstdc++-6.dll or libwinpthread-1.dll would be missing on users' machines).
# Usage: check-imports.sh BUILD_DIR EXE_NAME OBJDUMP FORMAT   (FORMAT: pei-i386 | pei-x86-64)
set -euo pipefail
build=$1 name=$2 objdump=$3 format=$4
# shellcheck source=testing/missing.sh
. "$(dirname "$0")/../../testing/missing.sh"

[ -d "$build" ] || qm_missing "no Windows build at $build (tools/build.sh makes it)"
exe=$(find "$build" -name "$name" -type f -not -path '*/CMakeFiles/*' | head -n 1)
[ -n "$exe" ] || qm_missing "$name is not built in $build"
command -v "$objdump" >/dev/null || qm_missing "$objdump is not installed"

# DLLs every Windows from 95/NT 4 on carries in its system directory.
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll comctl32.dll comdlg32.dll shell32.dll msvcrt.dll "

fail=0
headers=$("$objdump" -p "$exe")
if ! "$objdump" -f "$exe" | grep -q "file format $format\$"; then
  echo "FAIL: $exe is not $format:"; "$objdump" -f "$exe" | grep 'file format'; fail=1
fi
if ! grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$headers"; then
  echo "FAIL: $exe is not a GUI program:"; grep '^Subsystem' <<<"$headers"; fail=1
fi
dlls=$(grep -E '^[[:space:]]*DLL Name:' <<<"$headers" | awk '{ print tolower($3) }' | sort -u)
[ -n "$dlls" ] || { echo "FAIL: no import table found"; fail=1; }
for dll in $dlls; do
  case $allowed in
    *" $dll "*) echo "ok: imports $dll" ;;
    *) echo "FAIL: imports $dll, which Windows does not provide"; fail=1 ;;
  esac
done
exit $fail
