#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan, build/fuzz) and runs each for
# a while, both at once (one core each), from the seeds in fuzz/corpus. The corpus
# found is kept in build/fuzz/corpus between runs; an input that breaks a rule or
# crashes is kept in build/fuzz/artifacts and fails the run.
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
cmake --build "$dir" -j"${QM_JOBS:-2}" --target fuzz_image fuzz_replies

mkdir -p "$dir/corpus/image" "$dir/corpus/replies" "$dir/artifacts"
# The seeds (valid images and their near misses, reply scripts that reach each way
# an update ends) are read from fuzz/corpus/<target>; what the run finds is kept in
# build/fuzz/corpus/<target>. fuzz/corpus/make.sh writes the seeds.

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run() {  # name max_len
  local name=$1 maxLen=$2
  "$dir/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len="$maxLen" -timeout=20 \
    -dict="$root/fuzz/$name.dict" -artifact_prefix="$dir/artifacts/$name-" -print_final_stats=1 \
    "$dir/corpus/$name" "$root/fuzz/corpus/$name" >"$dir/$name.log" 2>&1
}

# The CPU seconds (user + system) each target used: on a shared machine its rate
# per CPU second is the one that compares.
timed() {  # name max_len
  local TIMEFORMAT='%U %S'
  { time run "$@"; } 2>"$dir/$1.cpu"
}

start=$SECONDS
timed image 1024 & imagePid=$!
timed replies 8192 & repliesPid=$!
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
  perCpu=$(awk -v runs="${runs:-0}" '$1 + $2 > 0 { printf "%.0f", runs / ($1 + $2) }' "$dir/$name.cpu" 2>/dev/null)
  echo "fuzz_$name: ${runs:-?} runs in ${seconds} s (${rate:-?}/s, ${perCpu:-?} per CPU second)," \
       "coverage ${cov:-?} edges, ${ft:-?} features, corpus ${corpus:-?}"
  if grep -qE '^(==[0-9]+==ERROR|broken rule|SUMMARY:)' "$log"; then
    echo "fuzz_$name FAILED:"; grep -E -A30 '^(==[0-9]+==ERROR|broken rule)' "$log" | head -n 60
    status=1
  fi
done
echo "== fuzz: $((SECONDS - start)) s, $([ $status -eq 0 ] && echo clean || echo FAILED)"
exit "$status"
