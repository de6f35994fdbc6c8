# shellcheck shell=bash
# Sourced by the tests that need programs of this machine (sg3_utils, Wine,
# Xvfb, ImageMagick, mingw-w64) or the Windows builds beside the native one.
#
# qm_missing WHAT...: says what is missing and skips the test (exit 77, the
# tests' SKIP_RETURN_CODE). In CI (CI set, and not to "false" or "0"), whose
# set-up installs every tool (tools/install-deps.sh) and makes every build
# (tools/build.sh), the test fails instead: there a missing tool is a broken
# set-up, and a skip would hide it.
qm_missing() {
  if qm_in_ci; then
    echo "FAIL: $* (CI has every tool and build: tools/install-deps.sh, tools/build.sh)"
    exit 1
  fi
  echo "SKIP: $*"
  exit 77
}

# qm_missing_wine32 WHAT...: the one exception, 32-bit Wine (wine32:i386) for
# the i686 programs. On a day when the i386 packages cannot be installed their
# tests skip in CI too, and .ci/run ends with a line saying so.
qm_missing_wine32() {
  echo "SKIP: $*"
  exit 77
}

qm_in_ci() {
  case ${CI:-} in
    '' | false | 0) return 1 ;;
    *) return 0 ;;
  esac
}
