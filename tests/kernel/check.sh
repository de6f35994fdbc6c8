#!/usr/bin/env bash
# Judges one scenario that tests/kernel/guest.sh ran in the guest: the run's
# exit code and words, and what reached the drive through the real kernel
# (the drive's transcript and status). On a failure it shows the run's output,
# the transcript and the guest's serial log.
# Usage: check.sh SCENARIO OUT
set -uo pipefail
name=$1 out=$2
dir=$out/$name
here=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=testing/missing.sh
. "$here/testing/missing.sh"

boot=$(cat "$out/boot-rc" 2>/dev/null || echo none)
case $boot in
  77) qm_missing "the virtual machine's tools (see kernel.boot)" ;;
  0) ;;
  *) echo "FAIL: the guest did not run its scenarios (kernel.boot: $boot)"; exit 1 ;;
esac

[ -e "$dir/up" ] || { echo "FAIL: $name: the drive did not come up in the guest"; tail -60 "$out/serial.log"; exit 1; }
failures=0
fail() {
  echo "FAIL: $name: $*"
  failures=$((failures + 1))
}
rc=$(cat "$dir/rc" 2>/dev/null || echo none)
transcript=$dir/transcript.txt
start=$(cat "$dir/run-start" 2>/dev/null || echo 0)
end=$(cat "$dir/run-end" 2>/dev/null || echo 0)
# The commands that reached the drive while quillmor ran, the kernel's among them.
during() { sed -n "$((start + 1)),${end}p" "$transcript"; }
status_field() { tr ' ' '\n' <"$dir/status.txt" | sed -n "s/^$1=//p"; }

expect_rc() { [ "$rc" = "$1" ] || fail "exit code $rc, expected $1"; }
expect_said() {
  grep -qF -- "$1" "$dir/stdout" "$dir/stderr" || fail "it did not say \"$1\""
}
# Nothing that changes the drive: no START STOP UNIT with LoEj, no WRITE BUFFER.
expect_untouched() {
  local changed
  changed=$(during | grep -E '^D (1B.{6}0[23]|3B)' || true)
  [ -z "$changed" ] || fail "commands that change the drive reached it:"$'\n'"$changed"
  [ "$(status_field applied)" = 0 ] || fail "an image was applied"
}
expect_updated() {
  [ "$(grep -c '^D 3B05F0' "$transcript")" = 60 ] || fail "not 60 firmware blocks"
  ! grep '^D 3B05F0' "$transcript" | grep -qv 'status=00 .*xfer=32768$' || fail "a block was not taken whole"
  [ "$(status_field digest)" = "$(cat "$out/image-digest")" ] || fail "the drive's image digest is not the file's"
  [ "$(status_field revision)" = 1.10 ] || fail "the drive does not report the new revision"
}
# The commands between the first and the last firmware block that are not
# blocks: the kernel's own, slipped in between.
between_blocks() {
  awk '/^D 3B05F0/ { if (first) { printf "%s", held; held = "" } first = 1; next }
       first { held = held $0 "\n" }' "$transcript"
}

case $name in
  check)
    expect_rc 0
    expect_said "Nothing was written to the drive."
    expect_untouched
    ;;
  yes)
    expect_rc 0
    expect_updated
    slipped=$(between_blocks)
    echo "between the blocks, without polling: $(printf '%s' "$slipped" | grep -c .) commands"
    [ -z "$slipped" ] || fail "the kernel sent commands between the blocks:"$'\n'"$slipped"
    ;;
  no-group)
    # The node does not open for a user outside the cdrom group: nothing of the
    # run reaches the drive.
    expect_rc 4
    expect_said "quillmor: /dev/sr0: permission denied"
    [ "$start" = "$end" ] || fail "commands reached the drive"
    ;;
  no-rawio)
    expect_rc 4
    expect_said "needs root"
    expect_untouched
    ;;
  no-rawio-sg)
    # /dev/sg0 names the drive behind it, /dev/sr0; writing stays root's.
    expect_rc 4
    expect_said "writing firmware to /dev/sr0 needs root"
    expect_untouched
    ;;
  held)
    expect_rc 6
    expect_said "is in use"
    expect_untouched
    ;;
  polling)
    expect_rc 0
    expect_updated
    # The polling runs while nobody, or a plain open, holds the drive...
    for window in idle plain-open; do
      polls=$(grep -c '^D 4A' "$dir/$window" || true)
      echo "polling every 2 s, 4.5 s with $window: $polls GET EVENT STATUS NOTIFICATION"
      [ "$polls" -ge 1 ] || fail "no polling with $window: the kernel did not poll at all"
    done
    # ...but not while quillmor holds /dev/sr0 open for writing with O_EXCL:
    # sr blocks its events for an exclusive writer.
    slipped=$(between_blocks)
    echo "between the blocks, polling every 2 s: $(printf '%s' "$slipped" | grep -c .) commands"
    [ -z "$slipped" ] || fail "the kernel sent commands between the blocks:"$'\n'"$slipped"
    ;;
  polling-sg)
    # Through sg nothing claims the block device, and the polling goes on
    # between the blocks: only GET EVENT STATUS NOTIFICATION, each after a
    # block has completed.
    expect_rc 0
    [ "$(grep -c '^D 3B05F0' "$transcript")" = 60 ] || fail "not 60 firmware blocks"
    slipped=$(between_blocks)
    count=$(printf '%s' "$slipped" | grep -c . || true)
    echo "between the blocks through /dev/sg0, polling every 2 s: $count commands"
    printf '%s' "$slipped"
    [ "$count" -ge 1 ] || fail "no polling between the blocks"
    others=$(printf '%s' "$slipped" | grep -v '^D 4A' || true)
    [ -z "$others" ] || fail "commands other than GET EVENT STATUS NOTIFICATION between the blocks:"$'\n'"$others"
    ;;
  residue-inquiry)
    # A 1.20 drive whose INQUIRY stops at 34 bytes: no downgrade.
    [ "$(during | grep -m1 '^D 12' | sed 's/.*xfer=//')" = 34 ] || fail "the INQUIRY was not cut at 34 bytes"
    [ "$rc" != 0 ] || fail "exit code 0"
    expect_untouched
    [ "$(status_field revision)" = 1.20 ] || fail "the drive's revision changed"
    ;;
  residue-state)
    # The final state read cut at 20 bytes (before the state byte) on a drive
    # left blank: no success.
    [ "$(grep '^D 3C02F1' "$transcript" | tail -1 | sed 's/.*xfer=//')" = 20 ] ||
      fail "the final state read was not cut at 20 bytes"
    expect_rc 1
    ! grep -q "was updated" "$dir/stdout" || fail "it said the firmware was updated"
    ;;
  residue-switch | residue-switch-reported)
    # The final mode-switch block taken in part: no success.
    [ "$(grep '^D 3B05FF' "$transcript" | tail -1 | sed 's/.*xfer=//')" = 100 ] ||
      fail "the final switch was not taken in part"
    expect_rc 1
    ! grep -q "was updated" "$dir/stdout" || fail "it said the firmware was updated"
    expect_said "left in download mode"
    ;;
  abort-at-open)
    # The unanswered command is the kernel's, at quillmor's open; after the
    # kernel's recovery the update goes through.
    during | grep -q '^D 4A.*status=none' || fail "the kernel's GET EVENT STATUS NOTIFICATION was not left unanswered"
    grep -q "reset high-speed USB device" "$out/dmesg.txt" || fail "the kernel did not reset the port"
    expect_rc 0
    expect_updated
    ;;
  vanish)
    # Unbound after the tenth block: a failure, said as one, with the drive
    # left in download mode.
    expect_rc 1
    expect_said "left in download mode"
    ! grep -q "was updated" "$dir/stdout" || fail "it said the firmware was updated"
    [ "$(status_field applied)" = 0 ] || fail "an image was applied"
    ;;
  *)
    echo "check.sh: no scenario $name" >&2
    exit 2
    ;;
esac

if [ "$failures" -gt 0 ]; then
  for f in stdout stderr usb-drive.log; do
    echo "--- $name/$f"
    cat "$dir/$f" 2>/dev/null
  done
  echo "--- $name/transcript.txt (the run: lines $((start + 1)) to $end)"
  cat "$transcript" 2>/dev/null
  echo "--- serial.log (last 60 lines)"
  tail -60 "$out/serial.log" 2>/dev/null
  exit 1
fi
echo "ok: $name"
