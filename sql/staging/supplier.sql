drop table if exists mivo_import_supplier;
create table mivo_import_supplier (
  nume_fisier text,
  operation text,
  id_furnizor bigint,
  alias text,
  company_sufix text,
  company_prefix text,
  company text,
  trust text,
  adresa text,
  adresa_corespondenta text,
  cod_postal text,
  tara_cod text,
  tara text,
  judet text,
  oras text,
  cod_fiscal text,
  reg_com text,
  vat text,
  telefon text,
  fax text,
  email text,
  comentarii text,
  cine_adauga text
);
drop table if exists mivo_import_supplier_banci;
create table mivo_import_supplier_banci (
  nume_fisier text,
  operation text,
  id_furnizor bigint,
  banca_da_nu_default text,
  cont_moneda text,
  cont_banca text,
  banca_nume text,
  banca_office text
);
