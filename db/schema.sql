-- Tables of the Tarvo database.
--
-- Texts are byte strings: every text column is a binary string type
-- (VARBINARY, BLOB, LONGBLOB), so the server never converts, folds case or
-- pads a value; bytes 0x80-0xFF come back unchanged whatever character set
-- a client talks. Comparisons (names, serial numbers, short names) are
-- therefore exact, byte for byte.
--
-- Every column has a default, so a management system may insert a row that
-- names only the columns it knows: 0 or '' in general, and the router's
-- connection defaults below. Time stamps are 64-bit seconds since 1970.
-- Logs and configurations are LONGBLOB (several megabytes per row). The
-- router's texts are BLOBs: as VARBINARY(255) its sixty columns would not
-- fit InnoDB's row size limit.
--
-- The router's columns from sshport to loopback are optional: the program
-- looks for them at run time. schema-without-optional-router-columns.sql,
-- applied after this file, removes them (an older table layout).
-- Further numbered variables are added in pairs:
--   ALTER TABLE cordal_router ADD var_06 BLOB NOT NULL DEFAULT '',
--                             ADD pwd_var_06 BLOB NOT NULL DEFAULT '';

CREATE TABLE cordal_jobs (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  routerid INT UNSIGNED NOT NULL DEFAULT 0,
  jobtime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  starttime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  endtime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  watchdog BIGINT UNSIGNED NOT NULL DEFAULT 0,
  processid INT UNSIGNED NOT NULL DEFAULT 0,
  workmode VARBINARY(255) NOT NULL DEFAULT '',
  status BLOB NOT NULL DEFAULT '',
  pending SMALLINT UNSIGNED NOT NULL DEFAULT 0,
  priority SMALLINT UNSIGNED NOT NULL DEFAULT 0,
  reasoncode SMALLINT UNSIGNED NOT NULL DEFAULT 0,
  reason BLOB NOT NULL DEFAULT '',
  retrycount INT NOT NULL DEFAULT 0,
  osrel VARBINARY(255) NOT NULL DEFAULT '',
  uid INT UNSIGNED NOT NULL DEFAULT 0,
  PRIMARY KEY (id),
  KEY routerid (routerid),
  KEY jobtime (jobtime)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_jobhistory (
  histid INT UNSIGNED NOT NULL AUTO_INCREMENT,
  id INT UNSIGNED NOT NULL DEFAULT 0,
  routerid INT UNSIGNED NOT NULL DEFAULT 0,
  jobtime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  starttime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  endtime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  watchdog BIGINT UNSIGNED NOT NULL DEFAULT 0,
  processid INT UNSIGNED NOT NULL DEFAULT 0,
  workmode VARBINARY(255) NOT NULL DEFAULT '',
  status BLOB NOT NULL DEFAULT '',
  pending SMALLINT UNSIGNED NOT NULL DEFAULT 0,
  priority SMALLINT UNSIGNED NOT NULL DEFAULT 0,
  reasoncode SMALLINT UNSIGNED NOT NULL DEFAULT 0,
  reason BLOB NOT NULL DEFAULT '',
  retrycount INT NOT NULL DEFAULT 0,
  osrel VARBINARY(255) NOT NULL DEFAULT '',
  config LONGBLOB NOT NULL DEFAULT '',
  log LONGBLOB NOT NULL DEFAULT '',
  uid INT UNSIGNED NOT NULL DEFAULT 0,
  PRIMARY KEY (histid),
  KEY id (id),
  KEY routerid (routerid),
  KEY jobtime (jobtime)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_configs (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  routerid INT UNSIGNED NOT NULL DEFAULT 0,
  jobtime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  workmode VARBINARY(255) NOT NULL DEFAULT '',
  osrel VARBINARY(255) NOT NULL DEFAULT '',
  config LONGBLOB NOT NULL DEFAULT '',
  PRIMARY KEY (id),
  -- pruning walks one router's rows by time stamp
  KEY routerid_jobtime (routerid, jobtime)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_router (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  customerid INT UNSIGNED NOT NULL DEFAULT 0,
  name BLOB NOT NULL DEFAULT '',
  vendor BLOB NOT NULL DEFAULT '',
  lupdate BLOB NOT NULL DEFAULT '',
  model BLOB NOT NULL DEFAULT '',
  osrel BLOB NOT NULL DEFAULT '',
  user BLOB NOT NULL DEFAULT '',
  pass BLOB NOT NULL DEFAULT '',
  configtype BLOB NOT NULL DEFAULT '',
  globalmaster BLOB NOT NULL DEFAULT '',
  custommaster BLOB NOT NULL DEFAULT '',
  downloadedmaster BLOB NOT NULL DEFAULT '',
  isdnlkz BLOB NOT NULL DEFAULT '',
  isdntrunk BLOB NOT NULL DEFAULT '',
  isdnprefix BLOB NOT NULL DEFAULT '',
  isdncallprefix BLOB NOT NULL DEFAULT '',
  isdnnumber BLOB NOT NULL DEFAULT '',
  isdnextension BLOB NOT NULL DEFAULT '',
  isdnnumber2 BLOB NOT NULL DEFAULT '',
  msnisdnlogin BLOB NOT NULL DEFAULT '',
  msnisdnloginext BLOB NOT NULL DEFAULT '',
  datexpnumber BLOB NOT NULL DEFAULT '',
  ipnet BLOB NOT NULL DEFAULT '',
  ipnumber BLOB NOT NULL DEFAULT '',
  ipnetmask BLOB NOT NULL DEFAULT '',
  ipgateway BLOB NOT NULL DEFAULT '',
  ipdomain BLOB NOT NULL DEFAULT '',
  ipsec BLOB NOT NULL DEFAULT '',
  tmibadmadmincommunity BLOB NOT NULL DEFAULT '',
  oldcommunity BLOB NOT NULL DEFAULT '',
  tmibadmreadcommunity BLOB NOT NULL DEFAULT '',
  tmibadmwritecommunity BLOB NOT NULL DEFAULT '',
  tmibadmhttppassword BLOB NOT NULL DEFAULT '',
  tmibdialnumberisdn BLOB NOT NULL DEFAULT '',
  softwareimage BLOB NOT NULL DEFAULT '',
  matchcode BLOB NOT NULL DEFAULT '',
  seriennr BLOB NOT NULL DEFAULT '',
  enabledispatch BLOB NOT NULL DEFAULT '',
  var_01 BLOB NOT NULL DEFAULT '',
  var_02 BLOB NOT NULL DEFAULT '',
  var_03 BLOB NOT NULL DEFAULT '',
  var_04 BLOB NOT NULL DEFAULT '',
  var_05 BLOB NOT NULL DEFAULT '',
  accounting_written INT NOT NULL DEFAULT 0,
  macadress BLOB NOT NULL DEFAULT '',
  locked BLOB NOT NULL DEFAULT '',
  partno BLOB NOT NULL DEFAULT '',
  connectmethod VARBINARY(32) NOT NULL DEFAULT '',
  ipmodetarget BLOB NOT NULL DEFAULT '',
  sshport INT UNSIGNED NOT NULL DEFAULT 22,
  telnetport INT UNSIGNED NOT NULL DEFAULT 23,
  conntype_ip VARBINARY(32) NOT NULL DEFAULT 'Telnet',
  swversion BLOB NOT NULL DEFAULT 'unknown',
  savebackupcfg BLOB NOT NULL DEFAULT '1',
  imsi BLOB NOT NULL DEFAULT '',
  ipfallbacknumber BLOB NOT NULL DEFAULT '',
  startwithfallback BLOB NOT NULL DEFAULT '0',
  localipfortftp BLOB NOT NULL DEFAULT '',
  localipforping BLOB NOT NULL DEFAULT '',
  loopback BLOB NOT NULL DEFAULT '',
  pwd_var_01 BLOB NOT NULL DEFAULT '',
  pwd_var_02 BLOB NOT NULL DEFAULT '',
  pwd_var_03 BLOB NOT NULL DEFAULT '',
  pwd_var_04 BLOB NOT NULL DEFAULT '',
  pwd_var_05 BLOB NOT NULL DEFAULT '',
  PRIMARY KEY (id),
  KEY name (name(64)),
  KEY customerid (customerid),
  KEY seriennr (seriennr(64))
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_routertypes (
  shortname VARBINARY(255) NOT NULL DEFAULT '',
  ifindexoffset INT UNSIGNED NOT NULL DEFAULT 0,
  os VARBINARY(255) NOT NULL DEFAULT '',
  PRIMARY KEY (shortname)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_router_additionals (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  routerid INT UNSIGNED NOT NULL DEFAULT 0,
  varname VARBINARY(255) NOT NULL DEFAULT '',
  data BLOB NOT NULL DEFAULT '',
  pwd VARBINARY(255) NOT NULL DEFAULT '',
  PRIMARY KEY (id),
  KEY routerid_varname (routerid, varname)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_swrelease (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  name VARBINARY(255) NOT NULL DEFAULT '',
  routertype VARBINARY(255) NOT NULL DEFAULT '',
  customerid INT UNSIGNED NOT NULL DEFAULT 0,
  logic VARBINARY(255) NOT NULL DEFAULT '',
  bootmonitor VARBINARY(255) NOT NULL DEFAULT '',
  nexa VARBINARY(255) NOT NULL DEFAULT '',
  globalmaster VARBINARY(255) NOT NULL DEFAULT '',
  dsllogic VARBINARY(255) NOT NULL DEFAULT '',
  module2 VARBINARY(255) NOT NULL DEFAULT '',
  module3 VARBINARY(255) NOT NULL DEFAULT '',
  module4 VARBINARY(255) NOT NULL DEFAULT '',
  PRIMARY KEY (id),
  -- the release is addressed by its name (update, delete, the router's softwareimage)
  UNIQUE KEY name (name)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_contacts (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  customerid INT UNSIGNED NOT NULL DEFAULT 0,
  anrede VARBINARY(255) NOT NULL DEFAULT '',
  vorname VARBINARY(255) NOT NULL DEFAULT '',
  nachname VARBINARY(255) NOT NULL DEFAULT '',
  firma VARBINARY(255) NOT NULL DEFAULT '',
  gebdat VARBINARY(255) NOT NULL DEFAULT '',
  email VARBINARY(255) NOT NULL DEFAULT '',
  phone1 VARBINARY(255) NOT NULL DEFAULT '',
  phone2 VARBINARY(255) NOT NULL DEFAULT '',
  fax VARBINARY(255) NOT NULL DEFAULT '',
  strasse VARBINARY(255) NOT NULL DEFAULT '',
  ort VARBINARY(255) NOT NULL DEFAULT '',
  plz VARBINARY(255) NOT NULL DEFAULT '',
  bemerkung BLOB NOT NULL DEFAULT '',
  PRIMARY KEY (id),
  KEY customerid (customerid)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_customer (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  firma VARBINARY(255) NOT NULL DEFAULT '',
  kurzname VARBINARY(255) NOT NULL DEFAULT '',
  description BLOB NOT NULL DEFAULT '',
  security BLOB NOT NULL DEFAULT '',
  PRIMARY KEY (id)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

CREATE TABLE cordal_key (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  description BLOB NOT NULL DEFAULT '',
  algorithm VARBINARY(32) NOT NULL DEFAULT '',
  length INT NOT NULL DEFAULT 0,
  passphrase VARBINARY(255) NOT NULL DEFAULT '',
  data MEDIUMBLOB NOT NULL DEFAULT '',
  routerid INT UNSIGNED NOT NULL DEFAULT 0,
  subjectname BLOB NOT NULL DEFAULT '',
  authorityname BLOB NOT NULL DEFAULT '',
  rsaexponent INT UNSIGNED NOT NULL DEFAULT 0,
  altnames BLOB NOT NULL DEFAULT '',
  PRIMARY KEY (id),
  KEY routerid (routerid)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

-- A router's licences, keyed by its serial number (cordal_router.seriennr).
CREATE TABLE cordal_licenses (
  routerid VARBINARY(255) NOT NULL DEFAULT '',
  serialnr VARBINARY(255) NOT NULL DEFAULT '',
  pin VARBINARY(255) NOT NULL DEFAULT '',
  lickey BLOB NOT NULL DEFAULT '',
  type VARBINARY(255) NOT NULL DEFAULT '',
  KEY routerid_serialnr (routerid, serialnr)
) ENGINE=InnoDB DEFAULT CHARSET=binary;

-- The claims of running jobs: the program's own table (the management
-- system's tables above are not changed for it). Every Tarvo process that
-- runs a job holds one row, from the moment it claimed the job until its end
-- (Finish deletes the row after the history row is stored and the job row
-- deleted), so at most one process runs a job and, through the unique
-- routerid, at most one running job works on a router.
--   jobid      cordal_jobs.id of the claimed job
--   routerid   the router the job works on; NULL while the job waits for a
--              router that another running job holds (NULLs do not collide)
--   host       the holder's host name (gethostname)
--   pid        the holder's process id on that host
--   pidstart   the holder's start time: field 22 of /proc/PID/stat, clock
--              ticks since the host booted; with host and pid it names one
--              process even after its pid is reused
--   claimtime  when the row was taken (seconds since 1970)
--   heartbeat  when the holder last showed it is alive (seconds since 1970):
--              refreshed at every step of the job and while it waits
-- The row is taken before processid is written into the job row (the
-- claim is the row's INSERT and then that write where processid is still
-- 0), so a process that sees another's row has lost the job. A holder that
-- is gone (its pid no longer runs with its pidstart on its host, or, seen
-- from another host, its heartbeat is older than the settings' claimLease)
-- loses only its router: a job that wants the router sets the gone
-- holder's routerid to NULL. The gone holder's row itself stays, as the
-- trace of a lost job, until it is cleared with the job (by a dispatcher
-- that records the job as lost, or by hand).
-- On an existing database, db/migrate-tarvo-claims.sql adds this table; it
-- is safe to run again.
CREATE TABLE IF NOT EXISTS tarvo_claims (
  jobid INT UNSIGNED NOT NULL,
  routerid INT UNSIGNED NULL DEFAULT NULL,
  host VARBINARY(255) NOT NULL DEFAULT '',
  pid INT UNSIGNED NOT NULL DEFAULT 0,
  pidstart BIGINT UNSIGNED NOT NULL DEFAULT 0,
  claimtime BIGINT UNSIGNED NOT NULL DEFAULT 0,
  heartbeat BIGINT UNSIGNED NOT NULL DEFAULT 0,
  PRIMARY KEY (jobid),
  UNIQUE KEY routerid (routerid)
) ENGINE=InnoDB DEFAULT CHARSET=binary;
