#!/usr/bin/env bash
# Runs the SG_IO tests of the transport against the emulated drive served by the
# drive server, through the preload library, and checks what the drive received.
# usage: sg_io_test.sh SERVER PRELOAD TESTS
set -euo pipefail
server=$1 preload=$2 tests=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/drive-server.sh"

work=$(mktemp -d)
trap 'qm_stop_drive_server; rm -rf "$work"' EXIT
: >"$work/scenario"  # one drive at D:, no disc
qm_start_drive_server "$server" "$work" "$work/scenario"

# The Linux device seam opens D: as /dev/sr1; the preload library serves that
# path (an absent path opens as a stand-in) from the server's drive.
QM_SG_DEVICE=/dev/sr1=D QM_SG_SOCKET=$QM_DRIVE_SOCKET LD_PRELOAD=$preload "$tests"

transcript=$("$server" --socket "$QM_DRIVE_SOCKET" --control "transcript D")
echo "$transcript"
# The data-out request reached the drive as sent: WRITE BUFFER of 32 KiB at 8000h.
grep -q '3B05F0008000008000000000 cdblen=12 dir=out len=32768 status=00 .* xfer=32768' <<<"$transcript" ||
  { echo "no WRITE BUFFER of 32 KiB at 8000h in the transcript" >&2; exit 1; }
