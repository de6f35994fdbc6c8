#!/usr/bin/env bash
# QUILLMOR.EXE itself, the x86_64 build, under Wine: "/au" against the emulated
# drive at D: with a newer image in the current directory. The exit code alone
# proves nothing under Wine, so the drive's own record is checked: it received
# the whole image, in order, and now reports the image's revision.
# Usage: run-unattended.sh PREFIX DEVICE WIN64_BUILD_DIR SERVER PRELOAD MAKE_IMAGE
set -euo pipefail
prefix=$1 device=$2 winbuild=$3 server=$4 preload=$5 make_image=$6
tools=$(cd "$(dirname "$0")/../../tools" && pwd)

[ -n "$server" ] && [ -n "$preload" ] && [ -n "$make_image" ] ||
  { echo "SKIP: the emulated drive is not built"; exit 77; }
exe=$(find "$winbuild" -name QUILLMOR.EXE -type f -not -path '*/CMakeFiles/*' 2>/dev/null | head -n 1)
[ -n "$exe" ] || { echo "SKIP: no x86_64 QUILLMOR.EXE in $winbuild (tools/build.sh win64 makes it)"; exit 77; }
[ -e "$prefix/.qm-wine-prefix" ] || { echo "SKIP: no Wine prefix (wine or Xvfb missing)"; exit 77; }
. "$tools/wine-env.sh"
. "$tools/drive-server.sh"
export WINEPREFIX=$(realpath "$prefix")

work=$(mktemp -d)
trap 'qm_stop_drive_server; "$QM_WINESERVER" -k 2>/dev/null || true; rm -rf "$work"' EXIT

printf 'revision = 1.00\ndate = 09/07/15\n' >"$work/scenario"
qm_start_drive_server "$server" "$work" "$work/scenario"
mkdir "$work/run"
cp "$exe" "$work/run/QUILLMOR.EXE"
"$make_image" -o "$work/run/Q5518306.707" --version 1.10 >/dev/null
image_digest=$("$make_image" --digest-of "$work/run/Q5518306.707")

"$QM_WINESERVER" -k 2>/dev/null || true
set +e
# Even the hidden unattended dialog needs a display. A failure shows a message
# box that nobody answers here: the time limit turns that into a failure with
# the transcript rather than a hung test.
(cd "$work/run" && LD_PRELOAD=$preload QM_SG_DEVICE="$(realpath "$device")=D" QM_SG_SOCKET=$QM_DRIVE_SOCKET \
  timeout -k 5 60 "$tools/with-xvfb.sh" "$QM_WINE" QUILLMOR.EXE /au) >"$work/out" 2>&1
rc=$?
[ $rc -ne 124 ] || echo "FAIL: QUILLMOR.EXE did not end within 60 s (a message box waiting?)"
set -e
"$QM_WINESERVER" -k 2>/dev/null || true

ctl() { "$server" --socket "$QM_DRIVE_SOCKET" --control "$*"; }
ctl "transcript D" >"$work/transcript"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
[ $rc -eq 0 ] || bad "QUILLMOR.EXE /au exited $rc, expected 0"
# The image blocks in order, 32 KiB each, all accepted.
expected=$(for n in $(seq 0 59); do printf '3B05F0%06X008000 len=32768 status=00\n' $((n * 0x8000)); done)
actual=$(awk '$2 ~ /^3B05F0/ { print substr($2, 1, 18), $5, $6 }' "$work/transcript")
[ "$expected" = "$actual" ] || bad "the image was not sent as 60 blocks at 000000..1D8000"
# The last command of the download is followed by the final mode switch.
awk '$2 ~ /^3B05/ { last = substr($2, 1, 6) } END { exit last == "3B05FF" ? 0 : 1 }' "$work/transcript" ||
  bad "no mode switch after the last block"
[ "$(ctl "digest D")" = "$image_digest" ] || bad "the drive's image differs from the file"
ctl "status D" | grep -q ' revision=1.10 date=09/08/21 ' || bad "the drive does not report the image's revision: $(ctl "status D")"

echo "QUILLMOR.EXE /au exited $rc; the drive received $(grep -c . "$work/transcript") commands"
if [ $fail -ne 0 ]; then
  echo "--- transcript"; cat "$work/transcript"
  echo "--- output"; cat "$work/out"
fi
exit $fail
