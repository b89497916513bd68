-- Client invoices (facturi client): the invoice, keyed by its Mivo id, and its lines, keyed by their
-- position on the invoice. Importing an invoice again replaces its earlier posting; operation "delete"
-- removes it.
CREATE TABLE IF NOT EXISTS contab_factci (
  id                  bigint PRIMARY KEY,
  doc_type            text,
  operation           text,
  serie               text,
  numar               text NOT NULL,
  data                date NOT NULL,
  data_scadenta       date,
  moneda              text,
  curs                numeric,
  comentarii          text,
  partener_id         bigint NOT NULL,
  partener_tip        text,
  partener_nume       text,
  partener_cod_fiscal text,
  emitent             text,
  total_valoare       numeric,
  total_tva           numeric,
  nume_fisier         text NOT NULL,
  postat_la           timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE IF NOT EXISTS contab_factci_poz (
  id_factura     bigint NOT NULL REFERENCES contab_factci (id) ON DELETE CASCADE,
  pozitie        integer NOT NULL,
  id_rand        bigint,
  tip            text,
  cod_serviciu   text,
  serviciu       text,
  bilet          text,
  rezervare      text,
  data_inceput   date,
  data_sfarsit   date,
  descriere      text,
  um             text,
  cantitate      numeric,
  pret_unitar    numeric,
  valoare        numeric,
  tva            numeric,
  procent_tva    numeric,
  cota_tva       text,
  furnizor       text,
  furnizor_cui   text,
  cont_debit     text,
  cont_credit    text,
  cont_tva       text,
  PRIMARY KEY (id_factura, pozitie)
);

CREATE OR REPLACE FUNCTION o_insert_factci_mivo() RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  n  bigint;
  h  record;
  r  record;
BEGIN
  SELECT count(*) INTO n FROM mivo_import_fc;
  IF n = 0 THEN
    RAISE EXCEPTION 'o_insert_factci_mivo: tabela mivo_import_fc nu contine nicio factura';
  END IF;
  IF n > 1 THEN
    RAISE EXCEPTION 'o_insert_factci_mivo: tabela mivo_import_fc contine % facturi in loc de una', n;
  END IF;
  SELECT * INTO h FROM mivo_import_fc;

  FOR r IN SELECT * FROM mivo_import_fc_poz
           WHERE nume_fisier IS DISTINCT FROM h.nume_fisier OR dp_id IS DISTINCT FROM h.id LIMIT 1 LOOP
    RAISE EXCEPTION 'Factura % din fisierul %: randul % (fisierul %, factura %) nu apartine facturii', h.id,
      h.nume_fisier, r.dp_scv, coalesce(r.nume_fisier, '?'), coalesce(r.dp_id::text, '?');
  END LOOP;

  DELETE FROM contab_factci WHERE id = h.id;
  IF lower(coalesce(h.operation, '')) = 'delete' THEN
    RETURN true;
  END IF;

  IF h.invoice_number IS NULL THEN
    RAISE EXCEPTION 'Factura % din fisierul % nu are numar (invoiceNumber)', h.id, h.nume_fisier;
  END IF;
  IF h.invoice_date IS NULL THEN
    RAISE EXCEPTION 'Factura % din fisierul % nu are data (invoiceDate)', h.id, h.nume_fisier;
  END IF;
  IF h.partener_id IS NULL THEN
    RAISE EXCEPTION 'Factura % din fisierul % nu are client (client/@id)', h.id, h.nume_fisier;
  END IF;
  FOR r IN SELECT dp_scv, count(*) AS c FROM mivo_import_fc_poz GROUP BY dp_scv HAVING count(*) > 1 OR dp_scv IS NULL
           LIMIT 1 LOOP
    RAISE EXCEPTION 'Factura % din fisierul %: pozitia % apare de % ori', h.id, h.nume_fisier,
      coalesce(r.dp_scv::text, 'nula'), r.c;
  END LOOP;
  -- The quantity is staged as written; it must read as a number (comma or point before the decimals).
  FOR r IN SELECT dp_scv, dp_quantity FROM mivo_import_fc_poz
           WHERE dp_quantity !~ '^\s*[+-]?[0-9]+([.,][0-9]+)?\s*$' ORDER BY dp_scv LIMIT 1 LOOP
    RAISE EXCEPTION 'Factura % din fisierul %: randul % are cantitatea "%", care nu este un numar (quantity)',
      h.id, h.nume_fisier, r.dp_scv, r.dp_quantity;
  END LOOP;

  INSERT INTO contab_factci (id, doc_type, operation, serie, numar, data, data_scadenta, moneda, curs, comentarii,
                             partener_id, partener_tip, partener_nume, partener_cod_fiscal, emitent,
                             total_valoare, total_tva, nume_fisier)
  SELECT h.id, h.doc_type, h.operation, h.invoice_series, h.invoice_number, h.invoice_date, h.data_scadenta,
         h.moneda, h.curs::numeric, h.comentarii, h.partener_id, h.partener_tip,
         coalesce(h.pj_company, nullif(concat_ws(' ', h.pf_firstname, h.pf_middlename, h.pf_lastname), '')),
         coalesce(h.pj_cod_fiscal, h.pf_cnp),
         nullif(concat_ws(' ', h.emitent_resp_firstname, h.emitent_resp_lastname), ''),
         (SELECT sum(dp_value::numeric) FROM mivo_import_fc_poz), (SELECT sum(dp_vat::numeric) FROM mivo_import_fc_poz),
         h.nume_fisier;
  INSERT INTO contab_factci_poz (id_factura, pozitie, id_rand, tip, cod_serviciu, serviciu, bilet, rezervare,
                                 data_inceput, data_sfarsit, descriere, um, cantitate, pret_unitar, valoare, tva,
                                 procent_tva, cota_tva, furnizor, furnizor_cui, cont_debit, cont_credit, cont_tva)
  SELECT h.id, dp_scv, dp_id_scv, dp_tip, dp_service_code, dp_service_name, dp_ticket_number, dp_reservation_number,
         dp_reservation_start_date, dp_reservation_end_date, dp_description, dp_measureunit,
         replace(dp_quantity, ',', '.')::numeric, dp_unitprice::numeric, dp_value::numeric, dp_vat::numeric,
         dp_vatpercent::numeric, dp_vatquota,
         dp_company, dp_company_cui, dp_cont_debit, dp_cont_credit, dp_cont_tva
  FROM mivo_import_fc_poz;
  RETURN true;
END;
$$;
