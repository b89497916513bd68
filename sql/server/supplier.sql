-- Suppliers, keyed by their Mivo id, with their bank accounts. Importing a supplier again updates it and
-- replaces its bank accounts. Operation "delete" marks it inactive.
-- The account and flag helpers contab_partener_cont and contab_partener_da_nu come from corporation.sql.
CREATE TABLE IF NOT EXISTS contab_furnizor (
  id_furnizor          bigint PRIMARY KEY,
  alias                text,
  denumire             text NOT NULL,
  prefix               text,
  sufix                text,
  trust                text,
  adresa               text,
  adresa_corespondenta text,
  cod_postal           text,
  tara_cod             text,
  tara                 text,
  judet                text,
  oras                 text,
  cod_fiscal           text,
  reg_com              text,
  cod_tva              text,
  telefon              text,
  fax                  text,
  email                text,
  comentarii           text,
  cine_adauga          text,
  activ                boolean NOT NULL DEFAULT true,
  operation            text,
  nume_fisier          text NOT NULL,
  postat_la            timestamptz NOT NULL DEFAULT now()
);
-- A supplier's accounts, told apart by the account number without blanks, in capitals.
CREATE TABLE IF NOT EXISTS contab_furnizor_cont (
  id_furnizor bigint NOT NULL REFERENCES contab_furnizor (id_furnizor) ON DELETE CASCADE,
  cont        text NOT NULL,
  moneda      text,
  banca       text,
  sucursala   text,
  implicit    boolean NOT NULL,
  PRIMARY KEY (id_furnizor, cont)
);

CREATE OR REPLACE FUNCTION o_insert_furnizori_mivo() RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  s  record;
  f  text;
  n  bigint;
  r  record;
BEGIN
  SELECT count(*) INTO n FROM mivo_import_supplier;
  IF n <> 1 THEN
    RAISE EXCEPTION 'o_insert_furnizori_mivo: tabela mivo_import_supplier contine % randuri in loc de unul', n;
  END IF;
  SELECT * INTO s FROM mivo_import_supplier;
  f := s.nume_fisier;
  IF s.id_furnizor IS NULL THEN
    RAISE EXCEPTION 'Furnizorul din fisierul % nu are id (atributul id al elementului supplier)', f;
  END IF;

  IF lower(coalesce(s.operation, '')) = 'delete' THEN
    UPDATE contab_furnizor
       SET activ = false, operation = s.operation, nume_fisier = f, postat_la = now()
     WHERE id_furnizor = s.id_furnizor;
    RETURN true;
  END IF;

  IF s.company IS NULL THEN
    RAISE EXCEPTION 'Furnizorul % din fisierul % nu are denumire (company)', s.id_furnizor, f;
  END IF;
  SELECT count(*) INTO n FROM mivo_import_supplier_banci WHERE contab_partener_cont(cont_banca) = '';
  IF n > 0 THEN
    RAISE EXCEPTION 'Furnizorul % din fisierul %: % cont(uri) din bankAccountsList nu au numar de cont (account)',
      s.id_furnizor, f, n;
  END IF;

  INSERT INTO contab_furnizor AS t (id_furnizor, alias, denumire, prefix, sufix, trust, adresa, adresa_corespondenta,
                                    cod_postal, tara_cod, tara, judet, oras, cod_fiscal, reg_com, cod_tva, telefon,
                                    fax, email, comentarii, cine_adauga, activ, operation, nume_fisier)
  VALUES (s.id_furnizor, s.alias, s.company, s.company_prefix, s.company_sufix, s.trust, s.adresa,
          s.adresa_corespondenta, s.cod_postal, s.tara_cod, s.tara, s.judet, s.oras, s.cod_fiscal, s.reg_com, s.vat,
          s.telefon, s.fax, s.email, s.comentarii, s.cine_adauga, true, s.operation, f)
  ON CONFLICT (id_furnizor) DO UPDATE
     SET alias = excluded.alias, denumire = excluded.denumire, prefix = excluded.prefix, sufix = excluded.sufix,
         trust = excluded.trust, adresa = excluded.adresa, adresa_corespondenta = excluded.adresa_corespondenta,
         cod_postal = excluded.cod_postal, tara_cod = excluded.tara_cod, tara = excluded.tara,
         judet = excluded.judet, oras = excluded.oras, cod_fiscal = excluded.cod_fiscal,
         reg_com = excluded.reg_com, cod_tva = excluded.cod_tva, telefon = excluded.telefon, fax = excluded.fax,
         email = excluded.email, comentarii = excluded.comentarii, cine_adauga = excluded.cine_adauga,
         activ = true, operation = excluded.operation, nume_fisier = excluded.nume_fisier, postat_la = now();

  -- Accounts: the file lists all of them. An account listed twice is kept once, with the data of its first
  -- entry, as the default one when either entry says so.
  DELETE FROM contab_furnizor_cont WHERE id_furnizor = s.id_furnizor;
  FOR r IN
    SELECT contab_partener_cont(b.cont_banca) AS cont, b.cont_moneda AS moneda, b.banca_nume AS banca,
           b.banca_office AS sucursala, contab_partener_da_nu(b.banca_da_nu_default, 'default al unui cont', f) AS implicit
      FROM mivo_import_supplier_banci b
     ORDER BY b.ctid
  LOOP
    INSERT INTO contab_furnizor_cont AS t (id_furnizor, cont, moneda, banca, sucursala, implicit)
    VALUES (s.id_furnizor, r.cont, nullif(r.moneda, ''), r.banca, r.sucursala, r.implicit)
    ON CONFLICT (id_furnizor, cont) DO UPDATE
       SET moneda = coalesce(t.moneda, excluded.moneda), banca = coalesce(t.banca, excluded.banca),
           sucursala = coalesce(t.sucursala, excluded.sucursala), implicit = t.implicit OR excluded.implicit;
  END LOOP;
  RETURN true;
END;
$$;
