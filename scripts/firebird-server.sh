#!/usr/bin/env bash
# Starts or stops a local Firebird server for "localhost:" database names.
#   firebird-server.sh start   sets the SYSDBA password to the runner's one and starts the
#                              server when none answers on port 3050; waits until it answers.
#   firebird-server.sh stop    stops the server only when this script started it.
#   firebird-server.sh running exits 0 when a server answers on port 3050.
set -euo pipefail

PASSWORD=quillfern
PORT=3050
STATE_DIR=${DBU_STATE_DIR:-/tmp/dbupgrade-firebird}
MARK=$STATE_DIR/started-by-script
SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb

answers() { (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null; }

set_password() {
  # Embedded access to the security database works as root while no server holds it.
  local sql
  sql=$(mktemp)
  printf "CREATE OR ALTER USER SYSDBA PASSWORD '%s' USING PLUGIN Srp;\nCOMMIT;\n" "$PASSWORD" >"$sql"
  isql-fb -q -user SYSDBA "$SECURITY_DB" -i "$sql" >/dev/null
  rm -f "$sql"
  chown firebird:firebird "$SECURITY_DB"
}

# Firebird keeps its lock tables and a process-shared trace mutex in /tmp/firebird. A client
# killed at the wrong moment can leave that mutex held by a dead thread, and every later
# Firebird process then hangs. Files that no process has open or mapped are stale: remove them
# (their users recreate them).
clear_stale_locks() {
  local dir=${FIREBIRD_LOCK:-/tmp/firebird} f
  [ -d "$dir" ] || return 0
  command -v fuser >/dev/null || return 0
  for f in "$dir"/*; do
    [ -f "$f" ] || continue
    fuser -s "$f" 2>/dev/null || rm -f "$f"
  done
}

start() {
  mkdir -p "$STATE_DIR"
  chmod 777 "$STATE_DIR"
  if answers; then
    echo "firebird: a server already answers on port $PORT"
    return 0
  fi
  clear_stale_locks
  set_password
  su -s /bin/sh firebird -c "/usr/sbin/fbguard -daemon -forever -pidfile $STATE_DIR/fbguard.pid" \
    || /usr/sbin/fbguard -daemon -forever -pidfile "$STATE_DIR/fbguard.pid"
  for _ in $(seq 1 100); do
    if answers; then
      touch "$MARK"
      echo "firebird: server started"
      return 0
    fi
    sleep 0.1
  done
  echo "firebird: server did not answer on port $PORT" >&2
  return 1
}

stop() {
  [ -f "$MARK" ] || return 0
  if [ -f "$STATE_DIR/fbguard.pid" ]; then
    kill "$(cat "$STATE_DIR/fbguard.pid")" 2>/dev/null || true
  fi
  pkill -x firebird 2>/dev/null || true
  rm -f "$MARK" "$STATE_DIR/fbguard.pid"
  echo "firebird: server stopped"
}

case "${1:-start}" in
  running) answers ;;
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
