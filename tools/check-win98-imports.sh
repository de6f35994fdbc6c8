#!/usr/bin/env bash
# Checks that the 32-bit QUILLMOR.EXE starts on Windows 98: lists every DLL and
# function it imports (objdump) and fails on any that Windows 98 lacks or only
# stubs, by the list in tools/win98-imports.txt, and on a PE header that asks
# for a newer Windows than 4.10.
# Usage: tools/check-win98-imports.sh [EXE] [LIST]
#   EXE   default: build/win32/app/QUILLMOR.EXE (tools/build.sh win32 makes it)
#   LIST  default: tools/win98-imports.txt
# Exit: 0 all imports known present, 1 a failure, 2 no such file or no objdump.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-${QM_BUILD_DIR:-$root/build}/win32/app/QUILLMOR.EXE}
list=${2:-$root/tools/win98-imports.txt}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

command -v "$objdump" >/dev/null || { echo "check-win98-imports: $objdump is not installed" >&2; exit 2; }
[ -f "$exe" ] || { echo "check-win98-imports: no $exe (tools/build.sh win32 builds it)" >&2; exit 2; }
[ -f "$list" ] || { echo "check-win98-imports: no list $list" >&2; exit 2; }

headers=$("$objdump" -p "$exe")
fail=0

if ! "$objdump" -f "$exe" | grep -q 'file format pei-i386$'; then
  echo "FAIL: $exe is not a 32-bit Windows program"; exit 1
fi
# Windows 95/98 refuse a program that asks for a newer system or subsystem.
for field in MajorOSystemVersion MajorSubsystemVersion; do
  value=$(awk -v f="$field" '$1 == f { print $2 }' <<<"$headers")
  minor=$(awk -v f="${field/Major/Minor}" '$1 == f { print $2 }' <<<"$headers")
  if [ "${value:-99}" -gt 4 ] || { [ "${value:-99}" -eq 4 ] && [ "${minor:-99}" -gt 10 ]; }; then
    echo "FAIL: $field $value.$minor: Windows 98 is 4.10"; fail=1
  fi
done

# "DLL FUNCTION" per import, DLL names in lower case; "DLL #ORDINAL" for an import
# by ordinal, which no list can vouch for.
imports=$(awk '
  /^[ \t]*DLL Name:/ { dll = tolower($3); next }
  /^[ \t]*vma:/      { next }
  /^$/               { next }
  dll != "" && /^\t[0-9a-fA-F]+\t/ {
    if (NF >= 3 && $3 != "<none>") print dll, $3; else print dll, "#" $2
  }
  /^ [0-9a-fA-F]+\t/ { dll = "" }   # the next descriptor row
' <<<"$headers" | sort -u)
[ -n "$imports" ] || { echo "FAIL: no imports found in $exe"; exit 1; }

# The list, as "present|missing DLL FUNCTION reason...", DLL names in lower case.
entries=$(awk '!/^[ \t]*(#|$)/ { $2 = tolower($2); print }' "$list")

count=0
while read -r dll name; do
  count=$((count + 1))
  entry=$(awk -v d="$dll" -v n="$name" '$2 == d && $3 == n' <<<"$entries" | head -n 1)
  kind=${entry%% *}
  reason=$(cut -d' ' -f4- <<<"$entry" | sed 's/^ *//')
  if [ "$kind" = present ]; then
    echo "ok      $dll $name${reason:+  ($reason)}"
  elif [ "$kind" = missing ]; then
    echo "FAIL    $dll $name: Windows 98 lacks it ($reason)"; fail=1
  elif [[ $name == \#* ]]; then
    echo "FAIL    $dll import by ordinal $name: cannot be checked"; fail=1
  elif [[ $name == *W ]]; then
    echo "FAIL    $dll $name: a Unicode entry point, a stub that fails on Windows 95/98"; fail=1
  else
    echo "FAIL    $dll $name: not known to be in Windows 98 (look it up, then add it to $(basename "$list"))"; fail=1
  fi
done <<<"$imports"

dlls=$(cut -d' ' -f1 <<<"$imports" | sort -u | tr '\n' ' ')
echo "== $exe: $count functions from ${dlls% }: $([ $fail -eq 0 ] && echo 'all present in Windows 98' || echo FAILED)"
exit $fail
