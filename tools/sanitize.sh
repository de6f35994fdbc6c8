#!/usr/bin/env bash
# The native test suite under the sanitizers, each in its own build:
#   build/asan  AddressSanitizer + UndefinedBehaviorSanitizer (no recovery: any
#               report fails its test)
#   build/tsan  ThreadSanitizer
# Builds only what the tests run (the *_tests executables and the helpers the
# script tests call), then runs ctest in each. Left out: the Wine tests and the
# Windows builds' checks (the Windows programs are not sanitized, and wineboot
# alone takes longer than the suite), shellcheck, the Debian package (made of
# the plain build, which is what ships), and three tests that cannot run
# under a sanitizer and run in the plain suite: the transfer buffers that cannot
# be had (a limited address space starves the sanitizer) and a fault signal held
# back in download mode (the sanitizer's own handler takes it). The kernel tests
# too: they show what a real kernel does between the program and the drive, with
# the plain build's programs in a virtual machine (the USB drive is not built
# here); the code they run is sanitized in every other test.
# Usage: tools/sanitize.sh [asan] [tsan]   (default: both)
# QM_JOBS overrides the parallelism (default 2); QM_BUILD_DIR the parent folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QM_JOBS:-2}
out=${QM_BUILD_DIR:-$root/build}
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(asan tsan)

# A report fails its process (and so its test); ctest goes on with the next.
# verify_asan_link_order=0: the SG_IO tests preload the (uninstrumented) drive
# library in front of the ASan runtime; it intercepts no memory functions.
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:verify_asan_link_order=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

left_out='^(wine|exe|package|kernel)\.|^scripts\.shellcheck$|TransferBuffersThatCannotBeHad|/FaultSignalFromAnotherProcess( |$)'

status=0
for kind in "${kinds[@]}"; do
  case $kind in
    asan) sanitize="address,undefined"
          flags="-fno-sanitize-recover=all" ;;
    tsan) sanitize="thread"
          flags="" ;;
    *) echo "sanitize.sh: unknown kind '$kind' (asan, tsan)" >&2; exit 2 ;;
  esac
  dir=$out/$kind
  start=$SECONDS
  echo "== $dir ($sanitize)"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUILLMOR_SANITIZE="$sanitize" \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" >/dev/null
  # The test executables and the programs the script tests start.
  mapfile -t targets < <(cmake --build "$dir" --target help |
    sed -n 's/^\.\.\. \([^ ]*\).*/\1/p' |
    grep -E '_tests$|^(qm-drive-server|qm_sgpreload|qm_clockpreload|qm-make-image|quillmor)$' || true)
  if [ ${#targets[@]} -eq 0 ]; then
    echo "sanitize.sh: no test targets in $dir" >&2; exit 1
  fi
  cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
  set +e
  (cd "$dir" && ctest --output-on-failure -j"$jobs" -E "$left_out" 2>&1 | tee ctest.log)
  rc=$?
  set -e
  [ "$rc" -eq 0 ] || status=1
  echo "== $kind: $((SECONDS - start)) s, ctest exit $rc"
done
exit "$status"
