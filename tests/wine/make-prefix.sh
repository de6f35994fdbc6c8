#!/usr/bin/env bash
# ctest fixture: the run's Wine prefix, its CD-ROM drives mapped to the
# emulated drives' files.
# Usage: make-prefix.sh PREFIX DEVICE [LETTER [DEVICE LETTER]...]
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
(. "$tools/wine-env.sh") 2>/dev/null || { echo "SKIP: wine is not installed"; exit 77; }
exec "$tools/wine-prefix.sh" "$@"
