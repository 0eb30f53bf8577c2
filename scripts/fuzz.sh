#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ and runs each for the given number
# of seconds (default 60), FUZZ_JOBS of them at a time (default 4). Each target
# starts from its seeds and regression inputs in tests/corpus/<name>/ and keeps
# what it finds in build-fuzz/corpus/<name>/; a crash, a leak, a sanitizer
# report, an input slower than 20 s or one using more than 2 GiB fails the run,
# and the input is kept in build-fuzz/artifacts/<name>/.
#   scripts/fuzz.sh [seconds-per-target] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
[ $# -gt 0 ] && shift
jobs="${FUZZ_JOBS:-4}"

scripts/install-deps.sh
launcher=()
if command -v ccache >/dev/null; then
  # Paths below the checkout are hashed relative to it, so that another clone reuses the cache.
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DMIVORA_BUILD_FUZZERS=ON -DMIVORA_BUILD_TESTS=OFF -DMIVORA_BUILD_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzzers

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for program in build-fuzz/fuzz/fuzz_*; do targets+=("${program#build-fuzz/fuzz/fuzz_}"); done
fi

run_target() {
  local name="$1" seconds="$2"
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/artifacts/$name" build-fuzz/logs
  local seeds=()
  [ -d "tests/corpus/$name" ] && seeds=("tests/corpus/$name")
  # Leaks are looked for: every reader frees what it allocated for one input.
  "build-fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$name/" \
    "build-fuzz/corpus/$name" "${seeds[@]}" >"build-fuzz/logs/$name.log" 2>&1
}
export -f run_target

failed=0
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target "$@"' _ {} "$seconds" || failed=1

printf '%-24s %12s %8s %10s  %s\n' target runs coverage features result
for name in "${targets[@]}"; do
  log="build-fuzz/logs/$name.log"
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo '?')
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo '?')
  if grep -qE '^==[0-9]+==ERROR|^SUMMARY: |Test unit written|runtime error' "$log"; then
    result="FAILED (build-fuzz/logs/$name.log)"
    failed=1
  else
    result=ok
  fi
  printf '%-24s %12s %8s %10s  %s\n' "$name" "$runs" "$coverage" "$features" "$result"
done
exit "$failed"
