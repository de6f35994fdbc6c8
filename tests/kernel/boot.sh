#!/usr/bin/env bash
# One boot for every kernel scenario: tools/kernel-vm.sh runs tests/kernel/guest.sh
# with this build's programs; check.sh then judges each scenario's folder.
# Usage: boot.sh OUT CACHE BUILD QUILLMOR USB-DRIVE MAKE-IMAGE
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
out=$1 cache=$2 build=$3
rm -rf "$out"
mkdir -p "$out"
printf 'QM_QUILLMOR=%s\nQM_USB_DRIVE=%s\nQM_MAKE_IMAGE=%s\n' "$4" "$5" "$6" >"$out/env"
bash "$here/tools/kernel-vm.sh" --cache "$cache" --share "$build" --out "$out" "$here/tests/kernel/guest.sh" \
  2> >(tee "$out/vm.txt" >&2)
status=$?
wait
echo "$status" >"$out/boot-rc"
if [ "$status" -ne 0 ]; then
  [ "$status" -eq 77 ] && exit 77
  echo "FAIL: the guest ended with $status"
  for f in guest.log serial.log; do
    echo "--- $f"
    tail -40 "$out/$f" 2>/dev/null
  done
  exit 1
fi
cat "$out/guest.log"
