#!/usr/bin/env bash
# Builds the Windows test programs with the fbclient.dll stand-in (tests/windows/CMakeLists.txt)
# and runs smoke.exe under Wine (ru_RU.UTF-8, headless) against Firebird databases made here
# with isql-fb (dialect 1, default character set WIN1251): one embedded, named by a Z:\ path in
# a folder with a Cyrillic name, and one through the server on localhost. Exits non-zero on any
# failure. The server's database is also named once by its Unix path (re-encoded, not mapped).
#   smoke.sh [BUILD_DIR]    (default: build-windows-tests in the repository)
# Needs scripts/install-windows-deps.sh to have run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-windows-tests}
source "$here/wine-env.sh"

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"
wine_prefix_ready

wine_test_folder smoke

dir=$work/Кириллица
mkdir -p "$dir"
chmod 777 "$work" "$dir"

create_database() { # NAME (as isql-fb takes it)
  # isql-fb warns that a dialect-1 DATE is a TIMESTAMP: shown only when it fails.
  isql-fb -q -b -i /dev/stdin >"$work/isql.log" 2>&1 <<SQL || { cat "$work/isql.log" >&2; return 1; }
SET NAMES UTF8;
SET SQL DIALECT 1;
CREATE DATABASE '$1' USER 'SYSDBA' PASSWORD 'quillfern' DEFAULT CHARACTER SET WIN1251;
CREATE TABLE SMOKE_ROW (D DATE, N NUMERIC(9,2), S VARCHAR(20));
INSERT INTO SMOKE_ROW VALUES ('29.02.2024 13:45:07', 12345.67, 'Привет, мир');
COMMIT;
SQL
}
create_database "$dir/embedded.fdb"
create_database "localhost:$dir/remote.fdb"

dos() { printf 'Z:%s' "${1//\//\\}"; }
# With the embedded engine loaded, SIGTERM only shuts the engine down (Firebird's handler), so
# the time limit ends the program with SIGKILL when SIGTERM has not.
timeout -k 10 300 "$DBU_WINE" "$build/bin/smoke.exe" \
  "$(dos "$dir/embedded.fdb")" "localhost:$(dos "$dir/remote.fdb")" "localhost:$dir/remote.fdb" \
  --create "$(dos "$dir/created.fdb")" --missing "$(dos "$dir/missing.fdb")"
