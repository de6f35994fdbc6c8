#!/usr/bin/env bash
# A Windows program under Wine reaches the emulated drive through SPTI:
# CreateFileA("\\.\D:") + DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT).
# Wine's app process issues SG_IO on the file behind dosdevices/d::, which the
# preload library forwards to the drive server. Checks what the program printed
# and what the drive received.
# Usage: run-sptiprobe.sh PREFIX DEVICE PROBE_EXE SERVER PRELOAD [PRELOAD_32]
#   PRELOAD_32  given for a 32-bit PROBE_EXE: the 32-bit copy PRELOAD names
set -euo pipefail
prefix=$1 device=$2 probe=$3 server=$4 preload=$5 preload32=${6-}
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
# shellcheck source=testing/missing.sh
. "$tools/../testing/missing.sh"

[ -n "$probe" ] || qm_missing "no mingw-w64 compiler, sptiprobe.exe not built"
if [ -z "$server" ] || [ -z "$preload" ]; then qm_missing "the drive server or preload library is not built"; fi
[ -e "$prefix/.qm-wine-prefix" ] || qm_missing "no Wine prefix (wine or Xvfb missing)"
# shellcheck source=tools/wine-env.sh
. "$tools/wine-env.sh"
# shellcheck source=tools/wine-session.sh
. "$tools/wine-session.sh"
# shellcheck source=tools/drive-server.sh
. "$tools/drive-server.sh"
if [ $# -ge 6 ]; then
  if [ -z "$preload32" ] || [ ! -e "$preload32" ]; then
    qm_missing "no 32-bit preload library (a 32-bit C compiler: gcc-multilib)"
  fi
  [ -n "$QM_WINE32" ] || qm_missing_wine32 "no 32-bit Wine (wine32:i386 is not installed)"
fi
WINEPREFIX=$(realpath "$prefix")
export WINEPREFIX

# In the run's session the wineserver stays; on its own the probe starts from
# no wineserver, so none lingers from before with another environment.
session=0
if qm_session_use "$prefix"; then
  session=1
  qm_session_ready "$prefix"
fi
stop_server() {
  [ $session = 1 ] && return 0
  "$QM_WINESERVER" -k 2>/dev/null || true
  "$QM_WINESERVER" -w 2>/dev/null || true  # gone, not going: a client could catch it on its way out
}

work=$(mktemp -d)
trap 'qm_stop_drive_server; stop_server; rm -rf "$work"' EXIT

printf 'revision = 1.00\ndate = 09/07/15\n' >"$work/scenario"
qm_start_drive_server "$server" "$work" "$work/scenario"

stop_server
set +e
LD_PRELOAD=$preload QM_SG_DEVICE="$(realpath "$device")=D" QM_SG_SOCKET=$QM_DRIVE_SOCKET \
  "$QM_WINE" "$probe" D >"$work/out.crlf" 2>"$work/err"
rc=$?
set -e
stop_server
tr -d '\r' <"$work/out.crlf" >"$work/out"  # a Windows console program writes CRLF

cat "$work/out"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
expect() { grep -qxF -- "$1" "$work/out" || bad "expected the line '$1'"; }
[ $rc -eq 0 ] || bad "sptiprobe.exe exited $rc"
expect "drive type: 5"  # DRIVE_CDROM: the prefix made D: a CD-ROM drive
expect "inquiry: TORVELL DVD-RW  WKZ4471"
expect "revision: 1.00"
expect "refusal: status 02 sense 05/20/00"

# The exit code alone proves nothing under Wine: the drive must have seen both
# commands, as sent (CDB length, direction, transfer length).
"$server" --socket "$QM_DRIVE_SOCKET" --control "transcript D" >"$work/transcript"
grep -q '^D 12000000FE00000000000000 cdblen=6 dir=in len=254 status=00 ' "$work/transcript" ||
  bad "the drive did not receive the INQUIRY as sent"
grep -q '^D E70000000000000000000000 cdblen=12 dir=none len=0 status=02 sense=05/20/00' "$work/transcript" ||
  bad "the drive did not receive the unknown command as sent"
if [ $fail -ne 0 ]; then
  echo "--- transcript"; cat "$work/transcript"
  echo "--- wine stderr"; cat "$work/err"
fi
exit $fail
