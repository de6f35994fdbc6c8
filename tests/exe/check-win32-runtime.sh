#!/usr/bin/env bash
# The runtime of the Windows builds: every C++ runtime failure ends the process
# at once with exit code 1 (os/win32/runtime_support.cpp), what an unattended
# run reports for every end that is not an update; snprintf always ends its text
# with a NUL and tells a cut; the version rule decides as on Linux (the i686
# build computes on the x87). Runs win32_runtime_check.exe of each Windows build
# under Wine (i686 through the 32-bit loader when it is there).
# Usage: check-win32-runtime.sh PREFIX WIN32_BUILD WIN64_BUILD
set -euo pipefail
prefix=$1 win32=$2 win64=$3
tools=$(cd "$(dirname "$0")/../../tools" && pwd)

[ -e "$prefix/.qm-wine-prefix" ] || { echo "SKIP: no Wine prefix (wine or Xvfb missing)"; exit 77; }
. "$tools/wine-env.sh"
export WINEPREFIX=$(realpath "$prefix")
"$QM_WINESERVER" -k 2>/dev/null || true
trap '"$QM_WINESERVER" -k 2>/dev/null || true' EXIT

# case|exit code|what it prints (lines joined by ';'). A failure prints nothing:
# "survived" would mean the program went on after it.
cases='snprintf|0|cut 4 abc;full 4 123;fits 3 123;formats 11 D: 0a--5 ok
versions|0|1.10 1.1  0;1.1  1.10 0;1.30 1.3  0;2.2  2.20 0
new|1|
nothrow-new|0|null
vector|1|
string|1|
map|1|
pure|1|
terminate|1|'

fail=0
ran=0
for build in "$win32" "$win64"; do
  exe=$(find "$build" -name win32_runtime_check.exe -type f -not -path '*/CMakeFiles/*' 2>/dev/null | head -n 1 || true)
  if [ -z "$exe" ]; then echo "note: no win32_runtime_check.exe in $build"; continue; fi
  loader=$QM_WINE
  if [ "$build" = "$win32" ]; then
    loader=$(command -v wine || true)
    if [ -z "$loader" ] || [ ! -e /usr/lib/wine/wine ]; then echo "note: no 32-bit Wine for $exe"; continue; fi
  fi
  ran=1
  while IFS='|' read -r name code expected; do
    set +e
    out=$(timeout 60 "$loader" "$exe" "$name" 2>/dev/null | tr -d '\r' | paste -sd ';')
    rc=${PIPESTATUS[0]}
    set -e
    if [ "$rc" = "$code" ] && [ "$out" = "$expected" ]; then
      echo "ok: $(basename "$build") $name: exit $rc"
    else
      echo "FAIL: $(basename "$build") $name: exit $rc, printed '${out:0:200}'; expected exit $code, '$expected'"
      fail=1
    fi
  done <<<"$cases"
done
[ "$ran" = 1 ] || { echo "SKIP: no Windows build with win32_runtime_check.exe"; exit 77; }
exit $fail
