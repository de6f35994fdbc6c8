#!/usr/bin/env bash
# Installs what Quillmor needs on Debian 12, for one of two profiles:
#   demo  the native build and the demo: compiler, CMake, libsystemd, OpenSSL's
#         libcrypto (the image's SHA-256), GoogleTest
#   all   (default) everything the three builds and every test need: the above,
#         mingw-w64, Wine, Xvfb, sg3_utils, the mock logind, the package tools,
#         qemu and busybox for the kernel tests...
# Idempotent: when everything is present it changes nothing and returns at once.
# Runs as root, or as a user with sudo.
# The product, the i686 QUILLMOR.EXE, runs under 32-bit Wine: wine32 from the
# i386 architecture, which "all" adds. Should the i386 packages be unavailable,
# it says so loudly and goes on; the i686 Wine tests then report themselves
# skipped and .ci/run ends saying that the shipped build was not run. Where the
# kernel runs no 32-bit code at all, qemu-i386 runs it (tools/ia32.sh), which
# "all" fetches from Debian's backports suite.
# Usage: tools/install-deps.sh [demo|all]
set -euo pipefail

profile=${1:-all}
# The native build: its tests are built with it, so GoogleTest belongs here.
packages=(
  cmake g++ make
  libsystemd-dev libssl-dev
  libgtest-dev googletest
)
case $profile in
  demo) ;;
  all)
    packages+=(
      dbus-daemon python3-dbusmock
      g++-mingw-w64-i686 g++-mingw-w64-x86-64
      gcc-multilib
      wine wine64
      xvfb xdotool x11-utils imagemagick
      sg3-utils shellcheck
      qemu-system-x86 kmod busybox-static cpio
      fonts-ipafont-gothic locales
      clang libclang-rt-14-dev
      dpkg-dev file groff-base
    )
    ;;
  *) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  as_root=()
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
wine32=wine32:i386
want_wine32=0
if [ "$profile" = all ] && ! installed "$wine32"; then want_wine32=1; fi

run_root() {
  if [ "$(id -u)" -ne 0 ] && [ ${#as_root[@]} -eq 0 ]; then
    echo "install-deps: need root (or sudo) to run: $*" >&2
    return 1
  fi
  "${as_root[@]}" "$@"
}

export DEBIAN_FRONTEND=noninteractive
# With recommends: the set this was verified with (xauth, fonts, GL for Wine).
apt_opts=(-y -q -o Dpkg::Use-Pty=0)

wine32_failed() {
  {
    echo
    echo "install-deps: ****************************************************************"
    echo "install-deps: WARNING: $wine32 could not be installed ($1)."
    echo "install-deps: The i686 QUILLMOR.EXE, the product, cannot run under Wine here:"
    echo "install-deps: its Wine tests will report themselves skipped."
    echo "install-deps: ****************************************************************"
    echo
  } >&2
}

# The i386 architecture first, so that one package list update serves both.
added_i386=0
if [ $want_wine32 = 1 ]; then
  if [ "$(dpkg --print-architecture)" != amd64 ]; then
    wine32_failed "this is no amd64 system"
    want_wine32=0
  elif ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: adding the i386 architecture (for $wine32)"
    if run_root dpkg --add-architecture i386; then
      added_i386=1
    else
      wine32_failed "dpkg --add-architecture i386 failed"
      want_wine32=0
    fi
  fi
fi

if [ ${#missing[@]} -gt 0 ] || [ $want_wine32 = 1 ]; then
  if ! run_root env DEBIAN_FRONTEND=noninteractive apt-get update -q; then
    [ $want_wine32 = 1 ] || exit 1
    # The i386 archive may be what failed: without it, once more.
    wine32_failed "apt-get update failed with the i386 architecture"
    want_wine32=0
    if [ $added_i386 = 1 ]; then run_root dpkg --remove-architecture i386; fi
    run_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  fi
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  run_root env DEBIAN_FRONTEND=noninteractive apt-get install "${apt_opts[@]}" "${missing[@]}"
fi
if [ $want_wine32 = 1 ]; then
  echo "install-deps: installing $wine32"
  run_root env DEBIAN_FRONTEND=noninteractive apt-get install "${apt_opts[@]}" "$wine32" ||
    wine32_failed "apt-get install failed"
fi
if [ ${#missing[@]} -eq 0 ] && { [ "$profile" = demo ] || installed "$wine32"; }; then
  echo "install-deps: all packages of the $profile profile present"
fi
[ "$profile" = all ] || exit 0

# Locales: Japanese for the runs under Wine (ANSI code page 932 for the app), and
# one whose decimal separator is a comma for the version rule's test.
for lang in ja_JP de_DE; do
  if ! locale -a 2>/dev/null | grep -qi "^$lang\.utf-\?8\$"; then
    echo "install-deps: building locale $lang.UTF-8"
    run_root localedef -i "$lang" -f UTF-8 "$lang.UTF-8" ||
      echo "install-deps: warning: could not build $lang.UTF-8" >&2
  fi
done


# qemu-i386, version 8 or later, for the i686 programs where the kernel refuses
# 32-bit code (tools/ia32.sh); fetched on every machine, since one test forces
# that route wherever it can run. Unpacked into the user's cache, never
# installed: the host's binfmt_misc stays as it is.
if ! "$(dirname "$0")/ia32.sh" fetch-qemu; then
  {
    echo
    echo "install-deps: ****************************************************************"
    echo "install-deps: WARNING: no qemu-i386 of version 8 or later could be fetched."
    echo "install-deps: Where this kernel cannot run 32-bit code, the i686 QUILLMOR.EXE"
    echo "install-deps: cannot run under Wine: its tests will report themselves skipped."
    echo "install-deps: ****************************************************************"
    echo
  } >&2
fi
