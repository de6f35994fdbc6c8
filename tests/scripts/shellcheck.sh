#!/usr/bin/env bash
# Every shell script of the tree through shellcheck, with the tree's settings
# (.shellcheckrc): the *.sh files and the scripts named without the ending
# (.ci/run), build folders left out.
# Usage: shellcheck.sh ROOT
set -euo pipefail
root=$1
# shellcheck source=testing/missing.sh
. "$root/testing/missing.sh"
command -v shellcheck >/dev/null || qm_missing "shellcheck is not installed"

cd "$root"
scripts=()
while IFS= read -r -d '' file; do
  case $file in
    *.sh) scripts+=("$file") ;;
    *) if head -n 1 "$file" | grep -Eq '^#!.*[/ ](ba)?sh$'; then scripts+=("$file"); fi ;;
  esac
done < <(find . \( -name .git -o -path ./build -o -path './build-*' \) -prune -o -type f -print0)
[ ${#scripts[@]} -gt 0 ] || { echo "FAIL: no scripts found under $root"; exit 1; }
shellcheck "${scripts[@]}"
echo "ok: ${#scripts[@]} scripts, no findings"
