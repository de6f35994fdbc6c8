#!/usr/bin/env bash
# Benchmarks (not tests): prints the figures for bench/README.md.
#  1. A full unattended update (`quillmor /au`, native build) against the
#     emulated drive served through the preload library, and sg_write_buffer
#     sending the same image to the same drive in the same 32 KiB blocks, run
#     alternately; the medians and their ratio.
#  2. The peak resident memory of the update, and of a run that stops at the
#     version check (same start-up, no transfer): the difference is what the
#     transfer itself costs.
#  3. The size of QUILLMOR.EXE (i686).
# Usage: tools/bench.sh   QM_BENCH_RUNS (default 7) runs of each;
# QM_BUILD_DIR the parent of build/native and build/win32; QM_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${QM_BUILD_DIR:-$root/build}
runs=${QM_BENCH_RUNS:-7}
jobs=${QM_JOBS:-2}
native=$out/native
win32=$out/win32

command -v sg_write_buffer >/dev/null || { echo "bench.sh: sg3-utils is not installed" >&2; exit 1; }

echo "== building (native: RelWithDebInfo; QUILLMOR.EXE: Release, i686)"
cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$native" -j"$jobs" --target quillmor qm-drive-server qm_sgpreload qm-make-image qm-measure >/dev/null
cmake -S "$root" -B "$win32" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$win32" -j"$jobs" --target QUILLMOR >/dev/null

built() { find "$native" -name "$1" -type f -not -path '*/CMakeFiles/*' | head -n 1; }
updater=$(built quillmor)
server=$(built qm-drive-server)
make_image=$(built qm-make-image)
measure=$(built qm-measure)
preload=$(built libqm_sgpreload.so)
exe=$(find "$win32" -name QUILLMOR.EXE -type f -not -path '*/CMakeFiles/*' | head -n 1)

. "$root/tools/drive-server.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmor-bench.XXXXXX")
trap 'qm_stop_drive_server; rm -rf "$work"' EXIT

old_drive() { printf 'revision = 1.00\ndate = 09/07/15\n' >"$work/scenario"; }
current_drive() { printf 'revision = 1.10\ndate = 09/08/21\n' >"$work/scenario"; }
old_drive
qm_start_drive_server "$server" "$work" "$work/scenario"
control() { "$server" --socket "$QM_DRIVE_SOCKET" --control "$*"; }

"$make_image" -o "$work/Q5518306.707" >/dev/null
digest=$("$make_image" --digest-of "$work/Q5518306.707")

# D: is /dev/sr1 to the native updater; every real sr device is fenced off.
dev=/dev/sr1
devices=$(qm_fenced_devices "$dev" D)
with_drive() { LD_PRELOAD=$preload QM_SG_DEVICE=$devices QM_SG_SOCKET=$QM_DRIVE_SOCKET "$@"; }

# One measured run: prints "wall_ms maxrss_kb exit".
measured() {
  local line
  line=$( (cd "$work" && with_drive "$measure" "$@" </dev/null 2>&1 >/dev/null) | grep '^wall_ms=' | tail -n 1)
  sed -E 's/wall_ms=([0-9.]+) maxrss_kb=([0-9]+) exit=([0-9]+)/\1 \2 \3/' <<<"$line"
}
check_download() {  # what the drive holds after a run meant to send the whole image
  local blocks
  blocks=$(control "transcript D" | grep -c '^D 3B05F0' || true)
  [ "$blocks" -eq 60 ] || { echo "bench.sh: $1 sent $blocks blocks, not 60" >&2; exit 1; }
  [ "$(control "digest D")" = "$digest" ] || { echo "bench.sh: the drive does not hold the image after $1" >&2; exit 1; }
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "== $runs runs each, alternating"
: >"$work/updater.txt"
: >"$work/sg.txt"
for i in $(seq "$runs"); do
  control reset >/dev/null
  read -r ms kb rc <<<"$(measured "$updater" /au)"
  [ "$rc" = 0 ] || { echo "bench.sh: quillmor /au exited $rc" >&2; exit 1; }
  check_download "quillmor /au"
  commands=$(control "transcript D" | wc -l)
  echo "$ms $kb" >>"$work/updater.txt"

  control reset >/dev/null
  read -r ms kb rc <<<"$(measured sg_write_buffer --mode=5 --id=0xf0 --bpw=32k --in="$work/Q5518306.707" "$dev")"
  [ "$rc" = 0 ] || { echo "bench.sh: sg_write_buffer exited $rc" >&2; exit 1; }
  [ "$(control "transcript D" | grep -c '^D 3B05F0')" -eq 60 ] || { echo "bench.sh: sg_write_buffer did not send 60 blocks" >&2; exit 1; }
  echo "$ms $kb" >>"$work/sg.txt"
  printf '  run %d: quillmor /au %s ms, sg_write_buffer %s ms\n' "$i" \
    "$(tail -n 1 "$work/updater.txt" | cut -d' ' -f1)" "$(tail -n 1 "$work/sg.txt" | cut -d' ' -f1)"
done

# The same start-up that ends at the version check: no transfer.
current_drive
control reset >/dev/null
: >"$work/stopped.txt"
for i in $(seq "$runs"); do
  read -r ms kb rc <<<"$(measured "$updater" /au)"
  [ "$rc" = 1 ] || { echo "bench.sh: quillmor /au on a current drive exited $rc, not 1" >&2; exit 1; }
  echo "$ms $kb" >>"$work/stopped.txt"
done

updater_ms=$(cut -d' ' -f1 "$work/updater.txt" | median)
sg_ms=$(cut -d' ' -f1 "$work/sg.txt" | median)
updater_kb=$(cut -d' ' -f2 "$work/updater.txt" | sort -n | tail -n 1)
stopped_kb=$(cut -d' ' -f2 "$work/stopped.txt" | sort -n | tail -n 1)
sg_kb=$(cut -d' ' -f2 "$work/sg.txt" | sort -n | tail -n 1)
exe_bytes=$(stat -c %s "$exe")

echo
echo "== figures"
printf 'full unattended update (quillmor /au, %d commands): median %.1f ms over %d runs\n' "$commands" "$updater_ms" "$runs"
printf 'sg_write_buffer --mode=5 --id=0xf0 --bpw=32k (60 commands): median %.1f ms\n' "$sg_ms"
printf 'ratio quillmor / sg_write_buffer: %.2f\n' "$(awk -v a="$updater_ms" -v b="$sg_ms" 'BEGIN { print a / b }')"
printf 'peak resident memory, quillmor /au: %d KiB for the update, %d KiB when it stops at the version check: the transfer adds %d KiB (the image is 1920 KiB)\n' \
  "$updater_kb" "$stopped_kb" $((updater_kb - stopped_kb))
printf 'peak resident memory, sg_write_buffer: %d KiB\n' "$sg_kb"
printf 'QUILLMOR.EXE (i686, Release): %d bytes (%d KiB)\n' "$exe_bytes" $((exe_bytes / 1024))
