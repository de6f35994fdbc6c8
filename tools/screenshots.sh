#!/usr/bin/env bash
# Screenshots of QUILLMOR.EXE (the i686 product, under 32-bit Wine) against the
# emulated drive, in English and in Japanese: the safety warning (a message
# box), the main dialog, the about box and the progress dialog, each cropped to
# its window. PNG files land in the output folder (default build/screenshots),
# named <en|ja>-<warning|main|about|progress>.png.
# Usage: tools/screenshots.sh [OUTDIR]
# Builds build/native and build/win32 first (QM_BUILD_DIR moves them); or set
# QM_NATIVE_BUILD and QM_WIN32_BUILD to builds that exist. Takes about a
# minute, most of it for the Wine prefix.
#        tools/screenshots.sh --in-prefix OUTDIR
# Both languages in the prefix and with the programs that the environment
# names (as for tests/wine/lib.sh): what the ctest wine.screenshots runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = --in-prefix ]; then
  # shellcheck source=testing/missing.sh
  . "$root/testing/missing.sh"
  command -v import >/dev/null || qm_missing "ImageMagick's import is not installed"
  mkdir -p "$2"
  for lang in en ja; do
    "$0" --shoot "$lang" "$(realpath "$2")" || exit $?
  done
  exit 0
fi

if [ "${1:-}" = --shoot ]; then
  # One language, inside its own Xvfb (see below).
  lang=$2 out=$3
  . "$root/tests/wine/lib.sh"
  qm_wine_require
  qm_wine_display "$0" "$@"
  qm_wine_start

  shot() {  # shot NAME: the last window found, cut out of the screen
    local rect l t r b
    rect=$(sed -n '1s/.* rect=\([-0-9,]*\) .*/\1/p' <<<"$QM_WINDOW")
    IFS=, read -r l t r b <<<"$rect"
    # The pointer out of the picture: a button under it would be drawn hot.
    xdotool mousemove 1023 767 2>>"$QM_WORK/xdotool.log"
    sleep 0.5  # the window paints itself after it appears
    import -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage "$out/$lang-$1.png"
    echo "$out/$lang-$1.png"
  }

  if [ "$lang" = ja ]; then
    export LC_ALL=ja_JP.UTF-8
    title='ファームウェア アップデータ' about='バージョン情報 ファームウェアアップデータ'
    progress='アップデート中です......'
    # Windows' Japanese UI fonts are not in Wine: the IPA fonts stand in, or
    # every Japanese character would be an empty box.
    reg=$QM_WORK/fonts.reg
    {
      printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
      printf '"MS UI Gothic"="IPAPGothic"\r\n"MS PGothic"="IPAPGothic"\r\n"MS Gothic"="IPAGothic"\r\n'
      printf '"Tahoma"="IPAPGothic"\r\n"MS Shell Dlg"="IPAPGothic"\r\n"MS Shell Dlg 2"="IPAPGothic"\r\n'
    } >"$reg"
    # The first program of the Japanese run has once failed to start at all (Wine's
    # start.exe: "ShellExecuteEx failed: internal error"); the import changes
    # nothing when repeated, so it gets a second try.
    "$QM_WINE" regedit /S "$(qm_winpath "$reg")" ||
      { sleep 1; "$QM_WINE" regedit /S "$(qm_winpath "$reg")"; }
    # The prefix may serve other runs after this one: English fonts again.
    # shellcheck disable=SC2317  # run by qm_wine_end (tests/wine/lib.sh)
    qm_on_end() { "$QM_WINE" reg delete 'HKCU\Software\Wine\Fonts\Replacements' /f >/dev/null 2>&1 || true; }
  else
    export LC_ALL=C.UTF-8
    title='firmware updater' about='veriosn info firmware updater' progress='now updating...'
  fi

  # A slow drive (100 ms a block) keeps the progress dialog up for ~6 s.
  qm_drive spti 'revision = 1.00
date = 09/07/15
fault = opcode=0x3B buffer=0xF0 delay=100'
  qm_image --version 1.10
  qm_exe_start 120
  qm_window 30000 "$title" IDYES! IDNO!
  shot warning
  qm_key Return
  qm_window 30000 "$title" IDC_CURRENT_VERSION=1.00 IDC_NEW_VERSION=1.10
  main=$QM_HWND
  shot main
  # What the system menu's about item sends: WM_SYSCOMMAND with IDM_ABOUT.
  qm_tool post "$main" 0x0112 "$(qm_id IDM_ABOUT)" 0
  qm_window 10000 "$about" IDOK!
  shot about
  qm_key Return
  qm_tool gone 10000 "$QM_HWND" || qm_fatal "the about box did not close"
  qm_window 5000 "$title" IDC_UPDATE!
  qm_click IDC_UPDATE
  qm_window 30000 "$progress" IDC_PROGRESS!
  sleep 2  # a few seconds counted down
  qm_window 10000 "$progress" IDC_PROGRESS!  # found again; the countdown lasts half a minute
  shot progress
  # The update ends with the restart notice; confirming it ends the program.
  qm_window 60000 "$title" IDOK!
  qm_key Return
  qm_exe_wait
  qm_finish
fi

out=${1:-${QM_BUILD_DIR:-$root/build}/screenshots}
mkdir -p "$out"
out=$(realpath "$out")
if [ -z "${QM_NATIVE_BUILD:-}" ] || [ -z "${QM_WIN32_BUILD:-}" ]; then
  builds=${QM_BUILD_DIR:-$root/build}
  "$root/tools/build.sh" native win32
  QM_NATIVE_BUILD=$builds/native QM_WIN32_BUILD=$builds/win32
fi
native=$(realpath "$QM_NATIVE_BUILD")

export QM_WINE_BUILD=win32
export QM_WINE_PREFIX=$out/prefix
export QM_WINE_DEVICES=$out/sr-d=D
export QM_WIN32_BUILD_DIR=$QM_WIN32_BUILD
export QM_DRIVE_SERVER=$native/sim/qm-drive-server
export QM_SG_PRELOAD="$native/sim/preload/\$LIB/qm_sgpreload.so"
QM_SG_PRELOAD_32=$(find "$native/sim/preload" -name qm_sgpreload.so -type f 2>/dev/null | head -n 1)
export QM_SG_PRELOAD_32  # the 32-bit copy; the 64-bit one is a link
export QM_MAKE_IMAGE=$native/sim/qm-make-image QM_WINTOOL=$native/tests/wine/wintool.exe
. "$root/tools/wine-env.sh"
. "$root/tools/wine-session.sh"
"$root/tools/wine-prefix.sh" "$QM_WINE_PREFIX" "$out/sr-d" d
qm_session_start "$QM_WINE_PREFIX"
status=0
"$0" --in-prefix "$out" || status=$?
qm_session_stop "$QM_WINE_PREFIX"
[ "${QM_KEEP_WINE_PREFIX:-0}" = 1 ] || rm -rf "$QM_WINE_PREFIX" "$out/sr-d"
exit $status
