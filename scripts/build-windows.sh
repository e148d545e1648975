#!/usr/bin/env bash
# Cross-builds the Windows build with MinGW-w64 into build-windows/ (or BUILD_DIR): installs what
# it needs (scripts/install-windows-deps.sh), configures with the MinGW-w64 toolchain and builds
# what the Windows build holds so far: the platform layer and its tests. With --test, runs
# those tests under Wine (headless, ru_RU.UTF-8, the prefix of tests/windows/wine-env.sh).
#   scripts/build-windows.sh [--test] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

run_tests=0
if [ "${1:-}" = "--test" ]; then
  run_tests=1
  shift
fi
build=${1:-build-windows}
jobs=$(nproc)

bash scripts/install-windows-deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDBU_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"

if [ $run_tests = 1 ]; then
  source tests/windows/wine-env.sh
  wine_prefix_ready
  # One wineserver for the whole run: each test program then starts in a fraction of a second.
  wine_keep_server 30
  ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 600
fi
