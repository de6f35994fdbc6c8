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
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
qm_wine_program "$prefix" "$build" "$exe" "$0" "$@"

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
