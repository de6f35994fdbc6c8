# Sourced: start and stop the emulated drive server (qm-drive-server) in a
# work folder. After qm_start_drive_server, QM_DRIVE_SOCKET is the socket the
# preload library talks to and QM_DRIVE_STATE the server's state folder, whose
# status.txt qm_drive_state_current brings up to date before it is read.

# qm_start_drive_server SERVER WORKDIR SCENARIO
qm_start_drive_server() {
  local server=$1 work=$2 scenario=$3 i
  QM_DRIVE_SOCKET=$work/drive.sock
  QM_DRIVE_STATE=$work/state
  mkdir -p "$QM_DRIVE_STATE"
  "$server" --socket "$QM_DRIVE_SOCKET" --scenario "$scenario" --state "$QM_DRIVE_STATE" \
    >"$work/server.log" 2>&1 &
  QM_DRIVE_PID=$!
  QM_DRIVE_SERVER_PROGRAM=$server
  # The server is a real process: wait for its socket, briefly and boundedly.
  for i in $(seq 100); do
    [ -S "$QM_DRIVE_SOCKET" ] && return 0
    kill -0 "$QM_DRIVE_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "drive server did not start:" >&2
  cat "$work/server.log" >&2
  return 1
}

# The server writes its status file when asked, not after every command: any
# control command makes it current. Quiet; nothing to do when no server runs.
qm_drive_state_current() {
  [ -n "${QM_DRIVE_PID:-}" ] || return 0
  "$QM_DRIVE_SERVER_PROGRAM" --socket "$QM_DRIVE_SOCKET" --control status >/dev/null 2>&1 || true
}

qm_stop_drive_server() {
  if [ -n "${QM_DRIVE_PID:-}" ]; then
    kill "$QM_DRIVE_PID" 2>/dev/null || true
    wait "$QM_DRIVE_PID" 2>/dev/null || true
    QM_DRIVE_PID=
  fi
}

# qm_fenced_devices DEVICE LETTER: the QM_SG_DEVICE value that serves DEVICE as
# the server's drive LETTER and maps every other sr device that exists here to a
# letter where the server has no drive (C..Z are /dev/sr0../dev/sr23 to the
# native updater), so a real drive only ever sees "no connection".
qm_fenced_devices() {
  local dev=$1 letter=$2 real n devices
  devices="$dev=$letter"
  for real in /dev/sr[0-9]*; do
    [ -e "$real" ] && [ "$real" != "$dev" ] || continue
    n=${real#/dev/sr}
    [ "$n" -lt 24 ] || continue
    devices="$devices;$real=$(printf "\\x$(printf %x $((67 + n)))")"
  done
  echo "$devices"
}
