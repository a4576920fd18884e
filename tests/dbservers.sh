#!/usr/bin/env bash
# Starts and stops the database servers that the data-access tests run against: PostgreSQL and
# MariaDB, each with its data directory under DIR, listening on 127.0.0.1 only on free
# unprivileged ports.
#
#   tests/dbservers.sh start DIR   prints shell `export` lines for eval:
#       ORVANTA_TEST_PG_PORT     PostgreSQL port (absent when PostgreSQL could not be started)
#       ORVANTA_TEST_MARIA_PORT  MariaDB port (absent when MariaDB could not be started)
#       ORVANTA_TEST_USER        test user, present on both servers
#       ORVANTA_TEST_PASSWORD    its password
#       ORVANTA_TEST_DB          test database, owned by / granted to the test user on both
#   tests/dbservers.sh stop DIR    stops whatever runs from DIR; quiet, always succeeds
#
# Progress and failures go to standard error; standard output carries only the export lines.
# A server that fails to start is reported on standard error and its variable is left out, so
# its tests skip instead of failing the whole run.
set -u

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
CMD=$1
DIR=$2

TEST_USER=orvanta_test
TEST_DB=orvanta_test
PG_BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)

log() { echo "dbservers: $*" >&2; }

# A TCP port on 127.0.0.1 that nothing listens on.
free_port() {
  local p i
  for i in $(seq 1 200); do
    p=$(( 20000 + RANDOM % 40000 ))
    if [ -z "$(ss -Hltn "sport = :$p" 2>/dev/null)" ]; then echo "$p"; return 0; fi
  done
  return 1
}

# Runs a command as the postgres system user when we are root (initdb refuses to run as root).
as_pg() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

start_pg() {
  local port=$1 pgdir="$DIR/pg"
  [ -n "$PG_BIN" ] || { log "PostgreSQL binaries not found"; return 1; }
  mkdir -p "$pgdir"
  if [ "$(id -u)" -eq 0 ]; then chown postgres "$pgdir"; fi
  as_pg "$PG_BIN/initdb" -D "$pgdir/data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
    -E UTF8 --locale=C.UTF-8 >"$pgdir/initdb.log" 2>&1 || { log "initdb failed (see $pgdir/initdb.log)"; return 1; }
  as_pg "$PG_BIN/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $pgdir -c fsync=off" start >/dev/null 2>&1 \
    || { log "PostgreSQL did not start (see $pgdir/server.log)"; return 1; }
  as_pg "$PG_BIN/psql" -h "$pgdir" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 -q \
    -c "CREATE ROLE $TEST_USER LOGIN PASSWORD '$PASSWORD'" \
    -c "CREATE DATABASE $TEST_DB OWNER $TEST_USER ENCODING 'UTF8' TEMPLATE template0" >/dev/null 2>&1 \
    || { log "PostgreSQL test user/database not created"; return 1; }
}

start_maria() {
  local port=$1 mdir="$DIR/maria" runas=()
  mkdir -p "$mdir"
  if [ "$(id -u)" -eq 0 ]; then runas=(--user=root); fi
  local install
  install=$(command -v mariadb-install-db || command -v mysql_install_db) || { log "mariadb-install-db not found"; return 1; }
  "$install" --no-defaults --datadir="$mdir/data" "${runas[@]}" --auth-root-authentication-method=normal \
    --skip-test-db >"$mdir/install.log" 2>&1 || { log "mariadb-install-db failed (see $mdir/install.log)"; return 1; }
  local server
  server=$(command -v mariadbd || echo /usr/sbin/mariadbd)
  setsid "$server" --no-defaults "${runas[@]}" --datadir="$mdir/data" --bind-address=127.0.0.1 --port="$port" \
    --socket="$mdir/sock" --pid-file="$mdir/mariadbd.pid" --log-error="$mdir/server.log" \
    --skip-name-resolve --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
    </dev/null >/dev/null 2>&1 &
  local i
  for i in $(seq 1 120); do
    if mariadb-admin --no-defaults --socket="$mdir/sock" -uroot ping >/dev/null 2>&1; then break; fi
    sleep 0.5
  done
  mariadb --no-defaults --socket="$mdir/sock" -uroot -e "
    CREATE DATABASE $TEST_DB CHARACTER SET utf8mb4;
    CREATE USER '$TEST_USER'@'127.0.0.1' IDENTIFIED BY '$PASSWORD';
    CREATE USER '$TEST_USER'@'localhost' IDENTIFIED BY '$PASSWORD';
    GRANT ALL ON $TEST_DB.* TO '$TEST_USER'@'127.0.0.1';
    GRANT ALL ON $TEST_DB.* TO '$TEST_USER'@'localhost';" >/dev/null 2>&1 \
    || { log "MariaDB did not start or test user not created (see $mdir/server.log)"; return 1; }
}

stop_all() {
  if [ -n "$PG_BIN" ] && [ -f "$DIR/pg/data/postmaster.pid" ]; then
    as_pg "$PG_BIN/pg_ctl" -D "$DIR/pg/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
  fi
  local pidfile="$DIR/maria/mariadbd.pid"
  if [ -f "$pidfile" ]; then
    local pid
    pid=$(cat "$pidfile" 2>/dev/null || true)
    if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then
      local i
      for i in $(seq 1 60); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
      kill -9 "$pid" 2>/dev/null || true
    fi
  fi
  return 0
}

case "$CMD" in
  start)
    mkdir -p "$DIR" || exit 1
    # The postgres system user must be able to reach its data directory below DIR.
    if [ "$(id -u)" -eq 0 ]; then chmod o+x "$DIR"; fi
    PASSWORD="Pw$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
    echo "export ORVANTA_TEST_USER=$TEST_USER"
    echo "export ORVANTA_TEST_PASSWORD=$PASSWORD"
    echo "export ORVANTA_TEST_DB=$TEST_DB"
    if PG_PORT=$(free_port) && start_pg "$PG_PORT"; then
      echo "export ORVANTA_TEST_PG_PORT=$PG_PORT"
      log "PostgreSQL on 127.0.0.1:$PG_PORT"
    fi
    if MARIA_PORT=$(free_port) && start_maria "$MARIA_PORT"; then
      echo "export ORVANTA_TEST_MARIA_PORT=$MARIA_PORT"
      log "MariaDB on 127.0.0.1:$MARIA_PORT"
    fi
    exit 0
    ;;
  stop)
    stop_all
    exit 0
    ;;
  *) usage ;;
esac
