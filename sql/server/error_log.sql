-- The error log: one row per failed file and run. The importer sets nume_fisier and log_err only.
CREATE SEQUENCE IF NOT EXISTS mivo_import_log_err_id_seq;
CREATE TABLE IF NOT EXISTS mivo_import_log_err (
  id          bigint NOT NULL DEFAULT nextval('mivo_import_log_err_id_seq') PRIMARY KEY,
  data_log    timestamp DEFAULT now(),
  nume_fisier text,
  log_err     text,
  cine        text DEFAULT current_user,
  cand        timestamp DEFAULT now()
);
ALTER SEQUENCE mivo_import_log_err_id_seq OWNED BY mivo_import_log_err.id;
CREATE INDEX IF NOT EXISTS mivo_import_log_err_data_log ON mivo_import_log_err (data_log);
