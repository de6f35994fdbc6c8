#!/usr/bin/env bash
# Installs what building, testing and demonstrating Quillmor needs on Debian 12.
# Idempotent: when everything is present it changes nothing and returns at once.
# Runs as root, or as a user with sudo. Never needs i386 packages; set
# QM_WANT_WINE32=1 to also try wine32 (best effort, never fatal).
set -euo pipefail

packages=(
  cmake g++ make
  libsystemd-dev
  libgtest-dev googletest libbenchmark-dev
  dbus-daemon python3-dbusmock
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64
  xvfb xdotool x11-utils imagemagick
  sg3-utils
  fonts-ipafont-gothic locales
  clang libclang-rt-14-dev
)

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  as_root=()
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

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

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  run_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  run_root env DEBIAN_FRONTEND=noninteractive apt-get install "${apt_opts[@]}" "${missing[@]}"
else
  echo "install-deps: all packages present"
fi

# Japanese runs under Wine need this locale (ANSI code page 932 for the app).
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "install-deps: building locale ja_JP.UTF-8"
  run_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || echo "install-deps: warning: could not build ja_JP.UTF-8" >&2
fi

if [ "${QM_WANT_WINE32:-0}" = 1 ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
  echo "install-deps: trying wine32 (optional)"
  {
    run_root dpkg --add-architecture i386 &&
    run_root env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    run_root env DEBIAN_FRONTEND=noninteractive apt-get install "${apt_opts[@]}" wine32:i386
  } || echo "install-deps: wine32 not installable here; continuing with 64-bit Wine only" >&2
fi
