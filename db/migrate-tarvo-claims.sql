-- Adds the claim table of running jobs (tarvo_claims, described in
-- schema.sql) to an existing Tarvo database. It changes no other table and
-- does nothing where the table exists already, so it is safe to run again:
--   mariadb DBNAME < db/migrate-tarvo-claims.sql
-- Keep the statement identical to the one in schema.sql.
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
