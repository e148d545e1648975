#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (a build folder of their own) and runs each one for a
# bounded time, starting from the seed corpus in fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [total-seconds] [target...]
#
# total-seconds (or FUZZ_SECONDS; default 60) is split evenly across the targets run.
# FUZZ_BUILD_DIR (default build-fuzz) is the build folder; DBU_WERROR=ON (as test.sh sets it)
# makes warnings errors. New corpus units go to
# <build>/fuzz-corpus/<target>/ (the committed seeds are only read), crashes, leaks and
# timeouts to <build>/fuzz-crashes/<target>/. One summary line per target; exit status 1
# when any target found a crash (or did not build), else 0.
set -uo pipefail
cd "$(dirname "$0")/.."

total=${1:-${FUZZ_SECONDS:-60}}
shift $(($# > 0 ? 1 : 0))
build=${FUZZ_BUILD_DIR:-build-fuzz}
all_targets=(fuzz_settings fuzz_script_reader fuzz_script_check fuzz_script_variables
             fuzz_param_buffers fuzz_sql_params fuzz_text_format)
targets=("${@:-${all_targets[@]}}")
jobs=${FUZZ_BUILD_JOBS:-$(nproc)}

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found (scripts/install-deps.sh installs clang and libclang-rt-14-dev)"
  exit 1
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DDBU_FUZZ=ON -DDBU_BUILD_TESTS=OFF -DDBU_BUILD_BENCH=OFF \
  -DDBU_WERROR="${DBU_WERROR:-OFF}" \
  >/dev/null || exit 1
if ! cmake --build "$build" -j "$jobs" --target "${targets[@]}" >"$build/fuzz-build.log" 2>&1; then
  tail -n 40 "$build/fuzz-build.log"
  echo "fuzz: the targets did not build (see $build/fuzz-build.log)"
  exit 1
fi

per_target=$((total / ${#targets[@]}))
((per_target < 1)) && per_target=1

# Leaks inside the client library are not ours (tests/lsan.supp); the fuzzer's own exit code
# for a crash is kept distinct from a clean end.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
for target in "${targets[@]}"; do
  seeds="fuzz/corpus/$target"
  corpus="$build/fuzz-corpus/$target"
  crashes="$build/fuzz-crashes/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$corpus" "$crashes" "$(dirname "$log")"
  before=$(find "$crashes" -type f | wc -l)
  # 2 GB of memory, 25 s per input; units up to 64 KB so that long lines get tried.
  "$build/fuzz/$target" -max_total_time="$per_target" -timeout=25 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  units=$(find "$corpus" -type f | wc -l)
  after=$(find "$crashes" -type f | wc -l)
  if [ $rc -eq 0 ]; then
    echo "$target: ok, ${per_target}s, ${runs:-?} runs, corpus $units units"
  else
    status=1
    newest=$(ls -t "$crashes" 2>/dev/null | head -n 1)
    echo "$target: FAILED (exit $rc), ${per_target}s, ${runs:-?} runs, $((after - before)) new" \
      "finding(s), newest $crashes/$newest, log $log"
    grep -a -m 3 -E "property violated|ERROR: |runtime error" "$log" | sed 's/^/    /'
  fi
done
exit $status
