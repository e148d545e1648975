#!/usr/bin/env bash
# Sends SIGTERM and SIGINT, in turn, at random moments of many runs of the built dbupgrade
# (default 1,000) and checks every run: it ends on its own and never by a crash, interrupted
# (exit code 1, SetupStatus=Cancel, one level-1 entry) or, when the signal came after its
# work, in order (exit code 0, Continue); no statement is applied in part. These are the
# checks of the suite's test FaultProcess.StopSignalsAtRandomMomentsNeverCrash (200 rounds),
# run with more rounds. Uses the local Firebird server, started when none answers.
#
#   scripts/signal-rounds.sh [rounds]
#
# BUILD_DIR (default build) is the build folder; it must hold a build with the tests
# (cmake -S . -B build && cmake --build build -j2).
set -uo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-1000}
tests=${BUILD_DIR:-build}/tests/runner/runner_tests
if [ ! -x "$tests" ]; then
  echo "signal-rounds.sh: no $tests; build first (cmake -S . -B build && cmake --build build -j2)" >&2
  exit 2
fi
if ! bash scripts/firebird-server.sh running; then
  bash scripts/firebird-server.sh start || exit 1
  trap 'bash scripts/firebird-server.sh stop' EXIT
fi
DBU_SIGNAL_ROUNDS=$rounds "$tests" --gtest_filter='FaultProcess.StopSignalsAtRandomMomentsNeverCrash'
