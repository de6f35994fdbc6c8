#!/usr/bin/env bash
# ctest fixture: the run's Wine prefix, D: mapped to the emulated drive's file.
# Usage: make-prefix.sh PREFIX DEVICE
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
(. "$tools/wine-env.sh") 2>/dev/null || { echo "SKIP: wine is not installed"; exit 77; }
exec "$tools/wine-prefix.sh" "$1" "$2"
