#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan, build/fuzz) and runs each for
# a while, both at once (one core each). The corpus is kept in build/fuzz/corpus
# between runs; an input that breaks a rule or crashes is kept in
# build/fuzz/artifacts and fails the run.
# Usage: tools/fuzz.sh [--ci] [SECONDS]   (per target; --ci: 45, else 600)
# QM_BUILD_DIR overrides the parent folder (default build/ in the tree).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${QM_BUILD_DIR:-$root/build}
dir=$out/fuzz
seconds=600
[ "${1:-}" = --ci ] && { seconds=45; shift; }
[ -n "${1:-}" ] && seconds=$1

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool is not installed" >&2; exit 1; }
done

echo "== $dir"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DQUILLMOR_FUZZ=ON -DQUILLMOR_SANITIZE=address,undefined \
      -DCMAKE_C_FLAGS=-fno-sanitize-recover=all -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=all >/dev/null
cmake --build "$dir" -j"${QM_JOBS:-2}" --target fuzz_image fuzz_replies qm-make-image

mkdir -p "$dir/corpus/image" "$dir/corpus/replies" "$dir/artifacts"
# Seeds for the image target (byte 0 picks the file length, see image_fuzzer.cpp):
# a whole matching header, as it is, cut to 1,966,080 and to 1,966,079 bytes.
seed=$(mktemp)
trap 'rm -f "$seed"' EXIT
"$dir/sim/qm-make-image" -o "$seed" --length 320 >/dev/null
for lengthByte in 00 80 7f; do
  { printf '%b' "\\x$lengthByte"; cat "$seed"; } >"$dir/corpus/image/seed-$lengthByte"
done
# The replies target: an empty input lets the drive answer itself; so do 256 zero
# bytes, which give the mutator a byte for each command of a whole run to change
# (the reply of the final state read, say), and the image change it may plan.
: >"$dir/corpus/replies/seed-empty"
head -c 256 /dev/zero >"$dir/corpus/replies/seed-answered"

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run() {  # name max_len
  local name=$1 maxLen=$2
  "$dir/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len="$maxLen" -timeout=20 \
    -dict="$root/fuzz/$name.dict" -artifact_prefix="$dir/artifacts/$name-" -print_final_stats=1 \
    "$dir/corpus/$name" >"$dir/$name.log" 2>&1
}

start=$SECONDS
run image 1024 & imagePid=$!
run replies 8192 & repliesPid=$!
status=0
wait "$imagePid" || status=1
wait "$repliesPid" || status=1

for name in image replies; do
  log=$dir/$name.log
  done=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' <<<"$done")
  ft=$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' <<<"$done")
  corpus=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$done")
  echo "fuzz_$name: ${runs:-?} runs in ${seconds} s (${rate:-?}/s), coverage ${cov:-?} edges, ${ft:-?} features, corpus ${corpus:-?}"
  if grep -qE '^(==[0-9]+==ERROR|broken rule|SUMMARY:)' "$log"; then
    echo "fuzz_$name FAILED:"; grep -E -A30 '^(==[0-9]+==ERROR|broken rule)' "$log" | head -n 60
    status=1
  fi
done
echo "== fuzz: $((SECONDS - start)) s, $([ $status -eq 0 ] && echo clean || echo FAILED)"
exit "$status"
