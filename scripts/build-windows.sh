#!/usr/bin/env bash
# Cross-builds the Windows build with MinGW-w64 into build-windows/ (or BUILD_DIR): installs what
# it needs (scripts/install-windows-deps.sh), configures with the MinGW-w64 toolchain, builds
# dbupgrade.exe, dbupgrade-check.exe and the test programs, and packs the ZIP
# (dbupgrade-<version>-windows-x64.zip: both programs, the example settings file and script, the
# README and the license). With --test, runs the test programs under Wine (headless,
# ru_RU.UTF-8, the prefix of tests/windows/wine-env.sh).
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
(cd "$build" && cpack >/dev/null)

if [ $run_tests = 1 ]; then
  # What ships: each program a GUI (dbupgrade) or console (dbupgrade-check) program that needs
  # no DLL beyond the system's, and a ZIP of exactly the programs, the examples, README and
  # license.
  system_dlls='^(ADVAPI32|KERNEL32|msvcrt|SHELL32|USER32)\.dll$'
  for program in dbupgrade:GUI dbupgrade-check:CUI; do
    exe=$build/${program%%:*}.exe
    header=$(x86_64-w64-mingw32-objdump -p "$exe")
    grep -q "Subsystem.*(Windows ${program##*:})" <<<"$header" ||
      { echo "$exe: not a Windows ${program##*:} program" >&2; exit 1; }
    if grep 'DLL Name:' <<<"$header" | awk '{print $3}' | grep -Evi "$system_dlls"; then
      echo "$exe: needs the DLLs above beyond the system's" >&2
      exit 1
    fi
  done
  version=$(sed -nE 's/^project\(dbupgrade VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
  listed=$(unzip -Z1 "$build/dbupgrade-$version-windows-x64.zip" | LC_ALL=C sort | tr '\n' ' ')
  expected="dbupgrade-$version-windows-x64/LICENSE dbupgrade-$version-windows-x64/README.md \
dbupgrade-$version-windows-x64/dbupgrade-check.exe dbupgrade-$version-windows-x64/dbupgrade.exe \
dbupgrade-$version-windows-x64/dbupgrade.ini dbupgrade-$version-windows-x64/dbupgrade.sql "
  [ "$listed" = "$expected" ] || { echo "the ZIP holds: $listed" >&2; exit 1; }
  echo "Windows programs and ZIP: as they ship"

  source tests/windows/wine-env.sh
  wine_prefix_ready
  # One wineserver for the whole run: each test program then starts in a fraction of a second.
  wine_keep_server 30
  ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 600
fi
