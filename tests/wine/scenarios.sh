#!/usr/bin/env bash
# QUILLMOR.EXE itself (the i686 build under 32-bit Wine, or the x86_64 one:
# QM_WINE_BUILD) under Wine against the emulated drive: one scenario per run,
# the same assertions for both builds. Each checks the exit code, the drive's
# own record of the commands it received and the digest of the image it holds:
# under Wine an exit code alone proves nothing (an i686 .exe without wine32
# exits 0 having done nothing). Message boxes are read and answered (Enter)
# with wintool.exe, buttons clicked with xdotool, as a user would.
# Usage: scenarios.sh NAME   (environment: see lib.sh)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
name=${1:?usage: scenarios.sh NAME}

qm_wine_require
qm_wine_display "$0" "$@"
qm_wine_start

# The drive at D: with old firmware; the image beside the program is newer.
old_drive='revision = 1.00
date = 09/07/15'
warning='The use in an improper way may cause the serious obstacle\r\nfor a system.\r\nPlease execute according to the following notes.\r\n\r\n[Notes]\r\n\r\n-Please do not perform operation which makes a computer\r\n a standby state and hibernation or shuts down a power supply\r\n during program execution.\r\n-This function requires administrative rights to execute.\r\n\r\nPlease close all applications before executing this program.\r\n\r\nExecute?'
failed='Updater failed.\r\nBut if drive name is displayed in [target drive]\r\nplease push [update] button again.'

# The restart after a successful interactive update: ExitWindowsEx(EWX_REBOOT |
# EWX_FORCE) makes Wine start "wineboot --kill" (a forced restart: no
# --shutdown), which ends every process of the session, QUILLMOR.EXE included,
# with exit code 0. Wine's process trace shows the program starting it.
restart_requested() {
  grep -q 'CreateProcessInternalW app .*wineboot\.exe" cmdline .*wineboot\.exe --kill"$' "$QM_WORK/out" ||
    qm_bad "QUILLMOR.EXE did not request the forced restart (no 'wineboot --kill')"
}

# Interactive start up to the versions: the safety warning answered Yes, then
# the main dialog lists the drive as COMBO and shows 1.00 -> 1.10.
main_dialog_ready() {
  qm_box "$warning"
  qm_window 30000 "firmware updater" IDC_CURRENT_VERSION=1.00 IDC_NEW_VERSION=1.10 IDC_UPDATE!
  [ "$(qm_control_text IDC_DRIVE_COMBO)" = "$1" ] ||
    qm_bad "the drive list shows '$(qm_control_text IDC_DRIVE_COMBO)', not '$1'"
  [ "$(qm_control_text IDC_DRIVE_NAME)" = "TORVELL DVD-RW  " ] ||
    qm_bad "the drive name reads '$(qm_control_text IDC_DRIVE_NAME)'"
}

# Update pressed; the progress dialog opens while the blocks go out (the drive
# takes 100 ms per block here, so it stays ~6 s) and the main dialog is locked.
update_with_progress() {
  qm_click IDC_UPDATE
  qm_window 30000 "now updating..." IDC_SECONDS_LEFT~second
  qm_window 5000 "firmware updater" IDC_UPDATE? IDCANCEL? IDC_DRIVE_COMBO?
}

case $name in
unattended)
  qm_drive spti "$old_drive"
  qm_image --version 1.10
  qm_exe_start 60 /au
  qm_exe_wait
  qm_expect_rc 0
  qm_expect_update
  ;;

not-newer)
  # The drive already runs the image's version and date.
  qm_drive spti 'revision = 1.10
date = 09/08/21'
  qm_image --version 1.10
  qm_exe_start 60 /au
  qm_box 'It is unnecessary to update.'
  qm_exe_wait
  qm_expect_rc 1
  qm_expect_untouched D
  ;;

equal-versions)
  # Versions written differently but equal as numbers need no update, however
  # much later the image's date (09/08/21 against the drive's 09/07/15). 1.1 is
  # no double exactly, and the i686 build computes on the x87; 2.5 is exact.
  for pair in 1.10:01.1 1.10:1.1 2.50:02.5; do
    revision=${pair%%:*} version=${pair#*:}
    echo "drive $revision, image $version"
    if [ -n "${QM_DRIVE_PID:-}" ]; then  # a fresh drive for each pair
      qm_stop_drive_server
      rm -rf "$QM_STATE" "$QM_DRIVE_SOCKET" && mkdir "$QM_STATE"
    fi
    qm_drive spti "revision = $revision
date = 09/07/15"
    qm_image --version "$version"
    qm_exe_start 60 /au
    qm_box 'It is unnecessary to update.'
    qm_exe_wait
    [ "$QM_RC" = 1 ] || qm_bad "drive $revision, image $version: exit code $QM_RC, expected 1"
    qm_expect_untouched D
  done
  ;;

two-drives)
  qm_drive spti "$old_drive
drive = E"
  qm_image --version 1.10
  qm_exe_start 60 /au
  qm_box 'Targets are more than one drive.'
  qm_exe_wait
  qm_expect_rc 1
  for letter in D E; do
    qm_transcript $letter | grep -q "^$letter 3C02F1" || qm_bad "drive $letter was never probed"
    qm_expect_untouched $letter
  done
  ;;

no-drive)
  # A drive answers at D:, but not with the signature of the model served.
  qm_drive spti "$old_drive
signature = \"0082XXXXXX  5518\""
  qm_image --version 1.10
  qm_exe_start 60 /au
  qm_box 'Target is not found'
  qm_exe_wait
  qm_expect_rc 1
  # The second scan, 3.5 s after the first, probed the drive again.
  [ "$(qm_transcript D | grep -c '^D 3C02F1')" = 2 ] || qm_bad "D: was not probed exactly twice (scan and retry)"
  if qm_transcript D | grep -q '^D 12'; then qm_bad "a drive without the signature was asked for its INQUIRY"; fi
  qm_expect_untouched D
  ;;

image-missing)
  qm_drive spti "$old_drive"
  qm_exe_start 60 /au
  qm_box 'firmware file not found'
  qm_exe_wait
  qm_expect_rc 1
  qm_expect_untouched D
  ;;

refused-block)
  # Block 32 (at 100000h) is refused with a medium error, once.
  qm_drive spti "$old_drive
fault = opcode=0x3B buffer=0xF0 offset=0x100000 times=1 sense=03/0C/00"
  qm_image --version 1.10
  qm_exe_start 60 /au
  qm_box 'command error occured\r\nCommand    : 3b 05 f0 10 00 00 00 80 00 00 00 00 \r\nSense Code : 03-0c-00\r\n'
  qm_box "$failed"
  qm_no_window "now updating..."
  qm_exe_wait
  qm_expect_rc 1
  blocks=$(qm_transcript D | awk '$2 ~ /^3B05F0/ { print substr($2, 7, 6) ":" substr($6, 8) }' | tr '\n' ' ')
  expected="$(for n in $(seq 0 31); do printf '%06X:00 ' $((n * 0x8000)); done)100000:02 "
  [ "$blocks" = "$expected" ] || qm_bad "blocks sent: $blocks; expected 000000..0F8000 accepted, 100000 refused, no more"
  [ "$(qm_after_eject D | tail -n 1)" = "3B05F0:02" ] || qm_bad "commands followed the refused block"
  [ "$(qm_digest D)" != "$QM_IMAGE_DIGEST" ] || qm_bad "the drive holds the whole image"
  qm_status D | grep -q ' applied=0 ' || qm_bad "the drive applied an image"
  ;;

interactive)
  qm_drive spti "$old_drive
fault = opcode=0x3B buffer=0xF0 delay=100"
  qm_image --version 1.10
  WINEDEBUG=-all,trace+process qm_exe_start 90
  main_dialog_ready "D: TORVELL DVD-RW  WKZ4471 1.00 09/07/15"
  update_with_progress
  qm_window 30000 "firmware updater" '65535=Firmware update completes.\r\nrestart PC.'
  box=$QM_HWND
  # Before the notice the list was scanned again and the progress dialog closed.
  qm_window 1000 "firmware updater" "IDC_DRIVE_COMBO=D: TORVELL DVD-RW  WKZ4471 1.10 09/08/21" IDC_UPDATE?
  qm_no_window "now updating..."
  QM_HWND=$box qm_key Return
  qm_exe_wait
  qm_expect_rc 0
  restart_requested
  qm_expect_update
  ;;

second-instance)
  qm_drive spti "$old_drive"
  qm_image --version 1.10
  qm_exe_start 90
  main_dialog_ready "D: TORVELL DVD-RW  WKZ4471 1.00 09/07/15"
  first=$QM_HWND
  # Another program's window in front, as when the user started something else.
  qm_tool hold 20000 "another program" &
  holder=$!
  qm_window 10000 "another program"
  for _ in $(seq 50); do qm_tool foreground | grep -q 'title=another program$' && break; sleep 0.1; done
  qm_tool foreground | grep -q 'title=another program$' || qm_fatal "the other program did not come to the front"
  commands=$(grep -c . "$QM_STATE/transcript.txt")
  set +e
  (cd "$QM_RUN" && qm_exe_env timeout -k 5 30 "$QM_WINE" QUILLMOR.EXE >"$QM_WORK/second.out" 2>&1)
  second=$?
  set -e
  [ $second -eq 0 ] || qm_bad "the second QUILLMOR.EXE exited $second, expected 0 at once"
  qm_tool foreground | grep -q "^window $first " ||
    qm_bad "the first instance's dialog was not brought forward: $(qm_tool foreground | head -n 1)"
  [ "$(qm_tool list | grep -c '^window .* title=firmware updater$')" = 1 ] ||
    qm_bad "the second QUILLMOR.EXE opened a window"
  [ "$(grep -c . "$QM_STATE/transcript.txt")" = "$commands" ] || qm_bad "the second QUILLMOR.EXE reached the drive"
  qm_kill_tree $holder
  # The first one is still usable: close ends it.
  qm_window 5000 "firmware updater" IDC_UPDATE! IDCANCEL!
  qm_click IDCANCEL
  qm_exe_wait
  qm_expect_rc 0
  qm_expect_untouched D
  ;;

aspi-interactive)
  qm_drive aspi "$old_drive
fault = opcode=0x3B buffer=0xF0 delay=100"
  qm_image --version 1.10
  WINEDEBUG=-all,trace+process qm_exe_start 90
  # The drive list names the host adapter, as the ASPI scan builds it.
  main_dialog_ready "QM-SIM TORVELL DVD-RW  WKZ4471 1.00 09/07/15"
  update_with_progress
  # No notice over ASPI: the forced restart follows the update at once and
  # ends the program with nobody answering anything.
  qm_exe_wait
  qm_expect_rc 0
  restart_requested
  qm_expect_update
  # Over ASPI a command without data names no direction.
  qm_transcript D | grep -q '^D 000000000000000000000000 cdblen=6 dir=none len=0 status=' ||
    qm_bad "TEST UNIT READY did not go out without data"
  ;;

aspi-unattended)
  qm_drive aspi "$old_drive"
  qm_image --version 1.10
  qm_exe_start 60 /au
  qm_exe_wait
  qm_expect_rc 1
  # Windows 98 took effect: the program loaded the ASPI manager, and then
  # ended without sending a command or showing anything.
  [ "$(grep -c '^loaded pid=' "$QM_STATE/loaded.txt" 2>/dev/null)" = 1 ] ||
    qm_bad "QUILLMOR.EXE did not load the ASPI manager"
  [ ! -s "$QM_STATE/transcript.txt" ] || qm_bad "commands reached the drive"
  ;;

*)
  echo "scenarios.sh: unknown scenario '$name'" >&2
  exit 2
  ;;
esac
qm_finish
