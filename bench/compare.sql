-- Compares the accounting tables (contab_*) of two schemas of one database, table by table:
--   psql -At -v a=REFERENCE -v b=TESTED -f bench/compare.sql
-- Rows are matched by their business key (the table's primary key; the whole row for tables without
-- one). Columns that differ between two runs of the same files by nature are left out: timestamps
-- (postat_la) and values drawn from sequences.
--   lost:        reference rows whose key occurs fewer times in the tested schema
--   duplicated:  tested rows whose key occurs more times than in the reference (or not at all)
--   differences: rows whose key occurs as often in both but whose values differ
-- One line per table that does not match, then the totals: "lost: L, duplicated: D, differences: X".
\set ON_ERROR_STOP on
\set QUIET on
SET client_min_messages TO warning;

CREATE FUNCTION pg_temp.compare_accounting(a text, b text)
RETURNS TABLE (tbl text, lost bigint, duplicated bigint, differences bigint)
LANGUAGE plpgsql AS $$
DECLARE
  cols text;
  keycols text;
  rel regclass;
BEGIN
  FOR tbl IN SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
             WHERE n.nspname = a AND c.relkind = 'r' AND c.relname LIKE 'contab\_%' ORDER BY 1 LOOP
    rel := format('%I.%I', a, tbl)::regclass;
    SELECT string_agg(quote_ident(att.attname), ', ' ORDER BY att.attnum) INTO cols
      FROM pg_attribute att LEFT JOIN pg_attrdef d ON d.adrelid = att.attrelid AND d.adnum = att.attnum
     WHERE att.attrelid = rel AND att.attnum > 0 AND NOT att.attisdropped AND att.attidentity = ''
       AND att.atttypid NOT IN ('timestamp'::regtype, 'timestamptz'::regtype)
       AND coalesce(pg_get_expr(d.adbin, d.adrelid), '') NOT LIKE 'nextval(%';
    SELECT string_agg(quote_ident(att.attname), ', ' ORDER BY k.ord) INTO keycols
      FROM pg_index i CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, ord)
      JOIN pg_attribute att ON att.attrelid = i.indrelid AND att.attnum = k.attnum
     WHERE i.indrelid = rel AND i.indisprimary;
    keycols := coalesce(keycols, cols);
    RETURN QUERY EXECUTE format($q$
      WITH ra AS (SELECT ROW(%3$s)::text AS k, ROW(%4$s)::text AS r FROM %1$I.%5$I),
           rb AS (SELECT ROW(%3$s)::text AS k, ROW(%4$s)::text AS r FROM %2$I.%5$I),
           ka AS (SELECT k, count(*) AS n FROM ra GROUP BY k),
           kb AS (SELECT k, count(*) AS n FROM rb GROUP BY k),
           kk AS (SELECT k, coalesce(ka.n, 0) AS na, coalesce(kb.n, 0) AS nb FROM ka FULL JOIN kb USING (k)),
           same AS (SELECT k FROM kk WHERE na = nb)
      SELECT %5$L::text,
             (SELECT coalesce(sum(greatest(na - nb, 0)), 0)::bigint FROM kk),
             (SELECT coalesce(sum(greatest(nb - na, 0)), 0)::bigint FROM kk),
             (SELECT count(*) FROM (SELECT r FROM ra WHERE k IN (SELECT k FROM same)
                                    EXCEPT ALL
                                    SELECT r FROM rb WHERE k IN (SELECT k FROM same)) d)$q$,
      a, b, keycols, cols, tbl);
  END LOOP;
END;
$$;

CREATE TEMP TABLE compared AS SELECT * FROM pg_temp.compare_accounting(:'a', :'b');
SELECT format('%s: lost %s, duplicated %s, differences %s', tbl, lost, duplicated, differences)
  FROM compared WHERE lost + duplicated + differences > 0 ORDER BY tbl;
SELECT format('lost: %s, duplicated: %s, differences: %s',
              coalesce(sum(lost), 0), coalesce(sum(duplicated), 0), coalesce(sum(differences), 0))
  FROM compared;
