#!/usr/bin/env bash
# Installs what is missing, starts a local Firebird server, builds the project twice (plain,
# and with AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both builds,
# builds the Debian package of the plain build and checks it with lintian, then builds the fuzz
# targets with clang and fuzzes each for a bounded time (FUZZ_SECONDS in all, default 60).
# Then cross-builds the Windows programs with MinGW-w64 (scripts/build-windows.sh, which
# installs the cross compiler and Wine when missing), runs their tests under Wine and runs
# dbupgrade.exe as a process under Wine (tests/windows/runner-process.sh).
# Warnings are errors in every build made here (DBU_WERROR=ON).
set -uo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh || exit 1
# Stop the server at the end only when this run started it (a server that was already up,
# e.g. one another session uses, keeps running).
if ! bash scripts/firebird-server.sh running; then
  bash scripts/firebird-server.sh start || exit 1
  trap 'bash scripts/firebird-server.sh stop' EXIT
fi

jobs=$(nproc)
# use_tls=0: the client library's engine loads and unloads plugins that carry thread-local
# storage; LeakSanitizer then scans stale dynamic-TLS entries and its tracer crashes at exit.
# Our own code keeps no heap pointers in thread-local storage, so leaks are still found.
export LSAN_OPTIONS="use_tls=0:suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

export DBU_WERROR=ON
status=0
# run_build DIR EXCLUDE [CMAKE_ARGS...]: configures, builds and runs every test of DIR but those
# whose names match the regular expression EXCLUDE (empty: none).
run_build() {
  local dir=$1 exclude=$2
  shift 2
  rm -f "$dir/ctest.out"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDBU_WERROR=ON "$@" >/dev/null || return 1
  cmake --build "$dir" -j "$jobs" || return 1
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 ${exclude:+-E "$exclude"} |
    tee "$dir/ctest.out"
}

# The sanitizer build leaves out what only repeats, several times slower, work that the plain
# build's tests already check and that holds no code path of its own: the installed package
# (built from the plain build), bulk inputs (ten thousand settings keys, Firebird's example
# scripts), the random-kill loop and the statement time limits, which mostly wait for their
# deadlines.
asan_exclude='^(Packaging\.|FirebirdScripts\.|HostileSettings\.TenThousandKeys|RunnerProcess\.HugeSettingsFile|FaultProcess\.KilledAtRandomPoints|FaultProcess\.StatementTimeout)'


# Adds up "N% tests passed, F tests failed out of T" of both builds; a skipped test counts in
# T but is neither passed nor failed (ctest lists it as "(Skipped)" under "did not run").
passed=0
failed=0
skipped=0
count_results() {
  local line t f s
  line=$(grep -E 'tests failed out of [0-9]+' "$1/ctest.out" 2>/dev/null | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))  # the build or ctest itself failed
    return
  fi
  f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  s=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$1/ctest.out")
  passed=$((passed + t - f - s))
  failed=$((failed + f))
  skipped=$((skipped + s))
}

echo "=== plain build ==="
run_build build "" || status=1
echo "=== package (cpack, lintian) ==="
bash scripts/lint-package.sh build || status=1
echo "=== sanitizer build (ASan + UBSan) ==="
run_build build-asan "$asan_exclude" -DDBU_SANITIZE=ON -DDBU_BUILD_BENCH=OFF || status=1
echo "=== fuzzing (libFuzzer, bounded) ==="
FUZZ_BUILD_DIR=build-fuzz bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}" || status=1

echo "=== Windows build under Wine (cross-built tests, the runner as a process) ==="
mkdir -p build-windows
bash scripts/build-windows.sh --test 2>&1 | tee build-windows/ctest.out || status=1
bash tests/windows/runner-process.sh 2>&1 | tee build-windows/runner-process.out || status=1

count_results build
count_results build-asan
count_results build-windows
# "runner under Wine: P passed, F failed"; without it the script itself failed.
line=$(grep -E '^runner under Wine: [0-9]+ passed, [0-9]+ failed$' build-windows/runner-process.out | tail -n 1)
if [ -n "$line" ]; then
  passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
else
  failed=$((failed + 1))
fi
if [ $status -ne 0 ]; then
  echo "TESTS FAILED"
fi
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit $status
