#!/usr/bin/env bash
# Configures and builds the three builds from this tree:
#   build/native  Linux (tests, emulated drive, native quillmor)
#   build/win32   QUILLMOR.EXE for 32-bit Windows (the product)
#   build/win64   QUILLMOR.EXE for x86_64 Windows (what 64-bit Wine runs)
# Usage: tools/build.sh [native] [win32] [win64]   (default: all three)
# QM_JOBS overrides the parallelism (default 2); QM_BUILD_DIR the folder that
# holds the three builds (default build/ in the tree).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QM_JOBS:-2}
out=${QM_BUILD_DIR:-$root/build}
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(native win32 win64)

for b in "${builds[@]}"; do
  case $b in
    native) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    win32)  args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake") ;;
    win64)  args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake") ;;
    *) echo "build.sh: unknown build '$b' (native, win32, win64)" >&2; exit 2 ;;
  esac
  echo "== $out/$b"
  cmake -S "$root" -B "$out/$b" "${args[@]}" >/dev/null
  cmake --build "$out/$b" -j"$jobs"
done
