#!/usr/bin/env bash
# Creates a throw-away 64-bit Wine prefix whose drive D: is the emulated drive.
# Usage: tools/wine-prefix.sh PREFIX DEVICE [LETTER]
#   PREFIX  folder to (re)create; anything in it is deleted
#   DEVICE  the file the preload library serves as the drive (created empty
#           when missing: it only has to exist so Wine can open it)
#   LETTER  drive letter to map (default d)
# Wine opens "\\.\D:" through dosdevices/d:: (the device) and needs
# dosdevices/d: (a folder) for the drive to exist at all; the registry entry
# "d:"="cdrom" makes it a CD-ROM, so DeviceIoControl reaches the SCSI
# pass-through code that issues SG_IO. Takes ~25 s (wineboot), so callers make
# one prefix per run. Needs an X display; runs its own Xvfb when DISPLAY is
# unset.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX DEVICE [LETTER]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1
device=$(realpath -m "$2")
letter=$(printf '%s' "${3:-d}" | tr 'A-Z' 'a-z')

if [ -z "${DISPLAY:-}" ]; then
  exec "$here/with-xvfb.sh" "$0" "$@"
fi

. "$here/wine-env.sh"

# Refuse to wipe a folder that is not empty and not a prefix made here.
if [ -n "$(ls -A "$prefix" 2>/dev/null)" ] && [ ! -e "$prefix/.qm-wine-prefix" ]; then
  echo "wine-prefix: $prefix is not empty and not a prefix made by this script" >&2
  exit 2
fi
if [ -e "$prefix" ]; then
  WINEPREFIX=$(realpath "$prefix") "$QM_WINESERVER" -k 2>/dev/null || true
  rm -rf "$prefix"
fi
mkdir -p "$prefix"
export WINEPREFIX=$(realpath "$prefix")
touch "$WINEPREFIX/.qm-wine-prefix"

start=$(date +%s)
# No Mono or Gecko: nothing here needs them, and their installers would ask.
WINEDLLOVERRIDES="mscoree,mshtml=" "$QM_WINE" wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1 || {
  echo "wine-prefix: wineboot failed:" >&2; cat "$WINEPREFIX/wineboot.log" >&2; exit 1; }
"$QM_WINESERVER" -w

[ -e "$device" ] || : >"$device"
mkdir -p "$WINEPREFIX/drive_$letter"
ln -sfn "$device" "$WINEPREFIX/dosdevices/$letter::"
ln -sfn "../drive_$letter" "$WINEPREFIX/dosdevices/$letter:"
# /reg:64 so the key lands in the 64-bit view, where Wine's mount manager reads
# it, even when a 32-bit Wine is also present.
"$QM_WINE" reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /t REG_SZ /d cdrom /f /reg:64 \
  >>"$WINEPREFIX/wineboot.log" 2>&1
"$QM_WINESERVER" -w
echo "wine-prefix: $WINEPREFIX ready in $(( $(date +%s) - start )) s; $letter: -> $device"
