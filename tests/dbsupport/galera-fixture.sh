#!/usr/bin/env bash
# A private three-node MariaDB Galera cluster on loopback for the tests.
#
#   galera-fixture.sh start DIR        three fresh nodes, one cluster
#   galera-fixture.sh stop DIR         every node down, their data removed
#   galera-fixture.sh stopnode DIR N   node N (1-3) killed (a node that dies)
#   galera-fixture.sh startnode DIR N  node N started again after stopnode
#
# Node N lives in a folder nodeN (data directory, socket, error log) of a
# fresh folder in /tmp that DIR/nodesdir names: the nodes run as the user
# mysql, which may not be able to enter DIR (a clone below /root). Each node
# has its own client port, group-communication port (gmcast.listen_addr),
# incremental state transfer port and full state transfer (rsync) port,
# all on 127.0.0.1. Node 1 starts the cluster (gcomm://), an admin account
# is created on it, and nodes 2 and 3 join it one after the other, each
# receiving node 1's data by rsync. The nodes run as the user mysql with
# their folders owned by it, because the rsync daemon of the state
# transfer drops root privileges. They read no option file.
#
# When all three report wsrep_cluster_size 3, DIR/server.env holds the
# facts (tests/dbsupport/TestDatabase.h reads them):
#   host=127.0.0.1 port=PORT1 user=ADMIN password=SECRET socket=... pid=PID1
#   port1=.. port2=.. port3=.. pid1=.. pid2=.. pid3=..
# ctest runs "start" and "stop" as the setup and cleanup of the fixture
# "galera" on BUILD/test-galera.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR | stopnode|startnode DIR N" >&2
  exit 64
}
[ $# -ge 2 ] || usage
action=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
facts=$dir/server.env
provider=/usr/lib/galera/libgalera_smm.so
runas=mysql

say() { echo "galera-fixture: $*" >&2; }
. "$(dirname "${BASH_SOURCE[0]}")/fixture-lib.sh"

# Four consecutive free ports from a random base, printed as the base.
free_ports() {
  local base p ok
  for _ in $(seq 1 50); do
    base=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    ok=1
    for p in $base $((base + 1)) $((base + 2)) $((base + 3)); do
      port_free "$p" || { ok=0; break; }
    done
    [ $ok = 1 ] && { echo "$base"; return 0; }
  done
  return 1
}

nodes_root() {
  if [ -f "$dir/nodesdir" ]; then cat "$dir/nodesdir"; fi
}

node_dir() { echo "$(nodes_root)/node$1"; }

socket_of() { echo "$(node_dir "$1")/mysqld.sock"; }

remove_nodes() {
  local root
  root=$(nodes_root)
  case "$root" in
    /tmp/tarvo-galera.*) rm -rf "$root" ;;
  esac
  rm -f "$dir/nodesdir"
}

node_pid() {
  local pidfile
  pidfile="$(node_dir "$1")/mysqld.pid"
  local pid=""
  [ -f "$pidfile" ] && pid=$(cat "$pidfile" 2>/dev/null || true)
  [ -n "$pid" ] || pid=$(fact "pid$1")
  if [ -n "$pid" ] && alive "$pid"; then echo "$pid"; fi
}

kill_node() {
  local pid
  pid=$(node_pid "$1")
  [ -n "$pid" ] || return 0
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 1 100); do
    alive "$pid" || return 0
    sleep 0.05
  done
}

# launch N BASE CLUSTER_ADDRESS: node N with ports BASE (client), BASE+1
# (group communication), BASE+2 (IST), BASE+3 (SST).
launch() {
  local n=$1 base=$2 address=$3 ndir
  ndir=$(node_dir "$n")
  mkdir -p "$ndir/data" "$ndir/tmp"
  chown -R "$runas:$runas" "$ndir"
  : > "$ndir/error.log"
  chown "$runas:$runas" "$ndir/error.log"
  setsid mariadbd --no-defaults --user="$runas" \
    --datadir="$ndir/data" --socket="$(socket_of "$n")" --pid-file="$ndir/mysqld.pid" --tmpdir="$ndir/tmp" \
    --port="$base" --bind-address=127.0.0.1 --skip-name-resolve --log-error="$ndir/error.log" \
    --max-connections=300 --innodb-buffer-pool-size=32M --innodb-log-file-size=16M \
    --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --skip-innodb-adaptive-hash-index \
    --binlog-format=ROW --innodb-autoinc-lock-mode=2 --default-storage-engine=InnoDB \
    --wsrep-on=ON --wsrep-provider="$provider" --wsrep-cluster-name=tarvo-test \
    --wsrep-cluster-address="$address" --wsrep-node-address="127.0.0.1:$((base + 1))" \
    --wsrep-node-name="node$n" --wsrep-sst-method=rsync \
    --wsrep-sst-receive-address="127.0.0.1:$((base + 3))" \
    --wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:$((base + 1));ist.recv_addr=127.0.0.1:$((base + 2));gcache.size=32M;evs.suspect_timeout=PT3S;evs.inactive_timeout=PT6S" \
    < /dev/null > "$ndir/mariadbd.out" 2>&1 &
  echo $! > "$ndir/launched.pid"
}

client() { # client N SQL...
  local n=$1; shift
  mariadb --no-defaults --socket="$(socket_of "$n")" -uroot -N -B "$@"
}

# Waits until node N answers and is synced with the cluster.
wait_synced() {
  local n=$1 pid state
  pid=$(cat "$(node_dir "$n")/launched.pid")
  for _ in $(seq 1 1200); do
    alive "$pid" || return 1
    state=$(client "$n" -e "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_LOCAL_STATE_COMMENT'" 2>/dev/null || true)
    [ "$state" = "Synced" ] && return 0
    sleep 0.1
  done
  return 1
}

fail_with_log() {
  say "$1"
  local n
  for n in 1 2 3; do
    [ -s "$(node_dir "$n")/error.log" ] && { echo "--- node $n" >&2; tail -n 25 "$(node_dir "$n")/error.log" >&2; }
  done
  exit 1
}

# regain_primary SIZE: after a joiner was killed, node 1 goes back to a
# cluster of SIZE nodes; a joiner killed once it had joined takes the
# majority with it, and then node 1 makes itself the primary component.
regain_primary() {
  local want=$1 status size
  for _ in $(seq 1 150); do
    status=$(client 1 -e "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_STATUS'" 2>/dev/null || true)
    size=$(client 1 -e "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_SIZE'" 2>/dev/null || true)
    [ "$status" = Primary ] && [ "$size" = "$want" ] && return 0
    if [ -n "$status" ] && [ "$status" != Primary ]; then
      client 1 -e "SET GLOBAL wsrep_provider_options = 'pc.bootstrap=YES'" 2>/dev/null || true
    fi
    sleep 0.1
  done
}

# join N ADDRESS: node N joins the cluster at ADDRESS with fresh ports and
# sets joined_base. A joiner's full state transfer now and then fails on a
# busy machine (the node aborts, or never gets synced); such a node is
# killed, its folder wiped, and it tries again with other ports, three
# times in all.
join() {
  local n=$1 address=$2 attempt pid
  for attempt in 1 2 3; do
    joined_base=$(free_ports) || fail_with_log "no free ports"
    launch "$n" "$joined_base" "$address"
    wait_synced "$n" && return 0
    say "node $n did not join (attempt $attempt of 3)"
    tail -n 15 "$(node_dir "$n")/error.log" >&2 || true
    pid=$(cat "$(node_dir "$n")/launched.pid" 2>/dev/null || true)
    # The node leads a process group of its own (setsid), which holds
    # its state transfer's script and rsync daemon too.
    if [ -n "$pid" ]; then
      kill -KILL -- "-$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do alive "$pid" || break; sleep 0.05; done
    fi
    rm -rf "$(node_dir "$n")"
    regain_primary $((n - 1))
  done
  fail_with_log "node $n did not join"
}

start() {
  local n
  for n in 1 2 3; do kill_node "$n"; done
  remove_nodes
  rm -f "$facts"
  mktemp -d /tmp/tarvo-galera.XXXXXX > "$dir/nodesdir"
  chmod 755 "$(nodes_root)"
  id "$runas" > /dev/null 2>&1 || fail_with_log "no user $runas (install mariadb-server)"
  [ -f "$provider" ] || fail_with_log "no Galera provider $provider (install galera-4)"

  mkdir -p "$(node_dir 1)/data" "$(node_dir 1)/tmp"
  chown -R "$runas:$runas" "$(node_dir 1)"
  mariadb-install-db --no-defaults --datadir="$(node_dir 1)/data" --tmpdir="$(node_dir 1)/tmp" \
    --auth-root-authentication-method=normal --skip-test-db --user="$runas" \
    > "$dir/install.log" 2>&1 || { cat "$dir/install.log" >&2; fail_with_log "mariadb-install-db failed"; }

  local base1 base2 base3
  base1=$(free_ports) || fail_with_log "no free ports"
  launch 1 "$base1" "gcomm://"
  wait_synced 1 || fail_with_log "node 1 did not start the cluster"

  local user=tarvo_admin password
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  client 1 -e "
    CREATE USER '$user'@'%' IDENTIFIED BY '$password';
    GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;
    CREATE USER '$user'@'localhost' IDENTIFIED BY '$password';
    GRANT ALL PRIVILEGES ON *.* TO '$user'@'localhost' WITH GRANT OPTION;" ||
    fail_with_log "could not create the admin account"

  # One joiner at a time: node 1 is the donor of each full state transfer.
  join 2 "gcomm://127.0.0.1:$((base1 + 1))"
  base2=$joined_base
  join 3 "gcomm://127.0.0.1:$((base1 + 1)),127.0.0.1:$((base2 + 1))"
  base3=$joined_base

  local size
  size=$(client 1 -e "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_SIZE'")
  [ "$size" = 3 ] || fail_with_log "cluster size is '$size', not 3"

  {
    echo "host=127.0.0.1"
    echo "port=$base1"
    echo "socket=$(socket_of 1)"
    echo "user=$user"
    echo "password=$password"
    echo "pid=$(cat "$(node_dir 1)/launched.pid")"
    for n in 1 2 3; do
      local b
      b=$(eval echo "\$base$n")
      echo "port$n=$b"
      echo "pid$n=$(cat "$(node_dir "$n")/launched.pid")"
    done
  } > "$facts.tmp"
  mv "$facts.tmp" "$facts"
  say "cluster of 3 on 127.0.0.1:$base1,$base2,$base3, facts in $facts"
}

# A node that was stopped (stopnode) joins the cluster again with its own
# ports and data, catching up by incremental or full state transfer.
startnode() {
  local n=$1 m base address=""
  base=$(fact "port$n")
  [ -n "$base" ] || fail_with_log "no cluster in $dir"
  [ -z "$(node_pid "$n")" ] || return 0
  for m in 1 2 3; do
    [ "$m" = "$n" ] && continue
    address="$address${address:+,}127.0.0.1:$(( $(fact "port$m") + 1 ))"
  done
  launch "$n" "$base" "gcomm://$address"
  wait_synced "$n" || fail_with_log "node $n did not join again"
}

stop() {
  local n
  for n in 1 2 3; do kill_node "$n"; done
  remove_nodes
  rm -f "$facts"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  stopnode)
    [ $# -eq 3 ] || usage
    kill_node "$3"
    ;;
  startnode)
    [ $# -eq 3 ] || usage
    startnode "$3"
    ;;
  *) usage ;;
esac
