#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server that lives exactly
# as long as the command. Xvfb chooses a free display itself (-displayfd), so
# parallel runs do not collide.
# Usage: tools/with-xvfb.sh command [args...]
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi
command -v Xvfb >/dev/null || { echo "with-xvfb: Xvfb is not installed" >&2; exit 127; }

tmp=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$tmp"' EXIT
mkfifo "$tmp/fd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$tmp/fd" >"$tmp/log" 2>&1 &
xvfb=$!
# Xvfb writes the display number once it accepts connections; a failed start
# closes the pipe with nothing written.
read -r num <"$tmp/fd" || true
if [ -z "${num:-}" ]; then
  echo "with-xvfb: Xvfb did not start:" >&2
  cat "$tmp/log" >&2
  exit 1
fi
export DISPLAY=":$num"
# In the background so that a TERM (a time-out) is handled at once: the
# command is stopped and the display with it.
"$@" &
child=$!
trap 'kill -TERM "$child" 2>/dev/null || true; exit 143' TERM INT
set +e
wait "$child"
status=$?
set -e
exit "$status"
