-- Payments to suppliers (plati): the payment, keyed by its upstream id, and its remark items.
-- Importing a payment again replaces its earlier posting; operation "delete" removes it.
CREATE TABLE IF NOT EXISTS contab_plata (
  id_plata          bigint PRIMARY KEY,
  doc_type          text,
  numar             text,
  serie             text,
  data_plata        date NOT NULL,
  valoare           double precision NOT NULL,
  moneda            text,
  curs              double precision,
  valoare_achitata  double precision,
  cont_banca        text,
  nume_banca        text,
  banca_office      text,
  explicatie        text,
  comentarii        text,
  mentiuni          text,
  id_factura        bigint,
  numar_factura     text,
  data_factura      date,
  valoare_factura   double precision,
  moneda_factura    text,
  id_furnizor       bigint,
  furnizor          text,
  cod_fiscal        text,
  emitent           text,
  contc             text,
  contd             text,
  dosar             text,
  cost_center       text,
  operation         text,
  nume_fisier       text NOT NULL,
  postat_la         timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE IF NOT EXISTS contab_plata_mentiune (
  id_plata  bigint NOT NULL REFERENCES contab_plata (id_plata) ON DELETE CASCADE,
  cod       text,
  text      text
);
CREATE INDEX IF NOT EXISTS contab_plata_mentiune_id ON contab_plata_mentiune (id_plata);

CREATE OR REPLACE FUNCTION o_mivo_import_plati() RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  p  record;
  n  bigint;
  r  record;
BEGIN
  SELECT count(*) INTO n FROM mivo_import_op_pl;
  IF n = 0 THEN
    RAISE EXCEPTION 'o_mivo_import_plati: tabela mivo_import_op_pl nu contine nicio plata';
  END IF;
  IF n > 1 THEN
    RAISE EXCEPTION 'o_mivo_import_plati: tabela mivo_import_op_pl contine % plati, se astepta una singura', n;
  END IF;
  SELECT * INTO p FROM mivo_import_op_pl;
  IF p.id IS NULL THEN
    RAISE EXCEPTION 'Plata % din fisierul % nu are id (atributul id al elementului payment)',
      coalesce(p.doc_number, '?'), p.nume_fisier;
  END IF;
  FOR r IN SELECT nume_fisier, id FROM mivo_import_op_pl_remarks
           WHERE nume_fisier IS DISTINCT FROM p.nume_fisier OR id IS DISTINCT FROM p.id LIMIT 1 LOOP
    RAISE EXCEPTION 'o_mivo_import_plati: tabela mivo_import_op_pl_remarks contine mentiuni straine (fisierul %, plata %)',
      r.nume_fisier, r.id;
  END LOOP;

  DELETE FROM contab_plata WHERE id_plata = p.id;
  IF lower(coalesce(p.operation, '')) = 'delete' THEN
    RETURN true;
  END IF;
  IF p.doc_date IS NULL THEN
    RAISE EXCEPTION 'Plata % (%) din fisierul % nu are data (docDate)', coalesce(p.doc_number, '?'), p.id,
      p.nume_fisier;
  END IF;
  IF p.valoare IS NULL THEN
    RAISE EXCEPTION 'Plata % (%) din fisierul % nu are valoare (value)', coalesce(p.doc_number, '?'), p.id,
      p.nume_fisier;
  END IF;

  INSERT INTO contab_plata (id_plata, doc_type, numar, serie, data_plata, valoare, moneda, curs, valoare_achitata,
                            cont_banca, nume_banca, banca_office, explicatie, comentarii, mentiuni, id_factura,
                            numar_factura, data_factura, valoare_factura, moneda_factura, id_furnizor, furnizor,
                            cod_fiscal, emitent, contc, contd, dosar, cost_center, operation, nume_fisier)
  VALUES (p.id, p.doc_type, p.doc_number, p.cashing_series, p.doc_date, p.valoare, p.moneda, p.curs,
          p.invoice_payed_value, p.cont_banca, p.nume_banca, p.banca_office, p.explicatie, p.comentarii, p.remarks,
          p.invoice_id, p.invoice_number, p.invoice_date, p.invoice_total_value, p.invoice_currency, p.partener_id,
          coalesce(p.company, p.alias), p.cod_fiscal,
          nullif(concat_ws(' ', p.emitent_resp_firstname, p.emitent_resp_lastname), ''), p.contc, p.contd, p.dosar,
          p.cost_center, p.operation, p.nume_fisier);
  INSERT INTO contab_plata_mentiune (id_plata, cod, text)
  SELECT p.id, item_code, item FROM mivo_import_op_pl_remarks;
  RETURN true;
END;
$$;
