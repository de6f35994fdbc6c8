# shellcheck shell=bash
# Sourced by the Wine scripts: finds the 64-bit Wine loader and server and sets
# the environment every run uses. Debian's "wine" wrapper prefers wine32 and
# nags when it is missing, so call the 64-bit loader directly when it exists.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
if command -v wine64 >/dev/null 2>&1; then
  QM_WINE=$(command -v wine64)
elif [ -x /usr/lib/wine/wine64 ]; then
  QM_WINE=/usr/lib/wine/wine64
elif command -v wine >/dev/null 2>&1; then
  QM_WINE=$(command -v wine)
else
  QM_WINE=
fi
if command -v wineserver64 >/dev/null 2>&1; then
  QM_WINESERVER=$(command -v wineserver64)
elif [ -x /usr/lib/wine/wineserver64 ]; then
  QM_WINESERVER=/usr/lib/wine/wineserver64
elif command -v wineserver >/dev/null 2>&1; then
  QM_WINESERVER=$(command -v wineserver)
else
  QM_WINESERVER=
fi
if [ -z "$QM_WINE" ] || [ -z "$QM_WINESERVER" ]; then
  echo "wine is not installed" >&2
  # shellcheck disable=SC2317  # the exit serves a run that was not sourced
  return 127 2>/dev/null || exit 127
fi
[ -n "${WINELOADER:-}" ] || export WINELOADER=$QM_WINE
# The 32-bit loader (wine32): 64-bit Wine hands a 32-bit program to it, the one
# beside the 64-bit loader with the same name less "64". Empty without wine32,
# where a 32-bit program prints nothing and exits 0 having run nothing.
QM_WINE32=
for candidate in "${QM_WINE%64}" /usr/lib/wine/wine; do
  if [ "$candidate" != "$QM_WINE" ] && [ -x "$candidate" ] &&
     [ "$(od -An -tx1 -j4 -N1 "$candidate" 2>/dev/null | tr -d ' ')" = 01 ]; then  # ELFCLASS32
    QM_WINE32=$candidate
    break
  fi
done
export QM_WINE QM_WINESERVER QM_WINE32
