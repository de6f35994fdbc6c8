#!/usr/bin/env bash
# sg3_utils, a client we did not write, against the emulated drives: the drive
# server holds them, the preload library turns SG_IO on two plain files into
# requests to it. Checks the answers, the server's transcript and the digest of
# the image the drive received.
# Usage: sg3_proof.sh SERVER PRELOAD MAKE_IMAGE
set -euo pipefail
server=$1 preload=$2 make_image=$3
# shellcheck source=testing/missing.sh
. "$(dirname "$0")/../../testing/missing.sh"

for tool in sg_inq sg_turs sg_read_buffer sg_write_buffer sg_raw; do
  command -v "$tool" >/dev/null || qm_missing "sg3-utils is not installed ($tool missing)"
done

work=$(mktemp -d)
pid=
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

sock=$work/drive.sock
dev_d=$work/sr-d
dev_e=$work/sr-e
: >"$dev_d"
: >"$dev_e"
cat >"$work/scenario" <<'EOF'
drive = D
revision = 1.00
date = 09/07/15
disc = present
drive = E
EOF

"$server" --socket "$sock" --scenario "$work/scenario" --state "$work/state" >"$work/server.log" 2>&1 &
pid=$!
# A real process: wait for its socket, briefly and boundedly.
for _ in $(seq 100); do
  [ -S "$sock" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
[ -S "$sock" ] || { echo "FAIL: the drive server did not start"; cat "$work/server.log"; exit 1; }

sg() { LD_PRELOAD=$preload QM_SG_DEVICE="$dev_d=D;$dev_e=E" QM_SG_SOCKET=$sock "$@"; }
ctl() { "$server" --socket "$sock" --control "$*"; }

fail=0
pass() { echo "ok: $1"; }
bad() { echo "FAIL: $1"; fail=1; }
has() { grep -qF -- "$2" "$1"; }

# INQUIRY.
sg sg_inq "$dev_d" >"$work/inq" 2>&1 || true
if has "$work/inq" "Vendor identification: TORVELL" && has "$work/inq" "Product identification: DVD-RW  WKZ4471" &&
   has "$work/inq" "Product revision level: 1.00"; then
  pass "sg_inq shows TORVELL DVD-RW  WKZ4471 revision 1.00"
else
  bad "sg_inq"; cat "$work/inq"
fi

# TEST UNIT READY: D holds a disc; E is empty, and its sense comes back through SG_IO.
if sg sg_turs "$dev_d" >"$work/turs" 2>&1; then pass "sg_turs on D succeeds"; else bad "sg_turs on D"; cat "$work/turs"; fi
set +e
sg sg_turs -v "$dev_e" >"$work/turs-e" 2>&1
rc=$?
set -e
if [ $rc -eq 2 ] && has "$work/turs-e" "Medium not present"; then
  pass "sg_turs on E: not ready, medium not present"
else
  bad "sg_turs on E (exit $rc)"; cat "$work/turs-e"
fi

# The identification block. sg_read_buffer of sg3_utils 1.45/1.46 drops --length
# and sends allocation length 0; then the drive rightly returns nothing, and the
# block is read with sg_raw instead.
ctl clear
sg sg_read_buffer --mode=2 --id=0xf1 --length=48 --hex --hex "$dev_d" >"$work/rb" 2>&1 || true
if has "$work/rb" "0082VARNDT  5518"; then
  pass "sg_read_buffer shows the signature"
elif ctl "transcript D" | grep -q '^D 3C02F1000000000000'; then
  echo "note: this sg_read_buffer sent allocation length 0 (its --length is ignored); using sg_raw"
  sg sg_raw -r 48 "$dev_d" 3c 02 f1 00 00 00 00 00 30 00 >"$work/raw" 2>&1 || true
  if has "$work/raw" "0082VARNDT  5518" && grep -q '^ 20 *01 ' "$work/raw"; then
    pass "READ BUFFER mode 02h buffer F1h shows the signature and state byte 01"
  else
    bad "sg_raw READ BUFFER"; cat "$work/raw"
  fi
else
  bad "sg_read_buffer"; cat "$work/rb"
fi

# The download: 60 WRITE BUFFER commands at offsets 0..1D8000h, received intact.
image=$work/Q5518306.707
"$make_image" -o "$image" --version 1.10
ctl clear
if sg sg_write_buffer --mode=5 --id=0xf0 --bpw=32k --in="$image" "$dev_d" >"$work/wb" 2>&1; then
  pass "sg_write_buffer of the image succeeds"
else
  bad "sg_write_buffer"; cat "$work/wb"
fi
ctl "transcript D" >"$work/transcript"
expected=$(for n in $(seq 0 59); do printf '3B05F0%06X008000 len=32768 status=00 xfer=32768\n' $((n * 0x8000)); done)
actual=$(awk '{ print substr($2, 1, 18), $5, $6, $8 }' "$work/transcript")
if [ "$expected" = "$actual" ]; then
  pass "transcript: 60 WRITE BUFFER commands, offsets 000000..1D8000, 32 KiB each"
else
  bad "transcript of the download"; cat "$work/transcript"
fi
drive_digest=$(ctl "digest D")
file_digest=$("$make_image" --digest-of "$image")
if [ "$drive_digest" = "$file_digest" ]; then
  pass "the drive's image digest equals the file's ($file_digest)"
else
  bad "digest: drive $drive_digest, file $file_digest"
fi
if [ "$(grep -c ' 3B05F0' "$work/state/transcript.txt")" -eq 60 ]; then
  pass "the state folder's transcript holds the download"
else
  bad "state folder transcript"
fi
# The status file is written on request: a control command makes it current.
ctl status >/dev/null
if grep -q "^D .* download=1966080 .*digest=$file_digest " "$work/state/status.txt"; then
  pass "after a control command the state folder's status holds the download and its digest"
else
  bad "status file after a control command"; cat "$work/state/status.txt"
fi

# The mode switch after the complete download applies the image; the drive kept
# the download across client processes.
printf 'TORVELL  WKZ-H51\x93\x7c\x1a\x5e' >"$work/wrong-switch"
truncate -s 256 "$work/wrong-switch"
printf 'TORVELL  WKZ-H52\x93\x7c\x1a\x5e' >"$work/switch"
truncate -s 256 "$work/switch"
if sg sg_write_buffer --mode=5 --id=0xff --in="$work/wrong-switch" "$dev_d" >/dev/null 2>&1; then
  bad "a wrong mode-switch block was accepted"
elif ctl "transcript D" | tail -1 | grep -q 'sense=05/26/00'; then
  pass "a wrong mode-switch block is refused with 05/26/00"
else
  bad "wrong mode-switch block refused with unexpected sense"
fi
sg sg_write_buffer --mode=5 --id=0xff --in="$work/switch" "$dev_d" >/dev/null 2>&1 || bad "mode switch refused"
sg sg_inq "$dev_d" >"$work/inq2" 2>&1 || true
if has "$work/inq2" "Product revision level: 1.10"; then
  pass "after the switch the drive reports the image's revision 1.10"
else
  bad "revision after the switch"; cat "$work/inq2"; ctl status
fi

# A server that ends leaves the status current, commands since the last
# control command included.
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
if grep -q '^D revision=1.10 .* applied=1 ' "$work/state/status.txt"; then
  pass "the status file left by the ended server shows the switch"
else
  bad "status file after the server ended"; cat "$work/state/status.txt"
fi

exit $fail
