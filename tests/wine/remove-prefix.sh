#!/usr/bin/env bash
# ctest fixture cleanup: ends the run's Wine session (wineserver and display)
# and deletes the prefix (about 700 MB) unless QM_KEEP_WINE_PREFIX=1.
set -uo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
prefix=$1
[ -e "$prefix/.qm-wine-prefix" ] || exit 0
# shellcheck source=tools/wine-env.sh
if . "$tools/wine-env.sh" 2>/dev/null; then
  # shellcheck source=tools/wine-session.sh
  . "$tools/wine-session.sh"
  qm_session_stop "$prefix"
fi
if [ "${QM_KEEP_WINE_PREFIX:-0}" = 1 ]; then
  echo "keeping $prefix"
else
  rm -rf "$prefix"
fi
exit 0
