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
