#!/usr/bin/env bash
# The demo: sets everything up on a fresh Debian 12 machine and runs real
# Tarvo jobs against simulated routers and a private database.
#
# The program is built with its installation root inside build-demo/root,
# so it runs exactly as installed without touching /opsbase. A private
# MariaDB server and four devsim routers (loopback only) are started and
# everything is stopped again at the end, also on failure or Ctrl-C.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"

bash scripts/setup.sh --packages-only

build=$here/build-demo
root=$build/root
work=$build/run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_ROOT="$root" -DTARVO_TESTS=OFF \
  -DTARVO_BENCH=OFF >/dev/null
cmake --build "$build"
tarvo=$build/main/Tarvo
devsim=$build/sim/devsim

devsim_pids=()
dispatch_pid=
cleanup() {
  if [ -n "$dispatch_pid" ]; then kill "$dispatch_pid" 2>/dev/null || true; wait "$dispatch_pid" 2>/dev/null || true; fi
  for pid in "${devsim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${devsim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  bash tests/dbsupport/mariadb-fixture.sh stop "$work/mariadb" >/dev/null 2>&1 || true
}
trap cleanup EXIT INT TERM

rm -rf "$work" "$root"
mkdir -p "$work" "$root/etc" "$root/tftpboot" "$root/var/template/master" "$root/bin"

echo "== Starting a private MariaDB server"
bash tests/dbsupport/mariadb-fixture.sh start "$work/mariadb" >/dev/null
fact() { sed -n "s/^$1=//p" "$work/mariadb/server.env" | head -n1; }
dbport=$(fact port) dbuser=$(fact user) dbpass=$(fact password)
sql() { mariadb --no-defaults -h 127.0.0.1 -P "$dbport" -u "$dbuser" -p"$dbpass" "$@"; }
sql -e "CREATE DATABASE cordal"
sql cordal < db/schema.sql

start_router() { # NAME FAMILY [devsim options...]
  local name=$1 family=$2; shift 2
  "$devsim" --family "$family" --state-dir "$work/$name" --listen 127.0.0.1 --telnet-port 0 --ssh-port 0 \
    --hostname "$name" --reboot-downtime 2 "$@" 2>"$work/$name.log" &
  devsim_pids+=($!)
  for _ in $(seq 1 100); do [ -f "$work/$name/ports" ] && return 0; sleep 0.1; done
  echo "devsim $name did not start:" >&2; cat "$work/$name.log" >&2; exit 1
}
port_of() { sed -n "s/^$2 //p" "$work/$1/ports"; }

echo "== Starting four simulated routers"
start_router nexa1 nexa --user admin --password demo-Pw1 --transfer-dir "$root/tftpboot"
start_router qx1 qxcli --user admin --password demo-Pw1
start_router nexa2 nexa --no-ssh --user admin --password demo-Pw1
# nexa3 runs a configuration that drifted by one line from what the database
# would generate for it (the comparison job 106 finds it).
mkdir -p "$work/nexa3/configs"
cat > "$work/nexa3/configs/boot" <<'BOOT'
system
{
   tmibAdmSystemName   (RW,DisplayStr):  "drift-nexa"
   tmibAdmPassword     (RW,DisplayStr):  "Drift#pw-3"
}
routes
{
   route "0.0.0.0/0" via "10.0.0.254"
   route "192.168.7.0/24" via "10.0.0.9"
}
BOOT
start_router nexa3 nexa --user admin --password demo-Pw1 --transfer-dir "$root/tftpboot"

cat > "$root/etc/cordal.xml" <<XML
<?xml version="1.0" encoding="ISO-8859-1"?>
<cordal>
  <database>
    <server>127.0.0.1:$dbport</server>
    <dbname>cordal</dbname>
    <dbuser>$dbuser</dbuser>
    <dbpass>$dbpass</dbpass>
  </database>
  <config>
    <autoSelectLoaded>false</autoSelectLoaded>
    <configsPerRouter>5</configsPerRouter>
    <iptftphost>127.0.0.1</iptftphost>
    <fileTransferMethod>tftp</fileTransferMethod>
    <fileTransferPwd></fileTransferPwd>
    <fileTransferUsr></fileTransferUsr>
    <ipallowdelete>false</ipallowdelete>
    <ipconnecttimeout><default>5</default></ipconnecttimeout>
    <readnexaversion>false</readnexaversion>
    <routerreboottime><default>3</default></routerreboottime>
  </config>
</cordal>
XML

router() { # ID NAME MODEL DEVICE CONNTYPE
  sql cordal -e "INSERT INTO cordal_router (id, name, model, ipnumber, ipgateway, telnetport, sshport, conntype_ip,
    tmibadmadmincommunity, oldcommunity) VALUES ($1, '$2', '$3', '127.0.0.1', '10.0.0.254',
    $(port_of "$4" telnet), $(port_of "$4" ssh), '$5', 'not-this-one', 'demo-Pw1')"
}
sql cordal -e "INSERT INTO cordal_routertypes (shortname, ifindexoffset, os) VALUES ('NX-4200', 0, 'NEXA'), ('QX-80', 0, 'qx.CLI')"
router 1 edge-nexa NX-4200 nexa1 SSH
router 2 edge-qx QX-80 qx1 Telnet
router 3 fresh-nexa NX-4200 nexa2 Telnet
# A router whose configuration is only built (workmode LocalConf): its
# template in the template folder of its model, patched with database values.
mkdir -p "$root/var/template/master/NX-4200"
cat > "$root/var/template/master/NX-4200/branch.tmpl" <<'TEMPLATE'
# branch office template
system
{
   tmibAdmSystemName   (RW,DisplayStr):  "[router.name]"
   tmibAdmPassword     (RW,DisplayStr):  "[router.pass]"
}
ipif
{
   address "[router.ipnumber]/[{nm2pl}router.ipnetmask]"  vlan "[additional.vlan]"
   backup-window "[22:50+75]"
}
TEMPLATE
sql cordal -e "INSERT INTO cordal_router (id, name, model, pass, ipnumber, ipnetmask, configtype, globalmaster)
  VALUES (4, 'branch-essen', 'NX-4200', 'Demo\$1-secret', '10.20.30.1', '255.255.255.0', 'Template', 'branch.tmpl');
  INSERT INTO cordal_router_additionals (routerid, varname, data, pwd) VALUES (4, 'vlan', '120', 'no')"

# A router compared with what its template would give (workmode ConfComp):
# the template starts like the device's export, whose third line is the
# export time.
cat > "$root/var/template/master/NX-4200/drift.tmpl" <<'TEMPLATE'
# NEXA configuration export
# configuration boot of nexa3
# Created by the provisioning system
system
{
   tmibAdmSystemName   (RW,DisplayStr):  "[router.name]"
   tmibAdmPassword     (RW,DisplayStr):  "[router.pass]"
}
routes
{
   route "0.0.0.0/0" via "10.0.0.254"
}
TEMPLATE
router 5 drift-nexa NX-4200 nexa3 Telnet
sql cordal -e "UPDATE cordal_router SET pass='Drift#pw-3', configtype='Template', globalmaster='drift.tmpl' WHERE id=5"
# The main job: edge-nexa gets a configuration built from its template and
# uploaded with its certificate, a PKCS#12 file whose passphrase is the
# router's administrator password, as the management system would leave it
# in the transfer directory.
cat > "$root/var/template/master/NX-4200/edge.tmpl" <<'TEMPLATE'
# edge router template
systemTable
{
   tmibAdmSystemName   (RW,DisplayStr):  "[router.name]"
   tmibAdmContact      (RW,DisplayStr):  "noc@example.net"
}
ipInterfaceTable
{
   ipIfName            (RW,DisplayStr):  "eth0"
   ipIfAddress         (RW,IpAddress):   [router.ipnumber]
}
TEMPLATE
sql cordal -e "UPDATE cordal_router SET tmibadmadmincommunity='demo-Pw1', configtype='Template',
  globalmaster='edge.tmpl', savebackupcfg='1' WHERE id=1"
# Every job of a router removes its certificate files at the end, so the
# file is written right before the job that loads it.
make_certificate() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 -subj /CN=edge-nexa \
    -keyout "$work/edge.key" -out "$work/edge.pem" 2>/dev/null
  openssl pkcs12 -export -in "$work/edge.pem" -inkey "$work/edge.key" -passout pass:demo-Pw1 \
    -out "$root/tftpboot/0000000001.pkcs12"
}

now=$(date +%s)
sql cordal -e "INSERT INTO cordal_jobs (id, routerid, jobtime, starttime, workmode, status) VALUES
  (101, 1, $now, $now, 'Test', 'queued'), (102, 2, $now, $now, 'Reboot', 'queued'),
  (103, 3, $now, $now, 'SSHKeyGen', 'queued'), (105, 4, $now, $now, 'LocalConf', 'queued')"
# A configuration backup of edge-nexa (the device pushes it over "TFTP").
sql cordal -e "INSERT INTO cordal_jobs (id, routerid, jobtime, starttime, workmode, status) VALUES
  (104, 1, $now, $now, 'GetConf', 'queued'), (106, 1, $now + 1, $now + 1, 'Config', 'queued'),
  (107, 5, $now, $now, 'ConfComp', 'queued')"

for job in 101 102 103 104 105 106 107; do
  [ "$job" = 106 ] && make_certificate
  echo
  echo "== Tarvo -j $job ($(sql cordal -N -e "SELECT CONCAT(workmode, ' on ', r.name, ' over ', r.conntype_ip)
    FROM cordal_jobs j JOIN cordal_router r ON r.id=j.routerid WHERE j.id=$job"))"
  set +e
  "$tarvo" -j "$job" >/dev/null 2>&1
  code=$?
  set -e
  echo "exit code: $code"
  sql cordal -N -e "SELECT CONCAT('status: ', status, '\nreason: ', IF(reason='', '(none)', reason))
    FROM cordal_jobhistory WHERE id=$job" | sed 's/\\n/\n/g'
  echo "log:"
  sql cordal -N -r -e "SELECT log FROM cordal_jobhistory WHERE id=$job" | sed 's/^/    /'
done

echo
echo "== What the devices were asked to do"
echo "nexa1 (ping):      $(grep -c '<<< ping' "$work/nexa1/transcript") ping command(s)"
echo "qx1 (reboot):      $(sed -n 's/^count //p' "$work/qx1/boot") reboot(s)"
echo "nexa2 (SSH keys):  $(tr '\n' ' ' < "$work/nexa2/ssh")"
echo "nexa1 (backup):    $(grep '<<< configd put' "$work/nexa1/transcript" | sed 's/.*<<< //')"
echo
echo "== The stored backup of edge-nexa (cordal_configs)"
sql cordal -N -e "SELECT CONCAT('id ', id, ', router ', routerid, ', jobtime ', jobtime, ', workmode ', workmode)
  FROM cordal_configs WHERE routerid=1"
sql cordal -N -r -e "SELECT config FROM cordal_configs WHERE routerid=1 ORDER BY jobtime DESC LIMIT 1" | sed 's/^/    /'
echo
echo "== The configuration job 105 built for branch-essen (start of $root/tftpboot/105.config)"
head -n 9 "$root/tftpboot/105.config" | sed 's/^/    /'
echo
echo "== The main job: Config for edge-nexa over SSH (history row of job 106)"
sql cordal -N -e "SELECT CONCAT('status ', status, ', reason ', IF(reason='', '(none)', reason), ', workmode ',
  workmode) FROM cordal_jobhistory WHERE id=106"
echo "lupdate of edge-nexa: $(sql cordal -N -e 'SELECT lupdate FROM cordal_router WHERE id=1')"
echo "nexa1 (upload):    $(grep -c '<<< configd' "$work/nexa1/transcript") configd command(s), \
$(grep -c '<<< cert get -f' "$work/nexa1/transcript") certificate(s) loaded, $(sed -n 's/^count //p' "$work/nexa1/boot") reboot(s)"
echo "What nexa1 runs now (start of $work/nexa1/configs/running):"
head -n 12 "$work/nexa1/configs/running" | sed 's/^/    /'
echo "    ..."
grep -B1 -A3 'certLabel.*"edge-nexa"' "$work/nexa1/configs/running" | sed 's/^/    /' || true
echo "jobs left in cordal_jobs: $(sql cordal -N -e 'SELECT COUNT(*) FROM cordal_jobs')"

echo
echo "== A worker host: one tarvo-dispatch runs a queue of mixed jobs"
# The dispatcher starts the Tarvo program beside it, as the package installs
# both; three jobs at once, a look at the database every half second.
ln -sf "$tarvo" "$build/dispatch/Tarvo"
metrics=$work/tarvo-dispatch.prom
sed -i "s|</cordal>|  <dispatch><maxJobs>3</maxJobs><pollInterval>0.5</pollInterval><metricsFile>$metrics</metricsFile></dispatch>\n</cordal>|" \
  "$root/etc/cordal.xml"
now=$(date +%s)
# Two jobs each for edge-nexa and edge-qx: a router runs one job at a time,
# and the GetConf backup goes first for its higher priority.
sql cordal -e "INSERT INTO cordal_jobs (id, routerid, jobtime, starttime, workmode, status, priority) VALUES
  (201, 1, $now, $now, 'Test', 'queued', 0), (202, 1, $now, $now, 'GetConf', 'queued', 5),
  (203, 2, $now, $now, 'Invent', 'queued', 0), (204, 2, $now, $now, 'Reboot', 'queued', 0),
  (205, 3, $now, $now, 'Test', 'queued', 0), (206, 4, $now, $now, 'LocalConf', 'queued', 0),
  (207, 5, $now, $now, 'ConfComp', 'queued', 0)"
"$build/dispatch/tarvo-dispatch" >"$work/dispatch.out" 2>&1 &
dispatch_pid=$!
for _ in $(seq 1 600); do
  [ "$(sql cordal -N -e 'SELECT COUNT(*) FROM cordal_jobs WHERE id BETWEEN 201 AND 207')" = 0 ] && break
  kill -0 "$dispatch_pid" 2>/dev/null || break
  sleep 0.2
done
kill -TERM "$dispatch_pid"
dispatch_status=0
wait "$dispatch_pid" || dispatch_status=$?
dispatch_pid=
sed 's/^/    /' "$work/dispatch.out"
echo "tarvo-dispatch stopped with SIGTERM, exit code $dispatch_status"
echo "The history rows of the queue:"
sql cordal -N -e "SELECT CONCAT('    job ', h.id, ' ', h.workmode, ' on ', r.name, ': ', h.status,
  IF(h.reason='', '', CONCAT(' (', h.reason, ')'))) FROM cordal_jobhistory h JOIN cordal_router r ON r.id=h.routerid
  WHERE h.id BETWEEN 201 AND 207 ORDER BY h.id"
echo "The metrics file ($metrics):"
grep -v '^#' "$metrics" | sed 's/^/    /'
