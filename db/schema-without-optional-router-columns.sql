-- The older router table: applied after schema.sql, it removes the router
-- columns that the program treats as optional (it then uses their built-in
-- defaults: SSH port 21, Telnet port 23, connection type "Telnet", "unknown"
-- for the texts, "1" for savebackupcfg and "0" for startwithfallback).
ALTER TABLE cordal_router
  DROP COLUMN sshport,
  DROP COLUMN telnetport,
  DROP COLUMN conntype_ip,
  DROP COLUMN swversion,
  DROP COLUMN savebackupcfg,
  DROP COLUMN imsi,
  DROP COLUMN ipfallbacknumber,
  DROP COLUMN startwithfallback,
  DROP COLUMN localipfortftp,
  DROP COLUMN localipforping,
  DROP COLUMN loopback;
