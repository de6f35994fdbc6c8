#!/usr/bin/env bash
# Builds the Debian package of the native quillmor from a native build (cpack)
# and checks it as a user gets it: the file name, the control fields, exactly
# the binary and the manual inside, a manual that formats without warnings, apt
# willing to install it, and the installed quillmor answering --version and
# --check against the emulated drive (drive server and preload library from the
# build), with no changing command reaching the drive.
# Usage: tools/check-deb.sh BUILD [--install]
#   default    unpacked into a throw-away root (dpkg -x); apt only simulates the
#              installation, so no root is needed (the ctest package.deb)
#   --install  installed for real with apt and removed again at the end: for CI,
#              which runs as root on a fresh machine
set -euo pipefail

build=$(cd "$1" && pwd)
mode=${2:-unpack}
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=testing/missing.sh
. "$root/testing/missing.sh"
# shellcheck source=tools/drive-server.sh
. "$root/tools/drive-server.sh"
case $mode in
  unpack | --install) ;;
  *) echo "usage: $0 BUILD [--install]" >&2; exit 2 ;;
esac
for tool in cpack dpkg-deb dpkg-shlibdeps apt-get groff file; do
  command -v "$tool" >/dev/null || qm_missing "$tool (cmake, dpkg, dpkg-dev, apt, groff-base, file)"
done
if [ "$mode" = --install ] && [ "$(id -u)" -ne 0 ]; then
  echo "check-deb: --install needs root" >&2
  exit 2
fi

server=$build/sim/qm-drive-server
preload=$build/sim/libqm_sgpreload.so
make_image=$build/sim/qm-make-image
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
[ -n "$version" ] || { echo "check-deb: no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmor-deb.XXXXXX")
installed=0
trap 'qm_stop_drive_server
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q quillmor >/dev/null ||
      echo "check-deb: apt-get remove quillmor failed" >&2
  fi
  rm -rf "$work"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# The package, built as the README tells.
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "check-deb: cpack failed" >&2
  exit 1
fi
deb=$work/out/quillmor_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
  echo "check-deb: no $(basename "$deb"); cpack made:" >&2
  ls "$work/out" >&2
  exit 1
fi
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb"

# Control fields: what apt and a user read.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = quillmor ] || bad "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || bad "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || bad "Architecture is '$(field Architecture)'"
[ -n "$(field Section)" ] || bad "no Section"
[ -n "$(field Maintainer)" ] || bad "no Maintainer"
depends=$(field Depends)
for lib in libc6 libstdc++6 libsystemd0 libssl3; do
  case ", $depends," in
    *", $lib "* | *", $lib,"*) ;;
    *) bad "Depends lacks $lib: '$depends'" ;;
  esac
done

# Exactly the program and its manual: nothing of the emulated drive, the tests
# or the build tree.
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
printf '%s\n' ./usr/bin/quillmor ./usr/share/man/man8/quillmor.8.gz >"$work/files.expected"
if ! diff -u "$work/files.expected" "$work/files"; then
  bad "the package holds other files than the program and its manual"
fi

# Where it lands: installed for real, or unpacked beside the work files after
# apt has said that it would install it.
if [ "$mode" = --install ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o Dpkg::Use-Pty=0 "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; echo "check-deb: apt-get install failed" >&2; exit 1; }
  installed=1
  prefix=
  dpkg-query -W -f='${Status}\n' quillmor | grep -q '^install ok installed$' ||
    bad "dpkg does not list quillmor as installed"
  command -v quillmor | grep -qx /usr/bin/quillmor || bad "quillmor is not /usr/bin/quillmor on PATH"
  man -w quillmor >/dev/null 2>&1 || bad "man does not find the manual page"
else
  apt-get install -s -q -o Debug::NoLocking=1 "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; bad "apt would not install the package"; }
  grep -q '^Inst quillmor ' "$work/apt.log" || { cat "$work/apt.log"; bad "apt's simulation installs no quillmor"; }
  dpkg-deb -x "$deb" "$work/root"
  prefix=$work/root
fi
quillmor=$prefix/usr/bin/quillmor
manual=$prefix/usr/share/man/man8/quillmor.8.gz

# The manual formats without a warning and names this version.
zcat "$manual" | groff -man -Tutf8 -ww -z 2>"$work/groff.log" || bad "groff failed on the manual"
if [ -s "$work/groff.log" ]; then
  cat "$work/groff.log"
  bad "the manual formats with warnings"
fi
zcat "$manual" | grep -q "quillmor $version" || bad "the manual does not carry version $version"

# The installed program against the emulated drive at /dev/sr1, every real sr
# device fenced off: old firmware, a newer image.
printf 'revision = 1.00\ndate = 09/07/15\n' >"$work/scenario"
qm_start_drive_server "$server" "$work" "$work/scenario"
"$make_image" -o "$work/Q5518306.707" --version 1.10 >/dev/null
devices=$(qm_fenced_devices /dev/sr1 D)
run() {
  (cd "$work" && LD_PRELOAD=$preload QM_SG_DEVICE=$devices QM_SG_SOCKET=$QM_DRIVE_SOCKET \
     timeout 30 "$quillmor" "$@" </dev/null >"$work/out.txt" 2>&1)
}

# The program runs (its libraries are those the package depends on), refuses an
# unknown option with the usage status, and prints this version.
set +e
run --no-such-option
rc=$?
set -e
[ $rc -eq 2 ] || { cat "$work/out.txt"; bad "quillmor --no-such-option exited $rc, not 2"; }
set +e
run --version
rc=$?
set -e
[ $rc -eq 0 ] || bad "quillmor --version exited $rc"
grep -q "$version" "$work/out.txt" || { cat "$work/out.txt"; bad "quillmor --version does not print $version"; }
echo "quillmor --version: $(head -n 1 "$work/out.txt")"

# Every long option the program offers is in its manual.
set +e
run --help
rc=$?
set -e
[ $rc -eq 0 ] || bad "quillmor --help exited $rc"
zcat "$manual" | groff -man -Tascii -P-cbou 2>/dev/null >"$work/manual.txt"
while read -r option; do
  grep -qF -- "$option" "$work/manual.txt" || bad "the manual does not document $option"
done < <(grep -oE -- '--[a-z][a-z-]*' "$work/out.txt" | sort -u)

set +e
run --check --device /dev/sr1 --image "$work/Q5518306.707"
rc=$?
set -e
cat "$work/out.txt"
[ $rc -eq 0 ] || bad "quillmor --check exited $rc, not 0 (an update is possible)"
grep -q /dev/sr1 "$work/out.txt" || bad "quillmor --check does not name the device"

# Whatever it was asked, nothing that changes the drive reached it: no START
# STOP UNIT (the eject) and no WRITE BUFFER (image blocks and mode switch).
"$server" --socket "$QM_DRIVE_SOCKET" --control "transcript D" >"$work/transcript"
if grep -E '^D (1B|3B)' "$work/transcript"; then
  bad "a changing command reached the drive"
fi
echo "the drive saw $(wc -l <"$work/transcript") commands, none that changes it"

[ $fail -eq 0 ] && echo "check-deb: $(basename "$deb") ($mode) passed"
exit $fail
