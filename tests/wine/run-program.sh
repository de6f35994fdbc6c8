#!/usr/bin/env bash
# One of our Windows test programs under Wine, in the run's session: it must
# exit 0 and leave the line that says it ran all its checks, in its output or
# in a file it writes into its working folder. An exit code alone proves
# nothing (a 32-bit program under a Wine without wine32 exits 0 having run
# nothing).
# Usage: run-program.sh PREFIX BUILD EXE OUTPUT PATTERN
#   BUILD    win32 (needs 32-bit Wine) or win64
#   OUTPUT   "-" for the program's standard output, else a file name
#   PATTERN  extended regular expression a whole line of OUTPUT must match
set -euo pipefail
prefix=$1 build=$2 exe=$3 output=$4 pattern=$5
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
# shellcheck source=testing/missing.sh
. "$tools/../testing/missing.sh"

[ -e "$exe" ] || qm_missing "no $exe (tools/build.sh $build)"
[ -e "$prefix/.qm-wine-prefix" ] || qm_missing "no Wine prefix (wine or Xvfb missing)"
# shellcheck source=tools/wine-env.sh
. "$tools/wine-env.sh"
# shellcheck source=tools/wine-session.sh
. "$tools/wine-session.sh"
if [ "$build" = win32 ] && [ -z "$QM_WINE32" ]; then
  qm_missing_wine32 "no 32-bit Wine (wine32:i386 is not installed)"
fi
if qm_session_use "$prefix"; then
  qm_session_ready "$prefix"
elif [ -z "${QM_IN_XVFB:-}" ]; then
  QM_IN_XVFB=1 exec "$tools/with-xvfb.sh" "$0" "$@"
fi
WINEPREFIX=$(realpath "$prefix")
export WINEPREFIX

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/"
set +e
(cd "$work" && timeout -k 5 60 "$QM_WINE" "$(basename "$exe")" >"$work/stdout" 2>"$work/stderr")
rc=$?
set -e
if [ "$output" = - ]; then result=$work/stdout; else result=$work/$output; fi
tr -d '\r' <"$result" 2>/dev/null | tee "$work/result" || true
fail=0
[ $rc -eq 0 ] || { echo "FAIL: $(basename "$exe") exited $rc"; fail=1; }
grep -Eqx -- "$pattern" "$work/result" || { echo "FAIL: no line matching '$pattern'"; fail=1; }
if [ $fail -ne 0 ]; then echo "--- wine stderr"; tail -n 40 "$work/stderr"; fi
exit $fail
