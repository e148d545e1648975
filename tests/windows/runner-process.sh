#!/usr/bin/env bash
# Runs the Windows dbupgrade.exe as a process under Wine (ru_RU.UTF-8: code page 1251, decimal
# comma, dd.MM.yyyy), each case in a setup folder of its own with a Cyrillic name, holding a copy
# of the program under the case's file name, the fbclient.dll stand-in (tests/windows) under
# the case's client library name or none, the settings file in UTF-16 LE with a byte-order mark
# and CR LF line ends (the form of a Unicode INI file of Windows' profile functions) and a UTF-8
# script with Cyrillic text. Every run's current folder holds planted client libraries. The
# databases are made with isql-fb (dialect 1, WIN1251) in a folder with a Cyrillic name: one
# embedded, named by its Z:\ path, and in the first case one more through the server on
# localhost. Each run is checked for its exit code, SetupStatus written back in UTF-16 LE with
# the mark and every other character kept, log lines ending in CR LF, texts in the log or on
# standard error, and the rows the script left, read back with isql-fb. The program is the one
# that the build's ZIP ships. Prints one summary line and exits non-zero when a case failed.
#   runner-process.sh [WINDOWS_BUILD_DIR [TESTS_BUILD_DIR]]
#     (defaults: build-windows, holding dbupgrade.exe, and build-windows-tests)
# Needs scripts/build-windows.sh to have built the ZIP.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
windows_build=${1:-$root/build-windows}
build=${2:-$root/build-windows-tests}
source "$here/wine-env.sh"

zip=$(ls -t "$windows_build"/dbupgrade-*-windows-x64.zip 2>/dev/null | head -n 1)
if [ -z "$zip" ]; then
  echo "runner under Wine: no ZIP in $windows_build (scripts/build-windows.sh makes it)" >&2
  echo "runner under Wine: 0 passed, 1 failed"
  exit 1
fi
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" --target fbclient_standin >/dev/null
wine_prefix_ready

wine_test_folder runner

dos() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

create_database() { # NAME (as isql-fb takes it)
  # isql-fb warns that a dialect-1 DATE is a TIMESTAMP: shown only when it fails.
  isql-fb -q -b -i /dev/stdin >"$work/isql.log" 2>&1 <<SQL || { cat "$work/isql.log" >&2; return 1; }
SET NAMES UTF8;
SET SQL DIALECT 1;
CREATE DATABASE '$1' USER 'SYSDBA' PASSWORD 'quillfern' DEFAULT CHARACTER SET WIN1251;
CREATE TABLE SRC (N NUMERIC(9,2), D DATE);
CREATE TABLE T (S VARCHAR(80));
INSERT INTO SRC VALUES (12345.67, '29.02.2024 13:45:07');
COMMIT;
SQL
}

rows() { # NAME: the rows of T, one a line
  printf 'SET HEADING OFF;\nSELECT %s FROM T;\n' "'[' || S || ']'" |
    isql-fb -q -user SYSDBA -password quillfern -ch UTF8 "$1" 2>/dev/null | sed -n 's/^\[\(.*\)\] *$/\1/p'
}

# The script's values come from a NUMERIC and a DATE column through VAR, so that the regional
# forms of the decimal and the date end up in the data.
upgrade_script='VAR @n = SELECT N FROM SRC

VAR @d = SELECT D FROM SRC

INSERT INTO T VALUES ('"'"'Привет: @n | @d'"'"')
'
failing_script="$upgrade_script
INSERT INTO NO_SUCH_TABLE VALUES (1)
"
upgraded_row='Привет: 12345,67 | 29.02.2024 13:45:07'
not_found='InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality'

# program's file name | client library beside it (the stand-in under that name, or none) |
# script | databases | exit code | SetupStatus | then texts that the log holds in UTF-8 (L:)
# or in the active code page, Windows-1251 (A:), or that standard error holds (E:); in them
# {db} stands for the embedded database's name, {remote} for the server's database file, {sql}
# for the script. The rows follow from the exit code.
cases=(
  "dbupgrade.exe|fbclient.dll|upgrade|embedded localhost|0|Continue|L:level 5:   Start upgrade database {db} \r|L:level 5:   Database localhost:{remote} upgrade was successful completed"
  "Обновление базы.exe|gds32.dll|upgrade|embedded|0|Continue|L:level 5:   Database {db} upgrade was successful completed|A:INSERT INTO T VALUES ('Привет: @n"
  "dbupgrade.exe|none|upgrade|embedded|1|Cancel|E:Exception EIBClientError in module dbupgrade.exe: $not_found"
  "Setup Upgrade.exe|fbclient.dll|failing|embedded|0|Cancel|L:level 1:   error: there was an error during execution SQL: \r|L:script: {sql}:7, database: {db}\r"
)

crlf=$'\r\n'
passed=0
failed=0
n=0
fail() {
  echo "FAILED case $n ($exe, client: $client, $script, $databases): $*" >&2
  ok=0
}
count() {
  if [ $ok = 1 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

# The program as it ships.
unzip -q "$zip" -d "$work/package"
shipped=$(echo "$work"/package/dbupgrade-*-windows-x64)
program=$shipped/dbupgrade.exe

# Every run's current folder holds client libraries that must never be loaded from there.
planted=$work/planted
mkdir -p "$planted"
cp "$build/bin/fbclient.dll" "$planted/fbclient.dll"
cp "$build/bin/fbclient.dll" "$planted/gds32.dll"
for row in "${cases[@]}"; do
  n=$((n + 1))
  IFS='|' read -r exe client script databases want_exit want_status texts <<<"$row"
  ok=1
  setup=$work/$n/Установка
  data=$work/$n/Кириллица
  mkdir -p "$setup" "$data"
  chmod 777 "$work/$n" "$data"

  cp "$program" "$setup/$exe"
  if [ "$client" != none ]; then cp "$build/bin/fbclient.dll" "$setup/$client"; fi
  base=$setup/${exe%.exe}
  names=()
  settings="[General]${crlf}DebugMode=5${crlf}[Database]${crlf}"
  for kind in $databases; do
    if [ "$kind" = embedded ]; then
      create_database "$data/x.fdb"
      names+=("$data/x.fdb")
      settings+="Local=$(dos "$data/x.fdb")$crlf"
    else
      create_database "localhost:$data/remote.fdb"
      names+=("localhost:$data/remote.fdb")
      settings+="Server=localhost:$(dos "$data/remote.fdb")$crlf"
    fi
  done
  # The run must write the other value.
  before=Continue
  [ "$want_status" = Continue ] && before=Cancel
  { printf '\xff\xfe'; printf '%s' "${settings}[Common]${crlf}SetupStatus=$before$crlf" | iconv -f UTF-8 -t UTF-16LE; } >"$base.ini"
  if [ "$script" = upgrade ]; then
    printf '%s' "$upgrade_script" >"$base.sql"
  else
    printf '%s' "$failing_script" >"$base.sql"
  fi

  # One wineserver for all runs, each then starting in a fraction of a second. One that ran
  # already may have ended since its last program: this starts the next one.
  wine_keep_server 30
  set +e
  # Under Wine SIGTERM does not end the program: the time limit ends it with SIGKILL then.
  (cd "$planted" && timeout -k 10 300 "$DBU_WINE" "$setup/$exe" >"$work/$n.out" 2>"$work/$n.err")
  code=$?
  set -e

  [ "$code" = "$want_exit" ] || fail "exit code $code, expected $want_exit; standard error: $(cat "$work/$n.err")"
  [ "$(head -c 2 "$base.ini" | od -An -tx1)" = " ff fe" ] || fail "the settings file lost its byte-order mark"
  expected="${settings}[Common]${crlf}SetupStatus=$want_status$crlf"
  got=$(tail -c +3 "$base.ini" | iconv -f UTF-16LE -t UTF-8 | od -An -c)
  [ "$got" = "$(printf '%s' "$expected" | od -An -c)" ] ||
    fail "the settings file holds: $(tail -c +3 "$base.ini" | iconv -f UTF-16LE -t UTF-8 | od -c)"
  if [ ! -s "$base.log" ]; then
    fail "no log $base.log"
  elif [ "$(grep -c $'\r$' "$base.log")" != "$(wc -l <"$base.log")" ]; then
    fail "a log line does not end in CR LF: $(od -c "$base.log")"
  fi
  [ ! -s "$work/$n.out" ] || fail "standard output: $(cat "$work/$n.out")"
  IFS='|' read -r -a wanted <<<"$texts"
  for want in "${wanted[@]}"; do
    text=${want#*:}
    text=${text//\\r/$'\r'}
    text=${text//\{db\}/$(dos "$data/x.fdb")}
    text=${text//\{remote\}/$(dos "$data/remote.fdb")}
    text=${text//\{sql\}/$(dos "$base.sql")}
    case $want in
      L:*) where="the log" file=$base.log ;;
      A:*) where="the log" file=$base.log text=$(iconv -f UTF-8 -t CP1251 <<<"$text") ;;
      E:*) where="standard error" file=$work/$n.err ;;
    esac
    grep -qF -- "$text" "$file" || fail "$where lacks '${want#*:}': $(cat "$file")"
  done
  want_rows=""
  [ "$want_exit" = 0 ] && want_rows=$upgraded_row
  for name in "${names[@]}"; do
    got=$(rows "$name")
    [ "$got" = "$want_rows" ] || fail "$name holds '$got', expected '$want_rows'"
  done

  count
done

echo "runner under Wine: $passed passed, $failed failed"
[ $failed = 0 ]
