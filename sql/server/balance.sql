-- Invoice balances (deconturi): a statement, keyed by its number, and the invoices it covers.
-- Importing a statement again replaces its earlier posting; operation "delete" removes it.
CREATE TABLE IF NOT EXISTS contab_decont (
  nr_decont   text PRIMARY KEY,
  data_decont date,
  operation   text,
  nume_fisier text NOT NULL,
  postat_la   timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE IF NOT EXISTS contab_decont_doc (
  nr_decont  text NOT NULL REFERENCES contab_decont (nr_decont) ON DELETE CASCADE,
  tip_doc    text NOT NULL CHECK (tip_doc IN ('FactCI', 'FactFI')),
  id_invoice bigint NOT NULL,
  id_row     bigint,
  nr_doc     text,
  data_doc   date
);
CREATE INDEX IF NOT EXISTS contab_decont_doc_nr ON contab_decont_doc (nr_decont);

CREATE OR REPLACE FUNCTION o_balance_mivo() RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  f   text;
  nr  text;
  n   bigint;
  r   record;
BEGIN
  SELECT min(nume_fisier), count(DISTINCT nume_fisier) INTO f, n FROM mivo_import_invoice_balances;
  IF n = 0 THEN
    RETURN true;  -- a statement that lists no invoice posts nothing
  END IF;
  IF n > 1 THEN
    RAISE EXCEPTION 'o_balance_mivo: tabela de import contine randuri din % fisiere', n;
  END IF;
  SELECT count(DISTINCT nr_decont), min(nr_decont) INTO n, nr FROM mivo_import_invoice_balances;
  IF nr IS NULL THEN
    RAISE EXCEPTION 'Decontul din fisierul % nu are numar (balanceDetails/number)', f;
  END IF;
  IF n > 1 THEN
    RAISE EXCEPTION 'Fisierul % contine mai multe numere de decont', f;
  END IF;
  FOR r IN SELECT * FROM mivo_import_invoice_balances WHERE id_invoice IS NULL LIMIT 1 LOOP
    RAISE EXCEPTION 'Decontul % din fisierul %: documentul % (%) nu are idInvoice', nr, f,
      coalesce(r.nr_doc, '?'), r.tip_doc;
  END LOOP;

  DELETE FROM contab_decont WHERE nr_decont = nr;
  IF EXISTS (SELECT 1 FROM mivo_import_invoice_balances WHERE lower(coalesce(operation, '')) = 'delete') THEN
    RETURN true;
  END IF;
  INSERT INTO contab_decont (nr_decont, data_decont, operation, nume_fisier)
  SELECT nr, max(data_decont), max(operation), f FROM mivo_import_invoice_balances;
  INSERT INTO contab_decont_doc (nr_decont, tip_doc, id_invoice, id_row, nr_doc, data_doc)
  SELECT nr, tip_doc, id_invoice, id_row, nr_doc, data_doc FROM mivo_import_invoice_balances;
  RETURN true;
END;
$$;
