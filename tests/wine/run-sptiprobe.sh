#!/usr/bin/env bash
# A Windows program under Wine reaches the emulated drive through SPTI:
# CreateFileA("\\.\D:") + DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT).
# Wine's app process issues SG_IO on the file behind dosdevices/d::, which the
# preload library forwards to the drive server.
# Usage: run-sptiprobe.sh PREFIX DEVICE PROBE_EXE SERVER PRELOAD
set -euo pipefail
prefix=$1 device=$2 probe=$3 server=$4 preload=$5
tools=$(cd "$(dirname "$0")/../../tools" && pwd)

[ -n "$probe" ] || { echo "SKIP: no mingw-w64 compiler, sptiprobe.exe not built"; exit 77; }
[ -n "$server" ] && [ -n "$preload" ] || { echo "SKIP: the drive server or preload library is not built"; exit 77; }
[ -e "$prefix/.qm-wine-prefix" ] || { echo "SKIP: no Wine prefix (wine or Xvfb missing)"; exit 77; }
. "$tools/wine-env.sh"
export WINEPREFIX=$(realpath "$prefix")

work=$(mktemp -d)
. "$tools/drive-server.sh"
trap 'qm_stop_drive_server; "$QM_WINESERVER" -k 2>/dev/null; rm -rf "$work"' EXIT

printf 'revision = 1.00\n' >"$work/scenario"
qm_start_drive_server "$server" "$work" "$work/scenario"

# The wineserver must not outlive this test with an environment lacking the
# preload: start from none, and let every Wine process see the library.
"$QM_WINESERVER" -k 2>/dev/null || true
LD_PRELOAD=$preload QM_SG_DEVICE=$device QM_SG_SOCKET=$QM_DRIVE_SOCKET \
  "$QM_WINE" "$probe" >"$work/out" 2>"$work/err" || true
"$QM_WINESERVER" -k 2>/dev/null || true

cat "$work/out"
fail=0
expect() {
  if grep -qxF "$1" "$work/out"; then :; else echo "FAIL: expected line: $1"; fail=1; fi
}
expect "inquiry: TORVELL DVD-RW  WKZ4471"
expect "revision: 1.00"
expect "refusal: status 02 sense 05/20/00"
if [ $fail -ne 0 ]; then
  echo "--- wine stderr"; cat "$work/err"
fi
exit $fail
