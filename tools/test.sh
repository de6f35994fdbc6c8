#!/usr/bin/env bash
# Installs what is missing, builds all three builds and runs every registered
# test (unit tests, the emulated drive through sg3_utils, Windows programs
# under Wine) from the native build. ctest's output is kept in
# <build>/native/ctest.log. Extra arguments go to ctest (e.g. -R wine).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${QM_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh" all
"$root/tools/build.sh"

cd "$out/native"
set +e
ctest --output-on-failure -j"${QM_JOBS:-2}" "$@" 2>&1 | tee ctest.log
status=${PIPESTATUS[0]}
set -e
exit "$status"
