-- Corporations (corporate clients), keyed by their Mivo id, with their offices (sedii) and the bank
-- accounts of every office. Importing a corporation again updates it: its offices are updated, offices
-- no longer listed are removed, and its bank accounts are replaced. Operation "delete" marks it inactive.
CREATE TABLE IF NOT EXISTS contab_corporatie (
  id_client    bigint PRIMARY KEY,
  tip          text,
  alias        text,
  denumire     text NOT NULL,
  prefix       text,
  sufix        text,
  trust        text,
  cod_fiscal   text,
  cod_tva      text,
  reg_com      text,
  telefon      text,
  fax          text,
  email        text,
  nume_manager text,
  cine_adauga  text,
  activ        boolean NOT NULL DEFAULT true,
  operation    text,
  nume_fisier  text NOT NULL,
  postat_la    timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE IF NOT EXISTS contab_corporatie_sediu (
  id_client            bigint NOT NULL REFERENCES contab_corporatie (id_client) ON DELETE CASCADE,
  id_office            bigint NOT NULL,
  principal            boolean NOT NULL,
  denumire             text,
  tara_cod             text,
  tara                 text,
  oras                 text,
  judet                text,
  adresa               text,
  adresa_corespondenta text,
  cod_postal           text,
  telefon              text,
  fax                  text,
  email                text,
  PRIMARY KEY (id_client, id_office)
);
-- An office's accounts, told apart by the account number without blanks, in capitals.
CREATE TABLE IF NOT EXISTS contab_corporatie_cont (
  id_client bigint NOT NULL,
  id_office bigint NOT NULL,
  cont      text NOT NULL,
  moneda    text,
  banca     text,
  sucursala text,
  implicit  boolean NOT NULL,
  PRIMARY KEY (id_client, id_office, cont),
  FOREIGN KEY (id_client, id_office) REFERENCES contab_corporatie_sediu (id_client, id_office) ON DELETE CASCADE
);

-- A yes/no flag of a partner file ("default", "mainOffice"): absent or empty is no; an unknown value
-- cannot be posted. `ce` names the flag in the message.
CREATE OR REPLACE FUNCTION contab_partener_da_nu(valoare text, ce text, nume_fisier text) RETURNS boolean
LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  CASE lower(btrim(coalesce(valoare, '')))
    WHEN '', 'false', '0', 'nu', 'no', 'n' THEN RETURN false;
    WHEN 'true', '1', 'da', 'yes', 'y', 'd' THEN RETURN true;
    ELSE RAISE EXCEPTION 'Fisierul %: valoarea "%" a atributului % nu este da/nu (true/false)', nume_fisier, valoare, ce;
  END CASE;
END;
$$;

-- An account number as the accounting side keys it: without blanks, in capitals; empty when none.
CREATE OR REPLACE FUNCTION contab_partener_cont(cont text) RETURNS text
LANGUAGE sql IMMUTABLE AS $$ SELECT upper(regexp_replace(coalesce(cont, ''), '\s', '', 'g')) $$;

CREATE OR REPLACE FUNCTION o_insert_corporatii_mivo() RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  c  record;
  f  text;
  n  bigint;
  r  record;
BEGIN
  SELECT count(*) INTO n FROM mivo_import_corporatii;
  IF n <> 1 THEN
    RAISE EXCEPTION 'o_insert_corporatii_mivo: tabela mivo_import_corporatii contine % randuri in loc de unul', n;
  END IF;
  SELECT * INTO c FROM mivo_import_corporatii;
  f := c.nume_fisier;
  IF c.id_client IS NULL THEN
    RAISE EXCEPTION 'Corporatia din fisierul % nu are id (atributul id al elementului corporation)', f;
  END IF;

  IF lower(coalesce(c.operation, '')) = 'delete' THEN
    UPDATE contab_corporatie
       SET activ = false, operation = c.operation, nume_fisier = f, postat_la = now()
     WHERE id_client = c.id_client;
    RETURN true;
  END IF;

  IF c.company IS NULL THEN
    RAISE EXCEPTION 'Corporatia % din fisierul % nu are denumire (company)', c.id_client, f;
  END IF;
  FOR r IN SELECT * FROM mivo_import_corporatii_oficii WHERE id_office IS NULL LIMIT 1 LOOP
    RAISE EXCEPTION 'Corporatia % din fisierul %: sediul "%" nu are id (atributul id al sediului)', c.id_client, f,
      coalesce(r.office_name, '?');
  END LOOP;
  FOR r IN SELECT id_office FROM mivo_import_corporatii_oficii GROUP BY id_office HAVING count(*) > 1 LIMIT 1 LOOP
    RAISE EXCEPTION 'Corporatia % din fisierul %: sediul cu id % apare de mai multe ori', c.id_client, f, r.id_office;
  END LOOP;
  FOR r IN SELECT * FROM mivo_import_corporatii_oficii_banci
            WHERE office_nume_banca_default = '' AND contab_partener_cont(office_cont_banca) = '' LIMIT 1 LOOP
    RAISE EXCEPTION 'Corporatia % din fisierul %: un cont din bankAccountsList al sediului % nu are numar de cont (account)',
      c.id_client, f, r.id_office;
  END LOOP;

  INSERT INTO contab_corporatie AS t (id_client, tip, alias, denumire, prefix, sufix, trust, cod_fiscal, cod_tva,
                                      reg_com, telefon, fax, email, nume_manager, cine_adauga, activ, operation,
                                      nume_fisier)
  VALUES (c.id_client, c.tip, c.alias, c.company, c.company_prefix, c.company_sufix, c.trust, c.cod_fiscal, c.vat,
          c.reg_com, c.telefon, c.fax, c.email, c.nume_manager, c.cine_adauga, true, c.operation, f)
  ON CONFLICT (id_client) DO UPDATE
     SET tip = excluded.tip, alias = excluded.alias, denumire = excluded.denumire, prefix = excluded.prefix,
         sufix = excluded.sufix, trust = excluded.trust, cod_fiscal = excluded.cod_fiscal,
         cod_tva = excluded.cod_tva, reg_com = excluded.reg_com, telefon = excluded.telefon, fax = excluded.fax,
         email = excluded.email, nume_manager = excluded.nume_manager, cine_adauga = excluded.cine_adauga,
         activ = true, operation = excluded.operation, nume_fisier = excluded.nume_fisier, postat_la = now();

  -- Offices: the file lists all of them.
  DELETE FROM contab_corporatie_sediu s
   WHERE s.id_client = c.id_client
     AND NOT EXISTS (SELECT 1 FROM mivo_import_corporatii_oficii o WHERE o.id_office = s.id_office);
  INSERT INTO contab_corporatie_sediu AS t (id_client, id_office, principal, denumire, tara_cod, tara, oras, judet,
                                            adresa, adresa_corespondenta, cod_postal, telefon, fax, email)
  SELECT c.id_client, o.id_office, contab_partener_da_nu(o.main_office, 'mainOffice al sediului ' || o.id_office, f),
         o.office_name, o.office_tara_cod, o.office_tara, o.office_oras, o.office_judet, o.office_adresa,
         o.office_adresa_corespondenta, o.office_cod_postal, o.office_tel, o.office_fax, o.office_email
    FROM mivo_import_corporatii_oficii o
  ON CONFLICT (id_client, id_office) DO UPDATE
     SET principal = excluded.principal, denumire = excluded.denumire, tara_cod = excluded.tara_cod,
         tara = excluded.tara, oras = excluded.oras, judet = excluded.judet, adresa = excluded.adresa,
         adresa_corespondenta = excluded.adresa_corespondenta, cod_postal = excluded.cod_postal,
         telefon = excluded.telefon, fax = excluded.fax, email = excluded.email;

  -- Accounts. A listed bank row carries the empty text in the office's own bank columns; the default
  -- bank row is an account only when the office gives an account number. An account listed twice for
  -- an office is kept once, with the data of its first entry, as the default one when either says so.
  DELETE FROM contab_corporatie_cont WHERE id_client = c.id_client;
  FOR r IN
    SELECT b.id_office,
           CASE WHEN b.office_nume_banca_default = '' THEN contab_partener_cont(b.office_cont_banca)
                ELSE contab_partener_cont(b.office_cont_banca_default) END AS cont,
           CASE WHEN b.office_nume_banca_default = '' THEN b.office_cont_moneda
                ELSE b.office_cont_moneda_default END AS moneda,
           CASE WHEN b.office_nume_banca_default = '' THEN b.office_banca_nume
                ELSE b.office_nume_banca_default END AS banca,
           CASE WHEN b.office_nume_banca_default = '' THEN b.office_banca_office
                ELSE b.office_banca_office_default END AS sucursala,
           CASE WHEN b.office_nume_banca_default = ''
                THEN contab_partener_da_nu(b.office_banca_da_nu_default,
                                           'default al unui cont al sediului ' || b.id_office, f)
                ELSE true END AS implicit
      FROM mivo_import_corporatii_oficii_banci b
     ORDER BY b.ctid
  LOOP
    CONTINUE WHEN r.cont = '';
    INSERT INTO contab_corporatie_cont AS t (id_client, id_office, cont, moneda, banca, sucursala, implicit)
    VALUES (c.id_client, r.id_office, r.cont, nullif(r.moneda, ''), r.banca, r.sucursala, r.implicit)
    ON CONFLICT (id_client, id_office, cont) DO UPDATE
       SET moneda = coalesce(t.moneda, excluded.moneda), banca = coalesce(t.banca, excluded.banca),
           sucursala = coalesce(t.sucursala, excluded.sucursala), implicit = t.implicit OR excluded.implicit;
  END LOOP;
  RETURN true;
END;
$$;
