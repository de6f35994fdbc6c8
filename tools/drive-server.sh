# shellcheck shell=bash
# Sourced: start and stop the emulated drive server (qm-drive-server) in a
# work folder. After qm_start_drive_server, QM_DRIVE_SOCKET is the socket the
# preload library talks to and QM_DRIVE_STATE the server's state folder, whose
# status.txt qm_drive_state_current brings up to date before it is read.

# qm_start_drive_server SERVER WORKDIR SCENARIO
qm_start_drive_server() {
  local server=$1 work=$2 scenario=$3 _
  QM_DRIVE_SOCKET=$work/drive.sock
  QM_DRIVE_STATE=$work/state
  mkdir -p "$QM_DRIVE_STATE"
  "$server" --socket "$QM_DRIVE_SOCKET" --scenario "$scenario" --state "$QM_DRIVE_STATE" \
    >"$work/server.log" 2>&1 &
  QM_DRIVE_PID=$!
  QM_DRIVE_SERVER_PROGRAM=$server
  # The server is a real process: wait for its socket, briefly and boundedly.
  for _ in $(seq 100); do
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

# qm_fenced_devices DEVICE LETTER [DIR]: the QM_SG_DEVICE value that serves DEVICE
# as the server's drive LETTER and maps every other sr device that exists in DIR
# (/dev; the tests give another) to the letter the native updater opens it as
# (C..Z are /dev/sr0../dev/sr23), where the server has no drive: a real drive
# only ever sees "no connection". The updater opens no other name, and DEVICE
# alone goes to sg3_utils.
qm_fenced_devices() {
  local dev=$1 letter=$2 dir=${3:-/dev} letters=CDEFGHIJKLMNOPQRSTUVWXYZ real n devices
  devices="$dev=$letter"
  for real in "$dir"/sr[0-9]*; do
    if [ ! -e "$real" ] || [ "$real" = "$dev" ]; then continue; fi
    n=${real#"$dir"/sr}
    case $n in
      *[!0-9]* | 0?*) continue ;;  # no name the updater opens (sr1a, sr01)
    esac
    [ "$n" -lt 24 ] || continue
    devices="$devices;$real=${letters:n:1}"
  done
  echo "$devices"
}
