#!/usr/bin/env bash
# The i686 programs (QUILLMOR.EXE, the product, under 32-bit Wine) on this
# machine: natively where the kernel runs 32-bit x86 code; where it refuses it
# (ENOEXEC: IA-32 emulation off, which neither /proc/config.gz nor
# /proc/sys/abi shows), through qemu's user-mode qemu-i386, registered for i386
# ELF files in a private user and mount namespace's own binfmt_misc (Linux 6.7
# or later), never on the host.
#
# Usage:
#   tools/ia32.sh probe           what the kernel does with a 32-bit program:
#                                 "native", or "refused: <why>"
#   tools/ia32.sh route           the route this machine gives i686 programs:
#                                 "native", "qemu <path> (<version>)" or
#                                 "none: <why>"; exit 0 unless none
#   tools/ia32.sh run [--optional] COMMAND...
#                                 runs COMMAND where its i686 programs run; with
#                                 no route it skips (exit 77, the reason on
#                                 stdout), or with --optional runs COMMAND as it
#                                 is (a step whose 64-bit part still counts)
#   tools/ia32.sh fetch-qemu      puts qemu-user's qemu-i386 (version 8 or
#                                 later) in the cache below, from Debian's
#                                 backports suite, unpacked with dpkg-deb: the
#                                 host's binfmt_misc is never touched
#
# QM_IA32_ROUTE=native|qemu forces a route (default: auto). Forcing qemu keeps
# the emulated route from rotting on machines that run 32-bit code natively.
# QM_QEMU_I386 names the qemu-i386 to use; otherwise the cache
# (${XDG_CACHE_HOME:-~/.cache}/quillmor/qemu/qemu-i386), then qemu-i386-static
# and qemu-i386 on PATH. Version 8 or later: 7.2 takes MAP_FIXED_NOREPLACE as a
# hint, and Wine's memory set-up fails under it.
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillmor/qemu
min_qemu=8
enoexec="this kernel cannot run 32-bit code (ENOEXEC)"
# An ELF entry for i386 executables (static or dynamic): class 32, little
# endian, type EXEC or DYN, machine 3. The kernel reads the escapes.
binfmt_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A static i386 program of 93 bytes: one program header, then
# "xor ebx,ebx; mov bl,42; xor eax,eax; inc eax; int 0x80", exit(42) through
# the 32-bit system call gate. Needs no multilib and no i386 library.
write_probe() {
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80' >"$1"
  chmod 755 "$1"
}

# A folder that may hold a program we run (TMPDIR may be mounted noexec).
probe_dir() {
  local d
  for d in "${TMPDIR:-/tmp}" "$cache"; do
    mkdir -p "$d" 2>/dev/null || continue
    mktemp -d "$d/qm-ia32.XXXXXX" 2>/dev/null && return 0
  done
  return 1
}

# probe_kernel: "native", or "refused: ..." with what execve said.
probe_kernel() {
  local dir out status
  dir=$(probe_dir) || { echo "refused: no folder to write the probe in"; return; }
  write_probe "$dir/probe"
  status=0
  out=$(LC_ALL=C "$dir/probe" 2>&1) || status=$?
  if [ "$status" = 126 ] && [ -x "$dir/probe" ]; then
    # The folder may be noexec (EACCES): only ENOEXEC is the kernel's refusal.
    case $out in
      *"Exec format error"*) ;;
      *) rm -rf "$dir"; echo "refused: the probe could not be run ($out)"; return ;;
    esac
  fi
  rm -rf "$dir"
  if [ "$status" = 42 ]; then
    echo native
  elif [ "$status" = 126 ]; then
    echo "refused: $enoexec"
  else
    echo "refused: the 32-bit probe ended with $status${out:+ ($out)}"
  fi
}

qemu_major() { "$1" --version 2>/dev/null | sed -nE '1s/^qemu-i386 version ([0-9]+)\..*/\1/p'; }

# find_qemu: the first qemu-i386 of version 8 or later, or nothing.
find_qemu() {
  local c major
  for c in ${QM_QEMU_I386:-} "$cache/qemu-i386" \
           "$(command -v qemu-i386-static || true)" "$(command -v qemu-i386 || true)"; do
    if [ -z "$c" ] || [ ! -x "$c" ]; then continue; fi
    major=$(qemu_major "$c")
    if [ -n "$major" ] && [ "$major" -ge "$min_qemu" ]; then
      echo "$c"
      return 0
    fi
  done
  return 1
}

# in_namespace QEMU COMMAND...: COMMAND in a new user and mount namespace whose
# own binfmt_misc hands i386 ELF files to QEMU. The entry's interpreter name
# ends in -binfmt-P, which Debian's qemu takes as "argv[0] is preserved" (flag
# P); O and F let it open the program and the interpreter as the kernel does.
# Namespaces nested below inherit the entry; a second one gives back a caller
# who is not root its own user id (the first maps it to root, which owns the
# mount's register file).
in_namespace() {
  local qemu=$1 link_dir
  shift
  link_dir=$(mktemp -d "${TMPDIR:-/tmp}/qm-qemu.XXXXXX")
  ln -s "$qemu" "$link_dir/qemu-i386-binfmt-P"
  # The entry holds the interpreter open (F): the link goes as soon as it is in.
  # shellcheck disable=SC2016  # expanded by the namespace's shell
  exec unshare --user --map-root-user --mount -- bash -c '
    link=$1 uid=$2 gid=$3 magic=$4 mask=$5
    shift 5
    status=0
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
      printf "%s" ":qm-i386:M::$magic:$mask:$link:POF" >/proc/sys/fs/binfmt_misc/register ||
      status=$?
    rm -rf "${link%/*}"
    [ $status = 0 ] || exit 125
    if [ "$uid" != 0 ]; then
      exec unshare --user --map-user="$uid" --map-group="$gid" -- "$@"
    fi
    exec "$@"' qm-ia32 "$link_dir/qemu-i386-binfmt-P" "$(id -u)" "$(id -g)" \
      "$binfmt_magic" "$binfmt_mask" "$@"
}

# qemu_route: "qemu <path> (<version>)" when a qemu-i386 runs the probe in a
# namespace of its own here, else "none: <why>".
qemu_route() {
  local qemu dir status
  if ! qemu=$(find_qemu); then
    echo "none: none was found (tools/install-deps.sh all fetches one)"
    return
  fi
  dir=$(probe_dir) || { echo "none: no folder to write the probe in"; return; }
  write_probe "$dir/probe"
  status=0
  (in_namespace "$qemu" "$dir/probe") >/dev/null 2>&1 || status=$?
  rm -rf "$dir"
  if [ "$status" = 42 ]; then
    echo "qemu $qemu ($("$qemu" --version | sed -nE '1s/^qemu-i386 version ([^ ]+).*/\1/p'))"
  else
    echo "none: $qemu could not be registered in a private namespace here" \
         "(binfmt_misc in a user namespace needs Linux 6.7 or later; status $status)"
  fi
}

route() {
  local kernel q
  case ${QM_IA32_ROUTE:-auto} in
    native) echo native; return ;;
    qemu)
      q=$(qemu_route)
      case $q in
        qemu*) echo "$q" ;;
        *) echo "none: QM_IA32_ROUTE=qemu, but no qemu-i386 of version $min_qemu or later could be used: ${q#none: }" ;;
      esac
      return ;;
    auto) ;;
    *) echo "none: QM_IA32_ROUTE is native, qemu or auto, not '$QM_IA32_ROUTE'"; return ;;
  esac
  kernel=$(probe_kernel)
  if [ "$kernel" = native ]; then
    echo native
    return
  fi
  q=$(qemu_route)
  case $q in
    qemu*) echo "$q" ;;
    *)
      local why=${q#none: }
      [ "$kernel" = "refused: $enoexec" ] || why="${kernel#refused: }; $why"
      echo "none: the kernel cannot run 32-bit code and no qemu-i386 of version $min_qemu or later could be used: $why" ;;
  esac
}

fetch_qemu() {
  if find_qemu >/dev/null; then
    echo "ia32: qemu-i386 $(qemu_major "$(find_qemu)").x present: $(find_qemu)"
    return 0
  fi
  if ! command -v apt-get >/dev/null || ! command -v dpkg-deb >/dev/null; then
    echo "ia32: no apt-get or dpkg-deb to fetch qemu-user with" >&2
    return 1
  fi
  local codename source uri signed apt work
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "ia32: no VERSION_CODENAME in /etc/os-release" >&2; return 1; }
  # The suite's line comes from the machine's own Debian source: its mirror
  # and key, with the backports suite.
  source=$(debian_source "$codename") ||
    { echo "ia32: no Debian source for $codename in /etc/apt" >&2; return 1; }
  uri=${source%% *}
  signed=${source#* }
  work=$(mktemp -d "${TMPDIR:-/tmp}/qm-qemu-fetch.XXXXXX")
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts" "$work/deb"
  echo "deb ${signed:+[signed-by=$signed] }$uri $codename-backports main" >"$work/sources.list"
  # Private lists, cache and sources: the machine's apt configuration and
  # package state stay as they are.
  apt=(apt-get -q -o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
       -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
       -o Debug::NoLocking=1 -o "APT::Sandbox::User=$(id -un)")
  echo "ia32: fetching qemu-user from $codename-backports (for qemu-i386)"
  if "${apt[@]}" update >"$work/apt.log" 2>&1 &&
     (cd "$work/deb" && "${apt[@]}" download qemu-user >>"$work/apt.log" 2>&1); then
    mkdir -p "$cache"
    dpkg-deb --fsys-tarfile "$work"/deb/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$cache/qemu-i386.new"
    chmod 755 "$cache/qemu-i386.new"
    mv "$cache/qemu-i386.new" "$cache/qemu-i386"
    rm -rf "$work"
    echo "ia32: $("$cache/qemu-i386" --version | head -n1) in $cache"
    return 0
  fi
  sed 's/^/ia32:   /' "$work/apt.log" >&2
  rm -rf "$work"
  return 1
}

# debian_source CODENAME: "URI KEYRING" of the first source whose suite is
# CODENAME, in deb822 (*.sources) or one-line (*.list) form.
debian_source() {
  local f line
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v want="$1" '
      function flush() {
        if (enabled && uri != "" && index(" " suites " ", " " want " ")) { print uri " " key; found = 1; exit }
        uri = ""; suites = ""; key = ""; enabled = 1
      }
      BEGIN { enabled = 1 }
      /^[ \t]*$/ { flush(); next }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { $1 = ""; suites = $0 }
      /^Signed-By:/ { key = $2 }
      /^Enabled:/ { enabled = ($2 != "no") }
      END { if (!found) flush(); exit !found }' "$f" && return 0
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    while read -r line; do
      local options="" words
      case $line in "deb "*) ;; *) continue ;; esac
      line=${line#deb }
      if [[ $line =~ ^\[([^]]*)\][[:space:]]*(.*)$ ]]; then
        options=${BASH_REMATCH[1]}
        line=${BASH_REMATCH[2]}
      fi
      read -ra words <<<"$line"
      [ "${words[1]:-}" = "$1" ] || continue
      local key=""
      [[ $options =~ signed-by=([^[:space:]]+) ]] && key=${BASH_REMATCH[1]}
      echo "${words[0]} $key"
      return 0
    done <"$f"
  done
  return 1
}

case ${1:-} in
  probe) probe_kernel ;;
  route)
    r=$(route)
    echo "$r"
    case $r in none*) exit 1 ;; esac ;;
  run)
    shift
    optional=0
    if [ "${1:-}" = --optional ]; then optional=1; shift; fi
    [ $# -gt 0 ] || { echo "usage: $0 run [--optional] COMMAND..." >&2; exit 2; }
    r=$(route)
    case $r in
      native) exec "$@" ;;
      qemu*)
        q=${r#qemu }
        export QM_IA32_VIA="qemu-i386 ${q#* }"
        echo "ia32: the i686 programs run through $QM_IA32_VIA, in a namespace of their own"
        in_namespace "${q%% *}" "$@" ;;
      *)
        if [ $optional = 1 ]; then
          echo "ia32: ${r#none: }; going on without the i686 programs"
          exec "$@"
        fi
        echo "SKIP: ${r#none: }"
        exit 77 ;;
    esac ;;
  fetch-qemu) fetch_qemu ;;
  *) echo "usage: $0 probe | route | run [--optional] COMMAND... | fetch-qemu" >&2; exit 2 ;;
esac
