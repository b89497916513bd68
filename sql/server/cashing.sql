-- Cashings (incasari): one posting per cashing document, keyed by the document's type and upstream id,
-- with its coded remarks. Importing a cashing again updates its posting in place; operation "delete"
-- removes it.
CREATE TABLE IF NOT EXISTS contab_incasare (
  tip_doc              text NOT NULL,  -- cashing_paymentOrder, cashing_creditCard, cashing_receipt, ...
  id                   bigint NOT NULL,
  modalitate           text NOT NULL CHECK (modalitate IN ('OP', 'CARD', 'CHITANTA', 'COMPENSARE')),
  operation            text,
  nr_doc               text,
  serie                text,
  data_doc             date NOT NULL,
  valoare              double precision NOT NULL,
  moneda               text,
  curs                 double precision,
  valoare_pe_factura   double precision,
  cont_banca           text,
  nume_banca           text,
  banca_office         text,
  explicatie           text,
  comentarii           text,
  remarks              text,
  invoice_id           text,           -- as sent: receipts and trade exchanges keep their leading zeros
  invoice_number       text,
  invoice_date         date,
  invoice_total_value  double precision,
  invoice_currency     text,
  partener_id          bigint,
  partener_tip         text,
  partener_nume        text,
  partener_cod_fiscal  text,
  emitent              text,
  contc                text,
  contd                text,
  dosar                text,
  cost_center          text,
  nume_fisier          text NOT NULL,
  postat_la            timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (tip_doc, id)
);
CREATE TABLE IF NOT EXISTS contab_incasare_remarks (
  tip_doc    text NOT NULL,
  id         bigint NOT NULL,
  nr         integer NOT NULL,
  item_code  text,
  item       text,
  PRIMARY KEY (tip_doc, id, nr),
  FOREIGN KEY (tip_doc, id) REFERENCES contab_incasare (tip_doc, id) ON DELETE CASCADE
);

-- Called by the importer after every cashing file, of whichever kind, without saying which. The staging
-- tables of the other kinds still hold the rows of their last file: one posted long ago, or one that
-- failed and so must never be posted. The calling file's rows are the ones staged last: they carry the
-- newest transaction ids of the four main tables (an age below zero is an id from before a wraparound,
-- the oldest of all), and only that kind is posted.
CREATE OR REPLACE FUNCTION o_mivo_import_incas_pl() RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  k         record;
  tabela    text;
  modal     text;
  cea_noua  integer;
  varsta    integer;
  n         bigint;
  fisiere   bigint;
  f         text;
  r         jsonb;
  d_tip     text;
  d_id      bigint;
BEGIN
  FOR k IN SELECT * FROM (VALUES ('mivo_import_op_inc', 'OP'), ('mivo_import_card_inc', 'CARD'),
                                 ('mivo_import_ch_inc', 'CHITANTA'), ('mivo_import_pvcomp', 'COMPENSARE'))
                         AS v(t, m) LOOP
    CONTINUE WHEN to_regclass(k.t) IS NULL;
    EXECUTE format('SELECT min(age(xmin)) FILTER (WHERE age(xmin) >= 0) FROM %I', k.t) INTO varsta;
    IF varsta IS NOT NULL AND (cea_noua IS NULL OR varsta < cea_noua) THEN
      cea_noua := varsta;
      tabela := k.t;
      modal := k.m;
    END IF;
  END LOOP;
  IF tabela IS NULL THEN
    RAISE EXCEPTION 'o_mivo_import_incas_pl: nicio tabela de import a incasarilor nu contine randuri';
  END IF;

  EXECUTE format('SELECT count(*), count(DISTINCT nume_fisier) FROM %I', tabela) INTO n, fisiere;
  IF n > 1 THEN
    RAISE EXCEPTION 'o_mivo_import_incas_pl: tabela % contine % randuri (din % fisiere), o incasare da un singur rand',
      tabela, n, fisiere;
  END IF;
  EXECUTE format('SELECT to_jsonb(t) FROM %I t', tabela) INTO r;
  f := r ->> 'nume_fisier';
  d_tip := r ->> 'doc_type';
  d_id := (r ->> 'id')::bigint;
  IF d_tip IS NULL THEN
    RAISE EXCEPTION 'Incasarea din fisierul % nu are tip (atributul type al radacinii)', f;
  END IF;
  IF d_id IS NULL THEN
    RAISE EXCEPTION 'Incasarea din fisierul % nu are id (atributul id al radacinii)', f;
  END IF;
  EXECUTE format('SELECT count(*) FROM %I WHERE nume_fisier IS DISTINCT FROM $1 OR doc_type IS DISTINCT FROM $2 '
                 'OR id IS DISTINCT FROM $3', tabela || '_remarks') INTO n USING f, d_tip, d_id;
  IF n > 0 THEN
    RAISE EXCEPTION 'Incasarea % din fisierul %: tabela %_remarks contine % randuri ale altui document',
      d_id, f, tabela, n;
  END IF;

  IF lower(coalesce(r ->> 'operation', '')) = 'delete' THEN
    DELETE FROM contab_incasare WHERE tip_doc = d_tip AND id = d_id;
    RETURN true;
  END IF;
  IF r ->> 'doc_date' IS NULL THEN
    RAISE EXCEPTION 'Incasarea % din fisierul % nu are data (docDate)', d_id, f;
  END IF;
  IF r ->> 'valoare' IS NULL THEN
    RAISE EXCEPTION 'Incasarea % din fisierul % nu are valoare (value)', d_id, f;
  END IF;

  INSERT INTO contab_incasare (
    tip_doc, id, modalitate, operation, nr_doc, serie, data_doc, valoare, moneda, curs, valoare_pe_factura,
    cont_banca, nume_banca, banca_office, explicatie, comentarii, remarks, invoice_id, invoice_number,
    invoice_date, invoice_total_value, invoice_currency, partener_id, partener_tip, partener_nume,
    partener_cod_fiscal, emitent, contc, contd, dosar, cost_center, nume_fisier)
  VALUES (
    d_tip, d_id, modal, r ->> 'operation', r ->> 'doc_number', r ->> 'cashing_series', (r ->> 'doc_date')::date,
    (r ->> 'valoare')::double precision, r ->> 'moneda', (r ->> 'curs')::double precision,
    (r ->> 'invoice_cashed_value')::double precision, r ->> 'cont_banca', r ->> 'nume_banca',
    r ->> 'banca_office', r ->> 'explicatie', r ->> 'comentarii', r ->> 'remarks', r ->> 'invoice_id',
    r ->> 'invoice_number', (r ->> 'invoice_date')::date, (r ->> 'invoice_total_value')::double precision,
    r ->> 'invoice_currency', (r ->> 'partener_id')::bigint, r ->> 'partener_tip',
    coalesce(r ->> 'pj_company',
             nullif(concat_ws(' ', r ->> 'pf_firstname', r ->> 'pf_middlename', r ->> 'pf_lastname'), '')),
    coalesce(r ->> 'pj_cod_fiscal', r ->> 'pf_cnp'),
    nullif(concat_ws(' ', r ->> 'emitent_resp_firstname', r ->> 'emitent_resp_lastname'), ''),
    r ->> 'contc', r ->> 'contd', r ->> 'dosar', r ->> 'cost_center', f)
  ON CONFLICT (tip_doc, id) DO UPDATE SET
    modalitate = EXCLUDED.modalitate, operation = EXCLUDED.operation, nr_doc = EXCLUDED.nr_doc,
    serie = EXCLUDED.serie, data_doc = EXCLUDED.data_doc, valoare = EXCLUDED.valoare, moneda = EXCLUDED.moneda,
    curs = EXCLUDED.curs, valoare_pe_factura = EXCLUDED.valoare_pe_factura, cont_banca = EXCLUDED.cont_banca,
    nume_banca = EXCLUDED.nume_banca, banca_office = EXCLUDED.banca_office, explicatie = EXCLUDED.explicatie,
    comentarii = EXCLUDED.comentarii, remarks = EXCLUDED.remarks, invoice_id = EXCLUDED.invoice_id,
    invoice_number = EXCLUDED.invoice_number, invoice_date = EXCLUDED.invoice_date,
    invoice_total_value = EXCLUDED.invoice_total_value, invoice_currency = EXCLUDED.invoice_currency,
    partener_id = EXCLUDED.partener_id, partener_tip = EXCLUDED.partener_tip,
    partener_nume = EXCLUDED.partener_nume, partener_cod_fiscal = EXCLUDED.partener_cod_fiscal,
    emitent = EXCLUDED.emitent, contc = EXCLUDED.contc, contd = EXCLUDED.contd, dosar = EXCLUDED.dosar,
    cost_center = EXCLUDED.cost_center, nume_fisier = EXCLUDED.nume_fisier, postat_la = now();

  DELETE FROM contab_incasare_remarks WHERE tip_doc = d_tip AND id = d_id;
  EXECUTE format('INSERT INTO contab_incasare_remarks (tip_doc, id, nr, item_code, item) '
                 'SELECT $1, $2, row_number() OVER (ORDER BY ctid), item_code, item FROM %I',
                 tabela || '_remarks') USING d_tip, d_id;
  RETURN true;
END;
$$;
