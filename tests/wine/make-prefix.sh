#!/usr/bin/env bash
# ctest fixture: the run's Wine prefix (a WoW64 one: 64-bit and 32-bit programs),
# its CD-ROM drives mapped to the emulated drives' files, and the session every
# Wine test of the run shares (tools/wine-session.sh): one display and one warm
# wineserver.
# Usage: make-prefix.sh PREFIX DEVICE [LETTER [DEVICE LETTER]...]
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
# shellcheck source=testing/missing.sh
. "$tools/../testing/missing.sh"
command -v Xvfb >/dev/null || qm_missing "Xvfb is not installed"
# shellcheck source=tools/wine-env.sh
(. "$tools/wine-env.sh") 2>/dev/null || qm_missing "wine is not installed"
# shellcheck source=tools/wine-env.sh
. "$tools/wine-env.sh"
# shellcheck source=tools/wine-session.sh
. "$tools/wine-session.sh"
prefix=$1
if [ -e "$prefix/.qm-wine-prefix" ]; then qm_session_stop "$prefix"; fi
"$tools/wine-prefix.sh" "$@"
qm_session_start "$prefix"
if [ -n "$QM_WINE32" ]; then
  echo "make-prefix: 32-bit Wine present ($QM_WINE32)"
else
  echo "make-prefix: no 32-bit Wine (wine32:i386): the i686 programs' tests will be skipped"
fi
