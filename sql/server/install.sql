-- Server side of ImportMivo: the error log, the reference accounting schema and the server import
-- functions that post the staged rows into it. Re-runnable: psql -v ON_ERROR_STOP=1 -f install.sql
-- Everything is created in the first schema of the search_path, where the staging tables live too.
\set ON_ERROR_STOP on
SET client_min_messages TO warning;
BEGIN;
\ir error_log.sql
\ir corporation.sql
\ir supplier.sql
\ir invoice.sql
\ir supplier_invoice.sql
\ir cashing.sql
\ir payment.sql
\ir balance.sql
COMMIT;
