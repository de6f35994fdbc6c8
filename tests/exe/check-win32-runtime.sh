#!/usr/bin/env bash
# The runtime of a Windows build: every C++ runtime failure ends the process at
# once with exit code 1 (os/win32/runtime_support.cpp), what an unattended run
# reports for every end that is not an update; snprintf always ends its text
# with a NUL and tells a cut. Runs win32_runtime_check.exe of one build under
# Wine, in the run's session.
# Usage: check-win32-runtime.sh PREFIX BUILD EXE   (BUILD: win32 or win64)
set -euo pipefail
prefix=$1 build=$2 exe=$3
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/../wine/lib.sh"
qm_wine_program "$prefix" "$build" "$exe" "$0" "$@"

# case|exit code|what it prints (lines joined by ';'). A failure prints nothing:
# "survived" would mean the program went on after it.
cases='snprintf|0|cut 4 abc;full 4 123;fits 3 123;formats 11 D: 0a--5 ok
new|1|
nothrow-new|0|null
vector|1|
string|1|
map|1|
pure|1|
terminate|1|'

fail=0
while IFS='|' read -r name code expected; do
  set +e
  out=$(timeout -k 5 60 "$QM_WINE" "$exe" "$name" 2>/dev/null | tr -d '\r' | paste -sd ';')
  rc=${PIPESTATUS[0]}
  set -e
  if [ "$rc" = "$code" ] && [ "$out" = "$expected" ]; then
    echo "ok: $build $name: exit $rc"
  else
    echo "FAIL: $build $name: exit $rc, printed '${out:0:200}'; expected exit $code, '$expected'"
    fail=1
  fi
done <<<"$cases"
exit $fail
