#!/usr/bin/env bash
# Runs preload_test against the drive server through the preload library: two
# drives, D at revision 1.00 and E at 1.10, E holding every TEST UNIT READY for
# a second; the tests may start the server again (QM_TEST_RESTART_SERVER).
# usage: preload_test.sh SERVER PRELOAD TESTS
set -euo pipefail
server=$1 preload=$2 tests=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/drive-server.sh"

work=$(mktemp -d)
# The server a test started in place of the first one is ended by its id.
stop_second() { [ ! -s "$work/server.pid" ] || kill "$(cat "$work/server.pid")" 2>/dev/null || true; }
trap 'qm_stop_drive_server; stop_second; rm -rf "$work"' EXIT
printf 'drive = D\nrevision = 1.00\ndrive = E\nrevision = 1.10\nfault = opcode=0x00 delay=1000\n' >"$work/scenario"
qm_start_drive_server "$server" "$work" "$work/scenario"

# Stops the server and starts another on the same socket, as a test run that
# starts its server anew does while a client still holds connections.
cat >"$work/restart" <<END
#!/usr/bin/env bash
set -euo pipefail
unset LD_PRELOAD
kill $QM_DRIVE_PID
while [ -S "$QM_DRIVE_SOCKET" ]; do sleep 0.01; done
"$server" --socket "$QM_DRIVE_SOCKET" --scenario "$work/scenario" >>"$work/server.log" 2>&1 &
echo \$! >"$work/server.pid"
for _ in \$(seq 100); do [ -S "$QM_DRIVE_SOCKET" ] && exit 0; sleep 0.05; done
exit 1
END
chmod +x "$work/restart"
: >"$work/sr-d"
: >"$work/sr-e"

QM_TEST_DEVICE_D=$work/sr-d QM_TEST_DEVICE_E=$work/sr-e QM_TEST_RESTART_SERVER=$work/restart \
  QM_SG_DEVICE="$work/sr-d=D;$work/sr-e=E" QM_SG_SOCKET=$QM_DRIVE_SOCKET LD_PRELOAD=$preload "$tests"
