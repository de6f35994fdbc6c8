#!/usr/bin/env bash
# The demo: installs what is missing, builds the native programs, makes a
# synthetic firmware image, starts the emulated drive in a server process and
# runs the updater against it as drive D: (/dev/sr1) through the preload
# library. Nothing reaches a real drive: every /dev/sr* of this machine is
# fenced off (see below).
# Usage: tools/demo.sh [--unattended]   (unattended is the default without a terminal)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${QM_BUILD_DIR:-$root/build}
mode=interactive
[ -t 0 ] && [ -t 1 ] || mode=unattended
case ${1:-} in
  --unattended) mode=unattended ;;
  --interactive) mode=interactive ;;
  "") ;;
  *) echo "usage: $0 [--unattended|--interactive]" >&2; exit 2 ;;
esac

"$root/tools/install-deps.sh" demo
echo "building (log: $out/demo-build.log)"
mkdir -p "$out"
"$root/tools/build.sh" native >"$out/demo-build.log" 2>&1 || {
  tail -n 40 "$out/demo-build.log"; echo "demo: the build failed" >&2; exit 1; }
bin=$out/native
server=$bin/sim/qm-drive-server
make_image=$bin/sim/qm-make-image
preload=$bin/sim/libqm_sgpreload.so
updater=$bin/app/quillmor

. "$root/tools/drive-server.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmor-demo.XXXXXX")
trap 'qm_stop_drive_server; rm -rf "$work"' EXIT
section() { printf '\n== %s\n' "$*"; }

section "Emulated drive: TORVELL DVD-RW WKZ4471, firmware 1.00, no disc"
cat >"$work/scenario" <<'SCENARIO'
# One drive at D:, as shipped: old firmware, tray closed, no disc.
revision = 1.00
date = 09/07/15
SCENARIO
qm_start_drive_server "$server" "$work" "$work/scenario"
"$server" --socket "$QM_DRIVE_SOCKET" --control status

section "Firmware image: a synthetic Q5518306.707, version 1.10"
"$make_image" -o "$work/Q5518306.707" --version 1.10 --print-digest
image_digest=$("$make_image" --digest-of "$work/Q5518306.707")

# D: is /dev/sr1 to the native updater; every real sr device is fenced off.
dev=/dev/sr1
devices=$(qm_fenced_devices "$dev" D)
with_drive() { LD_PRELOAD=$preload QM_SG_DEVICE=$devices QM_SG_SOCKET=$QM_DRIVE_SOCKET "$@"; }

section "quillmor ($mode) with the image in its current directory"
args=()
[ "$mode" = unattended ] && args=(--yes)
set +e
(cd "$work" && with_drive "$updater" "${args[@]}")
rc=$?
set -e
echo "quillmor exited with $rc"

section "What the drive saw"
"$server" --socket "$QM_DRIVE_SOCKET" --control "transcript D" >"$work/transcript"
"$server" --socket "$QM_DRIVE_SOCKET" --control status
blocks=$(grep -c '^D 3B05F0' "$work/transcript" || true)
echo "$(wc -l <"$work/transcript") commands, $blocks WRITE BUFFER blocks of the image"
if [ "$("$server" --socket "$QM_DRIVE_SOCKET" --control "digest D")" = "$image_digest" ]; then
  echo "the drive holds the image exactly (digest $image_digest)"
elif [ "$blocks" -eq 0 ]; then
  echo "the drive was not updated"
else
  echo "the drive received only part of the image"
fi
exit "$rc"
