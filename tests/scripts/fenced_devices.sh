#!/usr/bin/env bash
# qm_fenced_devices (tools/drive-server.sh), which keeps every real drive of the
# machine away from the demo and the benchmark: were a device left out, the
# updater they run could write a real drive. In a folder of stand-in device
# files, each case checks the mapping it prints; then sg3_utils, through the
# preload library and that mapping, finds the emulated drive at DEVICE and no
# connection at every other device.
# Usage: fenced_devices.sh SERVER PRELOAD
set -euo pipefail
server=$1 preload=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=testing/missing.sh
. "$root/testing/missing.sh"
# shellcheck source=tools/drive-server.sh
. "$root/tools/drive-server.sh"
export LC_ALL=C  # the order in which the folder is listed

work=$(mktemp -d)
trap 'qm_stop_drive_server; rm -rf "$work"' EXIT
fail=0

# name|files in the folder|DEVICE|LETTER|expected, @ standing for the folder
cases='no sr device at all||sr1|D|@/sr1=D
the others each at their own letter|sr0 sr1 sr2|sr1|D|@/sr1=D;@/sr0=C;@/sr2=E
DEVICE absent, the others still fenced|sr0 sr2|sr1|D|@/sr1=D;@/sr0=C;@/sr2=E
as far as Z, the last letter the updater opens|sr9 sr10 sr23 sr24 sr99|sr1|D|@/sr1=D;@/sr10=M;@/sr23=Z;@/sr9=L
DEVICE elsewhere, every sr device fenced|sr0 sr3|other|D|@/other=D;@/sr0=C;@/sr3=F
names the updater never opens|sr01 sr08 sr1a|sr1|D|@/sr1=D'
n=0
while IFS='|' read -r name files device letter expected; do
  n=$((n + 1))
  d=$work/case$n
  mkdir -p "$d"
  for f in $files; do : >"$d/$f"; done
  got=$(qm_fenced_devices "$d/$device" "$letter" "$d" 2>"$d/stderr")
  want=${expected//@/$d}
  if [ "$got" = "$want" ] && [ ! -s "$d/stderr" ]; then
    echo "ok: $name"
  else
    echo "FAIL: $name: got '$got', expected '$want'"
    cat "$d/stderr"
    fail=1
  fi
done <<<"$cases"

# The mapping at work: the preload library serves DEVICE from the server's drive
# and answers every other device itself, without the device ever seeing SG_IO.
command -v sg_inq >/dev/null || qm_missing "sg3-utils is not installed (sg_inq missing)"
d=$work/devices
mkdir -p "$d"
: >"$d/sr0"
: >"$d/sr1"
: >"$d/sr2"
printf 'revision = 1.00\n' >"$work/scenario"
qm_start_drive_server "$server" "$work" "$work/scenario"
devices=$(qm_fenced_devices "$d/sr1" D "$d")
inquiry() { LD_PRELOAD=$preload QM_SG_DEVICE=$devices QM_SG_SOCKET=$QM_DRIVE_SOCKET sg_inq -v "$1" 2>&1 || true; }
if inquiry "$d/sr1" | grep -q 'Vendor identification: TORVELL'; then
  echo "ok: sr1 is the emulated drive D"
else
  echo "FAIL: sr1 did not answer as the emulated drive D"; inquiry "$d/sr1"; fail=1
fi
before=$("$server" --socket "$QM_DRIVE_SOCKET" --control "transcript D" | wc -l)
for dev in sr0 sr2; do
  if inquiry "$d/$dev" | grep -q 'DID_NO_CONNECT'; then
    echo "ok: $dev answered by the preload library: no connection"
  else
    echo "FAIL: $dev was not fenced off"; inquiry "$d/$dev"; fail=1
  fi
done
after=$("$server" --socket "$QM_DRIVE_SOCKET" --control "transcript D" | wc -l)
if [ "$after" -ne "$before" ]; then
  echo "FAIL: the fenced devices reached the emulated drive D"; fail=1
fi
exit $fail
