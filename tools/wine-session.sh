# shellcheck shell=bash
# Sourced after tools/wine-env.sh: one Wine session that the Wine tests of a
# run share, instead of a cold start per test. A session is an X display
# (Xvfb) and a persistent wineserver of one prefix, started with no test's
# environment, so the processes Wine starts for the session (services.exe,
# winedevice.exe, explorer.exe) carry no LD_PRELOAD, socket or locale of a
# test. Each test then gives its own environment to its own programs only.
# Starting Wine in a warm session takes a fraction of a second; a cold start
# takes several, and so does the wineserver's linger after the last program.
# The state is kept in PREFIX/.qm-session: "display=:N", "xvfb=PID" and
# "services=PID" (qm_session_ready).

qm_session_file() { printf '%s/.qm-session' "$1"; }

# qm_session_start PREFIX: the display, then the wineserver (the prefix's
# own server must have ended: tools/wine-prefix.sh waits for that).
qm_session_start() {
  local prefix tmp num pid
  prefix=$(realpath "$1")
  command -v Xvfb >/dev/null || { echo "wine-session: Xvfb is not installed" >&2; return 1; }
  tmp=$(mktemp -d)
  mkfifo "$tmp/fd"
  # Its own session and no inherited descriptors: it outlives the test that
  # starts it (ctest waits for a test's output pipes to close).
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$tmp/fd" </dev/null >"$prefix/xvfb.log" 2>&1 &
  pid=$!
  read -r num <"$tmp/fd" || true
  rm -rf "$tmp"
  if [ -z "${num:-}" ]; then
    echo "wine-session: Xvfb did not start:" >&2
    cat "$prefix/xvfb.log" >&2
    return 1
  fi
  printf 'display=:%s\nxvfb=%s\n' "$num" "$pid" >"$(qm_session_file "$prefix")"
  # Persistent until stopped: no linger, no cold start between tests.
  WINEPREFIX=$prefix DISPLAY=:$num "$QM_WINESERVER" -p </dev/null >/dev/null 2>&1
}

# qm_session_use PREFIX: exports the session's DISPLAY; false when the prefix
# has no live session (a test run by hand), which then needs its own.
qm_session_use() {
  local file display pid
  file=$(qm_session_file "$1")
  [ -f "$file" ] || return 1
  display=$(sed -n 's/^display=//p' "$file")
  pid=$(sed -n 's/^xvfb=//p' "$file")
  [ -n "$display" ] && [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
  export DISPLAY=$display
}

# qm_session_services PREFIX: the process id of the session's services.exe,
# none when the session's own processes do not run.
qm_session_services() {
  local prefix p
  prefix=$(realpath "$1")
  for p in /proc/[0-9]*; do
    case $(tr '\0' ' ' <"$p/cmdline" 2>/dev/null) in
      'C:\windows\system32\services.exe'*) ;;
      *) continue ;;
    esac
    if tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"; then
      echo "${p#/proc/}"
      return 0
    fi
  done
}

# qm_session_ready PREFIX [COMMAND...]: the session's own processes, as the
# session started them, then COMMAND (a Wine program; default: an empty cmd)
# with no test's environment, and none of its output: the processes it may
# start outlive the test and would hold its output open. Call after
# qm_session_use.
# A restart of Windows in a test (ExitWindowsEx: "wineboot --kill") ends those
# processes and starts them again from the test's program, with its
# environment, and the session Wine makes so without a new wineserver is not
# the same: its mount manager reports the CD-ROM drives as fixed disks. The
# services.exe of the session's start is what tells: another one means a new
# wineserver.
qm_session_ready() {
  local prefix file recorded current
  prefix=$(realpath "$1")
  shift
  [ $# -gt 0 ] || set -- "$QM_WINE" cmd /c exit
  file=$(qm_session_file "$prefix")
  recorded=$(sed -n 's/^services=//p' "$file")
  current=$(qm_session_services "$prefix")
  if [ -n "$current" ] && [ "$current" = "$recorded" ]; then
    WINEPREFIX=$prefix "$@" </dev/null >/dev/null 2>&1
    return
  fi
  WINEPREFIX=$prefix "$QM_WINESERVER" -k 2>/dev/null || true
  WINEPREFIX=$prefix "$QM_WINESERVER" -w 2>/dev/null || true
  WINEPREFIX=$prefix "$QM_WINESERVER" -p </dev/null >/dev/null 2>&1
  local status=0
  WINEPREFIX=$prefix "$@" </dev/null >/dev/null 2>&1 || status=$?
  sed -i '/^services=/d' "$file"
  echo "services=$(qm_session_services "$prefix")" >>"$file"
  return $status
}

# qm_session_stop PREFIX: the wineserver (and with it every program of the
# prefix), then the display.
qm_session_stop() {
  local file pid
  file=$(qm_session_file "$1")
  WINEPREFIX=$(realpath "$1") "$QM_WINESERVER" -k 2>/dev/null || true
  WINEPREFIX=$(realpath "$1") "$QM_WINESERVER" -w 2>/dev/null || true
  [ -f "$file" ] || return 0
  pid=$(sed -n 's/^xvfb=//p' "$file")
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -f "$file"
}
