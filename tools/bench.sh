#!/usr/bin/env bash
# Benchmarks (not tests): prints the figures for bench/README.md, side by side.
#  1. A full unattended update (`quillmor /au`, native build) against the
#     emulated drive served through the preload library, and sg_write_buffer
#     sending the same image to the same drive in the same 32 KiB blocks, run
#     alternately: wall time, wall time per command, and each program's own CPU
#     time (user + system, from wait4), medians and ratios.
#  2. The same update against the emulated drive in-process (no server, no
#     socket, a virtual clock): the program's own work.
#  3. Peak resident memory of the update, of a run that stops at the version
#     check (same start-up, no transfer), and of sg_write_buffer.
#  4. The size of QUILLMOR.EXE, i686 and x86_64.
# Usage: tools/bench.sh   QM_BENCH_RUNS (default 15) runs of each;
# QM_BUILD_DIR the parent of build/native, build/win32 and build/win64;
# QM_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${QM_BUILD_DIR:-$root/build}
runs=${QM_BENCH_RUNS:-15}
jobs=${QM_JOBS:-2}
native=$out/native

command -v sg_write_buffer >/dev/null || { echo "bench.sh: sg3-utils is not installed" >&2; exit 1; }

echo "== building (native: RelWithDebInfo; QUILLMOR.EXE: Release, i686 and x86_64)"
cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$native" -j"$jobs" --target quillmor qm-drive-server qm_sgpreload qm-make-image qm-measure \
  qm-inprocess-update >/dev/null
declare -A exe_bytes
for arch in i686 x86_64; do
  dir=$out/win32
  [ "$arch" = i686 ] || dir=$out/win64
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" >/dev/null
  cmake --build "$dir" -j"$jobs" --target QUILLMOR >/dev/null
  exe_bytes[$arch]=$(stat -c %s "$(find "$dir" -name QUILLMOR.EXE -type f -not -path '*/CMakeFiles/*' | head -n 1)")
done

built() { find "$native" -name "$1" -type f -not -path '*/CMakeFiles/*' | head -n 1; }
updater=$(built quillmor)
server=$(built qm-drive-server)
make_image=$(built qm-make-image)
measure=$(built qm-measure)
inprocess=$(built qm-inprocess-update)
preload=$(built libqm_sgpreload.so)

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

# One measured run: prints "wall_ms cpu_ms maxrss_kb exit".
measured() {
  local line
  line=$( (cd "$work" && with_drive "$measure" "$@" </dev/null 2>&1 >/dev/null) | grep '^wall_ms=' | tail -n 1)
  sed -E 's/wall_ms=([0-9.]+) user_ms=([0-9.]+) sys_ms=([0-9.]+) maxrss_kb=([0-9]+) exit=([0-9]+)/\1 \2 \3 \4 \5/' <<<"$line" |
    awk '{ printf "%s %.2f %s %s\n", $1, $2 + $3, $4, $5 }'
}
blocks_sent() { control "transcript D" | grep -c '^D 3B05F0' || true; }
check_download() {  # what the drive holds after a run meant to send the whole image
  local blocks
  blocks=$(blocks_sent)
  [ "$blocks" -eq 60 ] || { echo "bench.sh: $1 sent $blocks blocks, not 60" >&2; exit 1; }
  [ "$(control "digest D")" = "$digest" ] || { echo "bench.sh: the drive does not hold the image after $1" >&2; exit 1; }
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_median() { cut -d' ' -f"$1" "$2" | median; }

echo "== $runs runs each, alternating"
: >"$work/updater.txt"
: >"$work/sg.txt"
for i in $(seq "$runs"); do
  control reset >/dev/null
  read -r ms cpu kb rc <<<"$(measured "$updater" /au)"
  [ "$rc" = 0 ] || { echo "bench.sh: quillmor /au exited $rc" >&2; exit 1; }
  check_download "quillmor /au"
  commands=$(control "transcript D" | wc -l)
  echo "$ms $cpu $kb" >>"$work/updater.txt"

  control reset >/dev/null
  read -r sg_ms sg_cpu sg_kb rc <<<"$(measured sg_write_buffer --mode=5 --id=0xf0 --bpw=32k --in="$work/Q5518306.707" "$dev")"
  [ "$rc" = 0 ] || { echo "bench.sh: sg_write_buffer exited $rc" >&2; exit 1; }
  check_download sg_write_buffer
  sg_commands=$(control "transcript D" | wc -l)
  echo "$sg_ms $sg_cpu $sg_kb" >>"$work/sg.txt"
  printf '  run %2d: quillmor /au %6.1f ms (cpu %5.1f), sg_write_buffer %6.1f ms (cpu %5.1f)\n' "$i" "$ms" "$cpu" \
    "$sg_ms" "$sg_cpu"
done

# The same start-up that ends at the version check: no transfer.
current_drive
control reset >/dev/null
: >"$work/stopped.txt"
for i in $(seq "$runs"); do
  read -r ms cpu kb rc <<<"$(measured "$updater" /au)"
  [ "$rc" = 1 ] || { echo "bench.sh: quillmor /au on a current drive exited $rc, not 1" >&2; exit 1; }
  echo "$ms $cpu $kb" >>"$work/stopped.txt"
done

# The in-process drive: the program's own work.
"$inprocess" "$runs" | sed -E 's/wall_ms=([0-9.]+) cpu_ms=([0-9.]+) .*/\1 \2/' >"$work/inprocess.txt"

q_ms=$(column_median 1 "$work/updater.txt")
q_cpu=$(column_median 2 "$work/updater.txt")
sg_ms=$(column_median 1 "$work/sg.txt")
sg_cpu=$(column_median 2 "$work/sg.txt")
q_per=$(awk -v a="$q_ms" -v n="$commands" 'BEGIN { printf "%.2f", a / n }')
sg_per=$(awk -v a="$sg_ms" -v n="$sg_commands" 'BEGIN { printf "%.2f", a / n }')
q_kb=$(cut -d' ' -f3 "$work/updater.txt" | sort -n | tail -n 1)
stopped_kb=$(cut -d' ' -f3 "$work/stopped.txt" | sort -n | tail -n 1)
sg_kb=$(cut -d' ' -f3 "$work/sg.txt" | sort -n | tail -n 1)
in_ms=$(column_median 1 "$work/inprocess.txt")
in_cpu=$(column_median 2 "$work/inprocess.txt")
# The ratios are medians of the run-by-run ratios: each pair of runs shares
# the machine's mood of the moment, which the medians of each side alone lose.
pair_ratio() { paste -d' ' "$work/updater.txt" "$work/sg.txt" | awk -v c="$1" '{ print $c / $(c + 3) }' | median; }
wall_ratio=$(pair_ratio 1 | awk '{ printf "%.2f", $1 }')
cpu_ratio=$(pair_ratio 2 | awk '{ printf "%.2f", $1 }')
per_ratio=$(awk -v r="$wall_ratio" -v a="$commands" -v b="$sg_commands" 'BEGIN { printf "%.2f", r * b / a }')
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r <= g) ? "met" : "NOT met" }'; }

echo
echo "== figures: medians of $runs runs, same drive server (ratios: medians of the run-by-run ratios)"
printf '%-34s %16s %16s %7s\n' "" "quillmor /au" "sg_write_buffer" "ratio"
printf '%-34s %16s %16s %7s\n' "commands" "$commands" "$sg_commands" ""
printf '%-34s %13.1f ms %13.1f ms %7s\n' "wall time" "$q_ms" "$sg_ms" "$wall_ratio"
printf '%-34s %13.2f ms %13.2f ms %7s\n' "wall time per command" "$q_per" "$sg_per" "$per_ratio"
printf '%-34s %13.1f ms %13.1f ms %7s\n' "CPU time, user+sys (wait4)" "$q_cpu" "$sg_cpu" "$cpu_ratio"
printf '%-34s %12d KiB %12d KiB\n' "peak resident memory" "$q_kb" "$sg_kb"
echo
printf 'goal wall time <= 1.0x sg_write_buffer: %s (%s); CPU time <= 0.8x: %s (%s)\n' \
  "$(verdict "$wall_ratio" 1.0)" "$wall_ratio" "$(verdict "$cpu_ratio" 0.8)" "$cpu_ratio"
printf 'full update, in-process drive (virtual clock): %.1f ms wall, %.1f ms CPU\n' "$in_ms" "$in_cpu"
printf 'quillmor /au stopping at the version check (start-up, discovery, INQUIRY, no transfer): %.1f ms wall, %.1f ms CPU\n' \
  "$(column_median 1 "$work/stopped.txt")" "$(column_median 2 "$work/stopped.txt")"
printf 'peak resident memory of that run: %d KiB (the transfer adds %d KiB; the image is 1920 KiB)\n' \
  "$stopped_kb" $((q_kb - stopped_kb))
printf 'QUILLMOR.EXE (Release): i686 %d bytes (%d KiB), x86_64 %d bytes (%d KiB)\n' \
  "${exe_bytes[i686]}" $((exe_bytes[i686] / 1024)) "${exe_bytes[x86_64]}" $((exe_bytes[x86_64] / 1024))
