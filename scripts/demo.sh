#!/usr/bin/env bash
# The main job end to end: installs what is missing, builds dbupgrade into build/, creates an
# embedded dialect-1 demo database under demo/, writes a settings file and an upgrade script
# beside a copy of the executable, runs it, and shows the log, SetupStatus and the result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target dbupgrade

demo=$root/demo
rm -rf "$demo"
mkdir -p "$demo"
db=$demo/demo.fdb

# The database: dialect 1, WIN1251, with a version table and a customer table.
cat >"$demo/create.sql" <<SQL
SET SQL DIALECT 1;
CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'quillfern' DEFAULT CHARACTER SET WIN1251;
CREATE TABLE DB_VERSION (VERSION INTEGER);
CREATE TABLE CUSTOMER (ID INTEGER NOT NULL, NAME VARCHAR(40));
COMMIT;
INSERT INTO DB_VERSION VALUES (1);
INSERT INTO CUSTOMER VALUES (1, 'Smith');
COMMIT;
SQL
isql-fb -q -i "$demo/create.sql" >/dev/null
rm "$demo/create.sql"

# The runner finds its files beside its own path: dbupgrade.ini, dbupgrade.log, dbupgrade.sql.
cp build/dbupgrade "$demo/dbupgrade"

printf '[General]\r\nDebugMode=5\r\n[Database]\r\nMain=%s\r\n' "$db" >"$demo/dbupgrade.ini"

cat >"$demo/dbupgrade.sql" <<'SQL'
VAR @ver = SELECT MAX(VERSION) FROM DB_VERSION

ALTER TABLE CUSTOMER
  ADD PHONE VARCHAR(20)

UPDATE CUSTOMER SET PHONE = '555-0100' WHERE ID = 1

UPDATE DB_VERSION SET VERSION = @ver + 1
SQL

echo "=== running $demo/dbupgrade"
status=0
"$demo/dbupgrade" || status=$?
echo "exit code: $status"

echo "=== $demo/dbupgrade.log"
cat "$demo/dbupgrade.log" 2>/dev/null | tr -d '\r' || echo "(no log written)"

echo "=== SetupStatus in $demo/dbupgrade.ini"
grep -i '^SetupStatus' "$demo/dbupgrade.ini" | tr -d '\r'

echo "=== the database afterwards"
printf 'SELECT VERSION FROM DB_VERSION;\nSELECT * FROM CUSTOMER;\n' |
  isql-fb -q -user SYSDBA -password quillfern "$db" 2>&1 | sed '/^$/d'
