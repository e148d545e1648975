#!/usr/bin/env bash
# Builds the Debian package of a build folder with cpack and checks it with lintian.
#
#   scripts/lint-package.sh [build-folder]     (default build)
#
# The package goes to <build>/package/. lintian's findings are printed; the exit status is 1
# when it reports an error or a warning that packaging/debian/lintian-overrides does not
# override (every override there carries its reason).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
bash scripts/apt-install-missing.sh lintian

rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$build/package" >"$build/package.log" 2>&1 ||
  { cat "$build/package.log"; exit 1; }
deb=$(ls "$build"/package/*.deb)
echo "lintian $(basename "$deb"):"
# Root may run lintian only with this flag; the check reads the package and writes nothing.
# Overridden findings are shown too ("O:", after their reason); with them shown, lintian's own
# --fail-on would count them, so a warning fails the check by its "W:" line instead.
status=0
out=$(lintian --allow-root --fail-on error --show-overrides "$deb") || status=1
[ -n "$out" ] && echo "$out"
if [ $status -ne 0 ] || grep -q '^W: ' <<<"$out"; then
  echo "lintian: errors or warnings that are not overridden"
  exit 1
fi
echo "lintian: no errors, no warnings that are not overridden"
