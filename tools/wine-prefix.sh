#!/usr/bin/env bash
# Creates a throw-away 64-bit Wine prefix whose drive D: is the emulated drive.
# With 32-bit Wine installed it is a WoW64 prefix, which runs 32-bit programs too.
# Usage: tools/wine-prefix.sh PREFIX DEVICE [LETTER [DEVICE LETTER]...]
#   PREFIX  folder to (re)create; anything in it is deleted
#   DEVICE  the file the preload library serves as the drive (created empty
#           when missing: it only has to exist so Wine can open it)
#   LETTER  drive letter to map (default d); more DEVICE LETTER pairs map more
#           CD-ROM drives
# Wine opens "\\.\D:" through dosdevices/d:: (the device) and needs
# dosdevices/d: (a folder) for the drive to exist at all; the registry entry
# "d:"="cdrom" makes it a CD-ROM, so DeviceIoControl reaches the SCSI
# pass-through code that issues SG_IO. Takes ~25 s (wineboot), so callers make
# one prefix per run. Needs an X display; runs its own Xvfb when DISPLAY is
# unset.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX DEVICE [LETTER [DEVICE LETTER]...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1
drives=("$2" "${3:-d}")
[ $# -le 3 ] || drives+=("${@:4}")
if [ $(( ${#drives[@]} % 2 )) -ne 0 ]; then
  echo "wine-prefix: a DEVICE without its LETTER" >&2
  exit 2
fi

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
WINEPREFIX=$(realpath "$prefix")
export WINEPREFIX
touch "$WINEPREFIX/.qm-wine-prefix"

start=$(date +%s)
# No Mono or Gecko: nothing here needs them, and their installers would ask.
# No menu builder either (here nor in later sessions, see the registry below):
# it makes desktop entries, and once outlived its prefix by minutes.
WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" "$QM_WINE" wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1 || {
  echo "wine-prefix: wineboot failed:" >&2; cat "$WINEPREFIX/wineboot.log" >&2; exit 1; }

# Wine's own fonts (Tahoma behind "MS Shell Dlg", Marlett for the caption
# buttons): the 64-bit loader run directly does not find them in Wine's data
# folder, and dialogs would draw in fallback fonts, caption buttons as letters.
for fonts in /usr/share/wine/fonts /usr/lib/wine/fonts /opt/wine*/share/wine/fonts; do
  if ls "$fonts"/*.ttf >/dev/null 2>&1; then
    cp "$fonts"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    break
  fi
done

mapped=
reg="$WINEPREFIX/qm-settings.reg"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n' >"$reg"
for ((i = 0; i < ${#drives[@]}; i += 2)); do
  device=$(realpath -m "${drives[i]}")
  letter=${drives[i + 1],,}
  [ -e "$device" ] || : >"$device"
  mkdir -p "$WINEPREFIX/drive_$letter"
  ln -sfn "$device" "$WINEPREFIX/dosdevices/$letter::"
  ln -sfn "../drive_$letter" "$WINEPREFIX/dosdevices/$letter:"
  printf '"%s:"="cdrom"\r\n' "$letter" >>"$reg"
  mapped="$mapped $letter: -> $device;"
done
# No window manager runs under Xvfb: Wine draws the window frames and captions
# itself, so windows look as they do on Windows (and in screenshots); and it
# leaves windows unmanaged, or it would wait ~2 s for a window manager at every
# window it hides.
printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n"Managed"="N"\r\n' >>"$reg"
printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]\r\n"winemenubuilder.exe"=""\r\n' >>"$reg"
# regedit of the 64-bit Wine writes the 64-bit view, where Wine's mount
# manager reads the drive types, even when a 32-bit Wine is also present.
"$QM_WINE" regedit /S "Z:${reg//\//\\}" >>"$WINEPREFIX/wineboot.log" 2>&1
"$QM_WINESERVER" -w
echo "wine-prefix: $WINEPREFIX ready in $(( $(date +%s) - start )) s;$mapped"
