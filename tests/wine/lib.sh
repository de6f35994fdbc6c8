# shellcheck shell=bash
# Sourced by the Wine scenarios and tools/screenshots.sh: QUILLMOR.EXE under
# Wine against the emulated drive, over SPTI (the drive server and the SG_IO
# preload library) or ASPI (our wnaspi32.dll holding the drive in-process),
# with its windows read by wintool.exe and driven by xdotool. Also by the
# scripts that run one of our Windows test programs (qm_wine_program).
#
# Expects in the environment:
#   QM_WINE_PREFIX     the prefix (tools/wine-prefix.sh; D: and E: mapped)
#   QM_WINE_DEVICES    "FILE=D;FILE=E": the prefix's device files, for the preload
#   QM_WINE_BUILD      win32 (the i686 product, run by 32-bit Wine) or win64
#                      (x86_64; the default)
#   QM_WIN32_BUILD_DIR, QM_WIN64_BUILD_DIR  the builds holding QUILLMOR.EXE
#   QM_DRIVE_SERVER, QM_MAKE_IMAGE  from the native build
#   QM_SG_PRELOAD      the preload library for every process: <tree>/$LIB/...
#                      (a literal $LIB, which the loader fills in per ELF class)
#   QM_SG_PRELOAD_32   its 32-bit copy (for the win32 build: must exist)
#   QM_WINTOOL         wintool.exe;  QM_WNASPI32  the build's wnaspi32.dll
# and runs in the run's Wine session (tools/wine-session.sh), or, without one,
# inside an X display and a wineserver of its own (qm_wine_display).
#
# Both transports leave the drive's record in $QM_STATE: transcript.txt (one
# line per command) and status.txt (revision, digest, ...), same format.

QM_TOOLS=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)
# shellcheck source=testing/missing.sh
. "$QM_TOOLS/../testing/missing.sh"
QM_FAILED=0
QM_TRANSPORT=spti
QM_WINE_BUILD=${QM_WINE_BUILD:-win64}
# The environment of QUILLMOR.EXE alone (the preload and its socket, the ASPI
# manager's files): the session's own processes must not inherit a test's.
QM_EXE_ENV=()

# Skips (exit 77; fails in CI) unless everything a run needs is here; without
# 32-bit Wine alone, the i686 build's runs skip in CI too (testing/missing.sh).
qm_wine_require() {
  local missing='' build_dir
  [ -n "${QM_DRIVE_SERVER:-}" ] && [ -n "${QM_SG_PRELOAD:-}" ] && [ -n "${QM_MAKE_IMAGE:-}" ] ||
    missing="the emulated drive (native build)"
  [ -n "${QM_WINTOOL:-}" ] && [ -e "$QM_WINTOOL" ] || missing="wintool.exe (x86_64 mingw)"
  command -v xdotool >/dev/null || missing=xdotool
  [ -e "${QM_WINE_PREFIX:-}/.qm-wine-prefix" ] || missing="the Wine prefix (wine or Xvfb missing)"
  case $QM_WINE_BUILD in
    win32) build_dir=${QM_WIN32_BUILD_DIR:-} ;;
    win64) build_dir=${QM_WIN64_BUILD_DIR:-} ;;
    *) echo "lib.sh: QM_WINE_BUILD is win32 or win64, not '$QM_WINE_BUILD'" >&2; exit 2 ;;
  esac
  QM_EXE=$(find "${build_dir:-/nonexistent}" -name QUILLMOR.EXE -type f -not -path '*/CMakeFiles/*' \
    2>/dev/null | head -n 1)
  [ -n "$QM_EXE" ] || missing="QUILLMOR.EXE in ${build_dir:-?} (tools/build.sh $QM_WINE_BUILD)"
  QM_RESOURCE_IDS=${build_dir:-/nonexistent}/res/generated/include/res/resource.h
  [ -f "$QM_RESOURCE_IDS" ] || missing="res/resource.h in ${build_dir:-?} (tools/build.sh $QM_WINE_BUILD)"
  if [ "$QM_WINE_BUILD" = win32 ]; then
    if [ -z "${QM_SG_PRELOAD_32:-}" ] || [ ! -e "$QM_SG_PRELOAD_32" ]; then
      missing="32-bit preload library (a 32-bit C compiler: gcc-multilib)"
    fi
  fi
  [ -z "$missing" ] || qm_missing "no $missing"
  # shellcheck source=tools/wine-env.sh
  . "$QM_TOOLS/wine-env.sh" 2>/dev/null || qm_missing "no wine"
  if [ "$QM_WINE_BUILD" = win32 ] && [ -z "$QM_WINE32" ]; then
    qm_missing_wine32 "no 32-bit Wine (wine32:i386 is not installed): the i686 QUILLMOR.EXE cannot run"
  fi
}

# Joins the run's Wine session, or re-runs the calling script inside a private
# Xvfb (and, in qm_wine_start, a wineserver of its own) when there is none.
qm_wine_display() {
  # shellcheck source=tools/wine-env.sh
  . "$QM_TOOLS/wine-env.sh"
  # shellcheck source=tools/wine-session.sh
  . "$QM_TOOLS/wine-session.sh"
  if qm_session_use "$QM_WINE_PREFIX"; then
    QM_SESSION=1
  elif [ -z "${QM_IN_XVFB:-}" ]; then
    QM_IN_XVFB=1 exec "$QM_TOOLS/with-xvfb.sh" "$@"
  else
    QM_SESSION=0
  fi
}

# qm_wine_program PREFIX BUILD EXE SCRIPT [ARG...]: what a script needs to run
# one of our Windows test programs, EXE of BUILD (win32 or win64), in the run's
# prefix: skips (fails in CI) without the program or the prefix, and without
# 32-bit Wine for win32 (which skips in CI too); joins the run's session, or
# runs SCRIPT with its ARGs again inside a private Xvfb; exports WINEPREFIX.
qm_wine_program() {
  local prefix=$1 build=$2 exe=$3
  shift 3
  [ -e "$exe" ] || qm_missing "no $exe (tools/build.sh $build)"
  [ -e "$prefix/.qm-wine-prefix" ] || qm_missing "no Wine prefix (wine or Xvfb missing)"
  # shellcheck source=tools/wine-env.sh
  . "$QM_TOOLS/wine-env.sh"
  # shellcheck source=tools/wine-session.sh
  . "$QM_TOOLS/wine-session.sh"
  if [ "$build" = win32 ] && [ -z "$QM_WINE32" ]; then
    qm_missing_wine32 "no 32-bit Wine (wine32:i386 is not installed)"
  fi
  if qm_session_use "$prefix"; then
    qm_session_ready "$prefix"
  elif [ -z "${QM_IN_XVFB:-}" ]; then
    QM_IN_XVFB=1 exec "$QM_TOOLS/with-xvfb.sh" "$@"
  fi
  WINEPREFIX=$(realpath "$prefix")
  export WINEPREFIX
}

# Work folder, Wine environment, cleanup. In the session, a first program with
# no test's environment makes sure the session's own processes run (a restart
# in the test before ended them all) and carry nothing of this test's. Without
# a session, every Wine process of the test (the wineserver included) starts
# afresh here, so none lingers from before with another environment.
qm_wine_start() {
  # shellcheck source=tools/drive-server.sh
  . "$QM_TOOLS/drive-server.sh"
  WINEPREFIX=$(realpath "$QM_WINE_PREFIX")
  export WINEPREFIX
  QM_WORK=$(mktemp -d "${TMPDIR:-/tmp}/qm-wine.XXXXXX")
  QM_STATE=$QM_WORK/state
  QM_RUN=$QM_WORK/run
  mkdir -p "$QM_STATE" "$QM_RUN"
  cp "$QM_EXE" "$QM_RUN/QUILLMOR.EXE"
  trap qm_wine_end EXIT
  if [ "$QM_SESSION" = 1 ]; then
    # wintool's window list needs the desktop: explorer.exe starts from it too.
    qm_session_ready "$WINEPREFIX" "$QM_WINE" "$QM_WINTOOL" list || qm_fatal "the Wine session does not answer"
  else
    qm_wineserver_stop
  fi
}

# Stops the prefix's wineserver and waits until it has gone: a Wine process
# started while it is still going down fails to start. Never the session's.
qm_wineserver_stop() {
  [ "${QM_SESSION:-0}" = 1 ] && return 0
  "$QM_WINESERVER" -k 2>/dev/null || true
  "$QM_WINESERVER" -w 2>/dev/null || true
}

qm_wine_end() {
  local status=$? job
  # A caller's own undo first, while the run's environment still holds.
  if declare -F qm_on_end >/dev/null; then qm_on_end; fi
  # Programs still running (a failed test) would stay in the session.
  for job in $(jobs -p); do qm_kill_tree "$job"; done
  wait 2>/dev/null || true
  qm_wineserver_stop
  qm_stop_drive_server
  [ "$QM_TRANSPORT" = aspi ] && qm_aspi_off
  if [ "${QM_KEEP_WORK:-0}" = 1 ]; then echo "work folder kept: $QM_WORK"; else rm -rf "$QM_WORK"; fi
  exit "$status"
}

# qm_kill_tree PID: the process and all its descendants (a Wine program runs
# as the loader's own process, under timeout and a subshell).
qm_kill_tree() {
  local child
  for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do qm_kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}

qm_winpath() { printf 'Z:%s' "${1//\//\\}"; }

# qm_drive TRANSPORT SCENARIO_TEXT: the emulated drives for this run.
qm_drive() {
  QM_TRANSPORT=$1
  printf '%s\n' "$2" >"$QM_WORK/scenario"
  if [ "$QM_TRANSPORT" = spti ]; then
    qm_start_drive_server "$QM_DRIVE_SERVER" "$QM_WORK" "$QM_WORK/scenario"
    QM_EXE_ENV=("LD_PRELOAD=$QM_SG_PRELOAD" "QM_SG_DEVICE=$QM_WINE_DEVICES" "QM_SG_SOCKET=$QM_DRIVE_SOCKET")
  else
    qm_aspi_on
  fi
  QM_INITIAL_DIGEST=$(qm_digest D)
}

# ASPI: Windows 98 for QUILLMOR.EXE (platform id 1: the program loads the ASPI
# manager), our wnaspi32.dll of the program's bitness in the system directory,
# where the program loads it from, and preferred to Wine's built-in stub. A
# 32-bit program's system directory in a WoW64 prefix is syswow64.
qm_aspi_on() {
  local system=system32
  if [ -z "${QM_WNASPI32:-}" ] || [ ! -e "$QM_WNASPI32" ]; then qm_missing "wnaspi32.dll is not built"; fi
  if [ "$QM_WINE_BUILD" = win32 ] && [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then system=syswow64; fi
  cp "$QM_WNASPI32" "$WINEPREFIX/drive_c/windows/$system/wnaspi32.dll"
  QM_EXE_ENV=(WINEDLLOVERRIDES=wnaspi32=n "QM_ASPI_SCENARIO=$(qm_winpath "$QM_WORK/scenario")"
              "QM_ASPI_STATE=$(qm_winpath "$QM_STATE")")
  "$QM_WINE" reg add 'HKCU\Software\Wine\AppDefaults\QUILLMOR.EXE' /v Version /t REG_SZ /d win98 /f \
    >>"$QM_WORK/wine.log" 2>&1
  # The manager creates the state files when the program first calls it.
  : >"$QM_STATE/transcript.txt"
}

# The shared prefix goes back to an NT system for the next test.
qm_aspi_off() {
  "$QM_WINE" reg delete 'HKCU\Software\Wine\AppDefaults\QUILLMOR.EXE' /f >>"$QM_WORK/wine.log" 2>&1 || true
  qm_wineserver_stop
}

qm_image() {  # qm_image [qm-make-image options]: Q5518306.707 beside the program
  "$QM_MAKE_IMAGE" -o "$QM_RUN/Q5518306.707" "$@" >/dev/null
  QM_IMAGE_DIGEST=$("$QM_MAKE_IMAGE" --digest-of "$QM_RUN/Q5518306.707")
}

# qm_exe_start LIMIT_S [ARGS]: QUILLMOR.EXE in the background, from its folder.
# A message box nobody answers would wait for ever: the limit ends the run.
qm_exe_start() {
  local limit=$1
  shift
  rm -f "$QM_WORK/rc"
  (set +e
   cd "$QM_RUN" && qm_exe_env timeout -k 5 "$limit" "$QM_WINE" QUILLMOR.EXE "$@" >"$QM_WORK/out" 2>&1
   echo $? >"$QM_WORK/rc.new" && mv "$QM_WORK/rc.new" "$QM_WORK/rc") &
  QM_EXE_PID=$!
}

# qm_exe_env COMMAND...: runs COMMAND with QUILLMOR.EXE's environment.
qm_exe_env() { env ${QM_EXE_ENV[@]+"${QM_EXE_ENV[@]}"} "$@"; }

# Waits for the program's end; QM_RC is its exit code (only the low 8 bits
# survive Wine), 124 after the time limit.
qm_exe_wait() {
  wait "$QM_EXE_PID" 2>/dev/null || true
  QM_RC=$(cat "$QM_WORK/rc" 2>/dev/null || echo 255)
  [ "$QM_RC" != 124 ] || qm_bad "QUILLMOR.EXE did not end within its time limit (a window waiting?)"
}

qm_tool() { "$QM_WINE" "$QM_WINTOOL" "$@"; }

# The value of a resource id by its name in the build's res/resource.h; the
# buttons of the system's message boxes by their Win32 names. An unknown name
# is said on standard error and yields nothing, so the step that used it fails.
qm_id() {
  local value
  case $1 in
    IDOK) value=1 ;;
    IDCANCEL) value=2 ;;
    IDYES) value=6 ;;
    IDNO) value=7 ;;
    *) value=$(awk -v name="$1" '$1 == "#define" && $2 == name { gsub(/[()]/, "", $3); print $3 }' \
         "$QM_RESOURCE_IDS") ;;
  esac
  [ -n "$value" ] || { echo "lib.sh: no resource id named $1" >&2; return 1; }
  printf '%s\n' "$value"
}

# Each argument with the id name it begins with (IDC_UPDATE!, IDOK, ...) replaced
# by its value, one a line; other arguments as they are.
qm_ids() {
  local arg
  for arg in "$@"; do
    if [[ $arg =~ ^(ID[A-Z0-9_]+)(.*)$ ]]; then
      printf '%s%s\n' "$(qm_id "${BASH_REMATCH[1]}")" "${BASH_REMATCH[2]}"
    else
      printf '%s\n' "$arg"
    fi
  done
}

# qm_window TIMEOUT_MS TITLE [CONDITIONS]: waits for the window (see wintool.c;
# a condition's control may be given by its id name); its description lands in
# $QM_WINDOW, its handles in QM_HWND and QM_X11. Failing to appear ends the
# scenario.
qm_window() {
  local conditions=()
  [ $# -le 2 ] || mapfile -t conditions < <(qm_ids "${@:3}")
  if ! qm_tool wait "$1" "$2" ${conditions[@]+"${conditions[@]}"} >"$QM_WORK/window" 2>&1; then
    qm_fatal "no window '$2' with ${*:3} within $1 ms"
  fi
  QM_WINDOW=$(cat "$QM_WORK/window")
  QM_HWND=$(sed -n '1s/^window \([0-9a-fA-F]*\) .*/\1/p' <<<"$QM_WINDOW")
  QM_X11=$(sed -n '1s/^window [^ ]* x11=\([0-9]*\) .*/\1/p' <<<"$QM_WINDOW")
  # Wine names the X window before its request to create and map it has reached
  # the X server (in a warm session a click can be quicker than that).
  for _ in $(seq 100); do
    xwininfo -id "${QM_X11:-0}" 2>/dev/null | grep -q 'Map State: IsViewable' && return 0
    sleep 0.02
  done
  qm_fatal "window '$2' has no viewable X window (x11=${QM_X11:-none})"
}

# The text of control ID (a value or an id name) of the last window found (\r and
# \n as written by wintool).
qm_control_text() { sed -n "s/^  control $(qm_ids "$1") .* text=//p" <<<"$QM_WINDOW" | head -n 1; }
qm_control_enabled() {
  sed -n "s/^  control $(qm_ids "$1") .* enabled=\([01]\) .*/\1/p" <<<"$QM_WINDOW" | head -n 1
}

# Keys to the last window found, through Wine's keyboard input (wintool.c
# tells why not through its X11 window).
qm_key() { qm_tool key "$QM_HWND" "$@" >>"$QM_WORK/wine.log" 2>&1 || qm_fatal "could not type $* into the window"; }

# A real mouse click in the middle of control ID (a value or an id name) of the last
# window found.
qm_click() {
  local rect l t r b
  rect=$(sed -n "s/^  control $(qm_ids "$1") .* rect=\([-0-9,]*\) .*/\1/p" <<<"$QM_WINDOW" | head -n 1)
  [ -n "$rect" ] || qm_fatal "no control $1 to click"
  IFS=, read -r l t r b <<<"$rect"
  xdotool mousemove $(((l + r) / 2)) $(((t + b) / 2)) click 1 2>>"$QM_WORK/xdotool.log"
}

# qm_box TEXT: a message box with caption "firmware updater" whose text is
# exactly TEXT (\r\n as in the string table) appears; it is answered with Enter.
qm_box() {
  qm_window 30000 "firmware updater" "65535=$1"
  qm_key Return
}

# No visible window titled TITLE right now.
qm_no_window() {
  if qm_tool list | grep -q "^window .* title=$1\$"; then qm_bad "a window '$1' is open"; fi
}

qm_transcript() { grep "^$1 " "$QM_STATE/transcript.txt" || true; }
qm_status() {
  qm_drive_state_current
  grep "^$1 " "$QM_STATE/status.txt" 2>/dev/null || true
}
qm_digest() { qm_status "$1" | sed -n 's/.* digest=\([0-9a-f]*\) .*/\1/p'; }

# One word per command of drive L after its last START STOP UNIT: the CDB's
# first three bytes and the status, e.g. "3B05F0:00".
qm_after_eject() {
  qm_transcript "$1" | awk '
    substr($2, 1, 2) == "1B" { n = 0; next }
    { w[++n] = substr($2, 1, 6) ":" substr($6, 8) }
    END { for (i = 1; i <= n; ++i) print w[i] }'
}

# The drive received the whole image, as an update does it: state read, mode
# switch, 60 blocks at 000000..1D8000 in order, mode switch, state read; it
# now holds exactly the image and reports its revision.
qm_expect_update() {
  local expected actual blocks
  expected=$(printf '3C02F1:00\n3B05FF:00\n'; for _ in $(seq 60); do echo 3B05F0:00; done
             printf '3B05FF:00\n3C02F1:00')
  actual=$(qm_after_eject D | head -n 64)
  [ "$actual" = "$expected" ] || qm_bad "the download was not state, switch, 60 blocks, switch, state"
  blocks=$(qm_transcript D | awk '$2 ~ /^3B05F0/ { print substr($2, 7, 6) }' | tr '\n' ' ')
  [ "$blocks" = "$(for n in $(seq 0 59); do printf '%06X ' $((n * 0x8000)); done)" ] ||
    qm_bad "the blocks did not go to 000000..1D8000 in order: $blocks"
  [ "$(qm_digest D)" = "$QM_IMAGE_DIGEST" ] || qm_bad "the drive's image differs from the file"
  qm_status D | grep -q ' revision=1.10 date=09/08/21 ' || qm_bad "the drive does not report the image's revision"
}

# Nothing was written to drive L, and its firmware area is as it was.
qm_expect_untouched() {
  if qm_transcript "$1" | grep -q "^$1 3B"; then qm_bad "WRITE BUFFER reached drive $1"; fi
  [ "$(qm_digest "$1")" = "$QM_INITIAL_DIGEST" ] || qm_bad "drive $1's firmware area changed"
  qm_status "$1" | grep -q ' applied=0 ' || qm_bad "drive $1 applied an image"
}

qm_expect_rc() { [ "$QM_RC" = "$1" ] || qm_bad "QUILLMOR.EXE exited $QM_RC, expected $1"; }

qm_bad() {
  echo "FAIL: $*"
  QM_FAILED=1
}

qm_report() {
  echo "--- windows"; qm_tool list 2>&1 || true
  echo "--- last window found"; echo "${QM_WINDOW:-none}"
  echo "--- transcript"; cat "$QM_STATE/transcript.txt" 2>/dev/null
  echo "--- status"; qm_drive_state_current; cat "$QM_STATE/status.txt" 2>/dev/null
  echo "--- program output"; grep -v '^XGetInputFocus' "$QM_WORK/out" 2>/dev/null | tail -n 40
}

# Ends the scenario at once, with everything that explains the failure.
qm_fatal() {
  echo "FAIL: $*"
  qm_report
  exit 1
}

qm_finish() {
  if [ "$QM_FAILED" -ne 0 ]; then
    qm_report
    exit 1
  fi
  echo "PASS: $(grep -c . "$QM_STATE/transcript.txt" 2>/dev/null) drive commands; exit code $QM_RC"
  exit 0
}
