-- Supplier invoices (facturi furnizor): the invoice, keyed by its upstream id, and its lines.
-- Importing an invoice again replaces its earlier posting; operation "delete" removes it.
CREATE TABLE IF NOT EXISTS contab_factfi (
  id_factura     bigint PRIMARY KEY,
  doc_type       text,
  numar          text NOT NULL,
  serie          text,
  data_factura   date NOT NULL,
  data_scadenta  date,
  moneda         text,
  curs           double precision,
  id_furnizor    bigint NOT NULL,
  furnizor       text,
  cui_furnizor   text,
  comentarii     text,
  mentiuni       text,
  total_valoare  double precision NOT NULL,
  total_tva      double precision NOT NULL,
  operation      text,
  nume_fisier    text NOT NULL,
  postat_la      timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE IF NOT EXISTS contab_factfi_poz (
  id_factura    bigint NOT NULL REFERENCES contab_factfi (id_factura) ON DELETE CASCADE,
  id_poz        bigint NOT NULL,
  nr_poz        integer NOT NULL,
  serviciu      text,
  um            text,
  cantitate     double precision,
  pret_unitar   double precision,
  valoare       double precision,
  tva           double precision,
  cota_tva      double precision,
  tip_cota_tva  text,
  descriere     text,
  cod_tara      text,
  tara          text,
  localitate    text,
  pasager       text,
  check_in      text,
  nr_rezervare  text,
  ticket_no     text,
  cont1         text,
  cont2         text,
  cont3         text,
  cont11        text,
  cont21        text,
  cont31        text,
  tip_tva       text,
  PRIMARY KEY (id_factura, id_poz)
);

CREATE OR REPLACE FUNCTION o_insert_factfi_mivo() RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  h  record;
  n  bigint;
  r  record;
BEGIN
  SELECT count(*) INTO n FROM mivo_import_ff;
  IF n = 0 THEN
    RAISE EXCEPTION 'o_insert_factfi_mivo: tabela mivo_import_ff nu contine nicio factura';
  END IF;
  IF n > 1 THEN
    RAISE EXCEPTION 'o_insert_factfi_mivo: tabela mivo_import_ff contine % facturi, se astepta una singura', n;
  END IF;
  SELECT * INTO h FROM mivo_import_ff;
  FOR r IN SELECT nume_fisier, dp_id FROM mivo_import_ff_poz
           WHERE nume_fisier IS DISTINCT FROM h.nume_fisier OR dp_id IS DISTINCT FROM h.id LIMIT 1 LOOP
    RAISE EXCEPTION 'o_insert_factfi_mivo: tabela mivo_import_ff_poz contine pozitii straine (fisierul %, factura %)',
      r.nume_fisier, r.dp_id;
  END LOOP;

  DELETE FROM contab_factfi WHERE id_factura = h.id;
  IF lower(coalesce(h.operation, '')) = 'delete' THEN
    RETURN true;
  END IF;
  IF h.invoice_number IS NULL THEN
    RAISE EXCEPTION 'Factura furnizor % din fisierul % nu are numar (invoiceNumber)', h.id, h.nume_fisier;
  END IF;
  IF h.invoice_date IS NULL THEN
    RAISE EXCEPTION 'Factura furnizor % (%) din fisierul % nu are data (invoiceDate)', h.invoice_number, h.id,
      h.nume_fisier;
  END IF;
  IF h.furnizor_id IS NULL THEN
    RAISE EXCEPTION 'Factura furnizor % (%) din fisierul % nu are furnizor (atributul id al elementului supplier)',
      h.invoice_number, h.id, h.nume_fisier;
  END IF;

  INSERT INTO contab_factfi (id_factura, doc_type, numar, serie, data_factura, data_scadenta, moneda, curs,
                             id_furnizor, furnizor, cui_furnizor, comentarii, mentiuni, total_valoare, total_tva,
                             operation, nume_fisier)
  SELECT h.id, h.doc_type, h.invoice_number, h.invoice_series, h.invoice_date, h.data_scadenta, h.moneda, h.curs,
         h.furnizor_id, coalesce(h.f_company, h.furnizor_alias), h.f_cui, h.comentarii, h.remarks,
         coalesce(sum(p.dp_value), 0), coalesce(sum(p.dp_vat), 0), h.operation, h.nume_fisier
  FROM mivo_import_ff_poz p;
  INSERT INTO contab_factfi_poz (id_factura, id_poz, nr_poz, serviciu, um, cantitate, pret_unitar, valoare, tva,
                                 cota_tva, tip_cota_tva, descriere, cod_tara, tara, localitate, pasager, check_in,
                                 nr_rezervare, ticket_no, cont1, cont2, cont3, cont11, cont21, cont31, tip_tva)
  SELECT h.id, dp_id_scv, dp_scv, dp_service_name, dp_measureunit, dp_quantity, dp_unitprice, dp_value, dp_vat,
         dp_vatpercent, dp_vatquota, dp_description, dp_cod_tara, dp_tara, dp_localitate,
         nullif(concat_ws(' ', dp_passenger_firstname, dp_passenger_lastname), ''), dp_check_in,
         dp_reservation_number, dp_ticket_no, dp_cont1, dp_cont2, dp_cont3, dp_cont11, dp_cont21, dp_cont31,
         dp_tip_tva
  FROM mivo_import_ff_poz;
  RETURN true;
END;
$$;
