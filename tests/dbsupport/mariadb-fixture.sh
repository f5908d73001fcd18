#!/usr/bin/env bash
# A private MariaDB server for the tests.
#
#   mariadb-fixture.sh start DIR     fresh data directory, free port, admin account
#   mariadb-fixture.sh stop DIR      shut the server down and remove its data
#   mariadb-fixture.sh restart DIR   shut down and start again on the same port and data
#   mariadb-fixture.sh halt DIR      shut down, keeping data and facts (restart starts it again)
#
# Everything lives under DIR: data directory, pid file, error log and (when
# the path is short enough for a Unix socket) the socket. The server listens
# on 127.0.0.1 only, reads no option file (--no-defaults, so neither
# /etc/mysql nor a system service matters) and runs with --user=root when
# started as root, because mariadbd refuses root otherwise.
#
# When the server accepts connections, the connection facts are written to
# DIR/server.env, one key=value per line:
#   host=127.0.0.1  port=PORT  user=ADMIN  password=SECRET  socket=PATH  pid=PID
# A test reads that file (tests/dbsupport/TestDatabase.h does) and fails
# loudly when it is missing. ctest runs "start" and "stop" as the setup and
# cleanup of the fixture "mariadb" on the shared directory
# BUILD/test-mariadb; a test that needs a server of its own (to restart it)
# runs this script on a directory of its own.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop|restart|halt DIR" >&2
  exit 64
}
[ $# -eq 2 ] || usage
action=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
facts=$dir/server.env
datadir=$dir/data
pidfile=$dir/mysqld.pid
errlog=$dir/error.log
tmpdir=$dir/tmp

say() { echo "mariadb-fixture: $*" >&2; }
. "$(dirname "${BASH_SOURCE[0]}")/fixture-lib.sh"

server_pid() {
  local pid=""
  [ -f "$pidfile" ] && pid=$(cat "$pidfile" 2>/dev/null || true)
  [ -n "$pid" ] || pid=$(fact pid)
  if [ -n "$pid" ] && alive "$pid"; then echo "$pid"; fi
}

socket_path() {
  local s="$dir/mysqld.sock"
  # sun_path holds 108 bytes; a deep build tree gets a short folder in /tmp.
  if [ ${#s} -ge 100 ]; then
    local short
    short=$(mktemp -d /tmp/tarvo-mariadb.XXXXXX)
    echo "$short" > "$dir/socketdir"
    s=$short/mysqld.sock
  fi
  echo "$s"
}

# shutdown_server [SIGNAL]: TERM shuts down cleanly (restart keeps the data);
# stop throws the data away and needs no clean shutdown, so it uses KILL.
shutdown_server() {
  local pid signal=${1:-TERM}
  pid=$(server_pid)
  [ -n "$pid" ] || return 0
  kill -"$signal" "$pid" 2>/dev/null || true
  for _ in $(seq 1 300); do
    alive "$pid" || return 0
    sleep 0.05
  done
  say "server $pid did not stop within 30 s; killing it"
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    alive "$pid" || return 0
    sleep 0.1
  done
}

remove_socket_dir() {
  if [ -f "$dir/socketdir" ]; then
    rm -rf "$(cat "$dir/socketdir")"
    rm -f "$dir/socketdir"
  fi
}

as_root_args=()
[ "$(id -u)" -eq 0 ] && as_root_args=(--user=root)

# launch PORT SOCKET: starts mariadbd detached from the caller (its output
# goes to files, so ctest does not wait for it) and waits until it answers.
# Returns 2 when the port turned out to be taken, 1 on any other failure.
launch() {
  local port=$1 socket=$2
  : > "$errlog"
  setsid mariadbd --no-defaults \
    --datadir="$datadir" --socket="$socket" --pid-file="$pidfile" --tmpdir="$tmpdir" \
    --port="$port" --bind-address=127.0.0.1 --skip-name-resolve \
    "${as_root_args[@]}" --log-error="$errlog" --skip-log-bin \
    --max-connections=500 --innodb-buffer-pool-size=64M \
    --innodb-log-file-size=48M --innodb-flush-log-at-trx-commit=0 \
    --innodb-doublewrite=0 --skip-innodb-adaptive-hash-index --innodb-fast-shutdown=2 \
    < /dev/null > "$dir/mariadbd.out" 2>&1 &
  local pid=$!
  for _ in $(seq 1 600); do
    if ! alive "$pid"; then
      grep -qiE 'bind on tcp/ip port|address already in use' "$errlog" && return 2
      return 1
    fi
    if mariadb-admin --no-defaults --socket="$socket" -uroot --connect-timeout=2 ping > /dev/null 2>&1; then
      echo "$pid" > "$dir/launched.pid"
      return 0
    fi
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  return 1
}

write_facts() { # write_facts PORT SOCKET USER PASSWORD
  local pid
  pid=$(cat "$dir/launched.pid")
  {
    echo "host=127.0.0.1"
    echo "port=$1"
    echo "socket=$2"
    echo "user=$3"
    echo "password=$4"
    echo "pid=$pid"
    echo "datadir=$datadir"
  } > "$facts.tmp"
  mv "$facts.tmp" "$facts"
}

fail_with_log() {
  say "$1"
  [ -s "$errlog" ] && tail -n 30 "$errlog" >&2
  exit 1
}

start() {
  # A server left over from an interrupted run is stopped first.
  shutdown_server KILL
  remove_socket_dir
  rm -rf "$datadir" "$facts" "$pidfile" "$tmpdir"
  # A temporary folder of its own: servers set up at the same time would
  # otherwise clash over their temporary tables in /tmp.
  mkdir -p "$tmpdir"
  mariadb-install-db --no-defaults --datadir="$datadir" --tmpdir="$tmpdir" \
    --auth-root-authentication-method=normal --skip-test-db \
    "${as_root_args[@]}" > "$dir/install.log" 2>&1 ||
    { cat "$dir/install.log" >&2; fail_with_log "mariadb-install-db failed"; }

  local socket port rc
  socket=$(socket_path)
  for _ in $(seq 1 20); do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    port_free "$port" || continue
    rc=0
    launch "$port" "$socket" || rc=$?
    [ $rc -eq 0 ] && break
    [ $rc -eq 2 ] && continue
    fail_with_log "mariadbd did not start"
  done
  [ "${rc:-1}" -eq 0 ] || fail_with_log "no free port found for mariadbd"

  local user=tarvo_admin password
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  mariadb --no-defaults --socket="$socket" -uroot -e "
    CREATE USER '$user'@'%' IDENTIFIED BY '$password';
    GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;
    CREATE USER '$user'@'localhost' IDENTIFIED BY '$password';
    GRANT ALL PRIVILEGES ON *.* TO '$user'@'localhost' WITH GRANT OPTION;" ||
    fail_with_log "could not create the admin account"
  write_facts "$port" "$socket" "$user" "$password"
  say "server $(fact pid) on 127.0.0.1:$port, facts in $facts"
}

restart() {
  [ -f "$facts" ] || fail_with_log "no server facts in $facts; start it first"
  local port socket user password rc=0
  port=$(fact port) socket=$(fact socket) user=$(fact user) password=$(fact password)
  shutdown_server
  rm -f "$pidfile" "$socket"
  launch "$port" "$socket" || rc=$?
  [ $rc -eq 0 ] || fail_with_log "mariadbd did not start again on port $port"
  write_facts "$port" "$socket" "$user" "$password"
}

stop() {
  shutdown_server KILL
  remove_socket_dir
  rm -rf "$datadir" "$facts" "$pidfile" "$dir/launched.pid" "$dir/mysqld.sock"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  restart) restart ;;
  halt) shutdown_server ;;
  *) usage ;;
esac
