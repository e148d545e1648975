#!/usr/bin/env bash
# Runs a Windows program under Wine in the test prefix (wine-env.sh), preparing the prefix
# first when needed; exits with the program's exit status.
#   wine-run.sh PROGRAM.exe ARGS...
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
wine_prefix_ready
wine_run "$@"
