drop table if exists mivo_import_corporatii;
create table mivo_import_corporatii (
  nume_fisier text,
  operation text,
  id_client bigint,
  tip text,
  alias text,
  company_sufix text,
  company_prefix text,
  company text,
  trust text,
  cod_fiscal text,
  vat text,
  reg_com text,
  telefon text,
  fax text,
  email text,
  nume_manager text,
  cine_adauga text
);
drop table if exists mivo_import_corporatii_oficii;
create table mivo_import_corporatii_oficii (
  nume_fisier text,
  operation text,
  id_client bigint,
  id_office bigint,
  main_office text,
  office_name text,
  office_tara_cod text,
  office_tara text,
  office_oras text,
  office_judet text,
  office_adresa text,
  office_adresa_corespondenta text,
  office_cod_postal text,
  office_tel text,
  office_fax text,
  office_email text,
  office_remarks text,
  office_remarks_text text,
  office_remarks_atr_code text,
  office_remarks_atr_item text
);
drop table if exists mivo_import_corporatii_oficii_banci;
create table mivo_import_corporatii_oficii_banci (
  nume_fisier text,
  operation text,
  id_client bigint,
  id_office bigint,
  office_nume_banca_default text,
  office_banca_office_default text,
  office_cont_banca_default text,
  office_cont_moneda_default text,
  office_banca_da_nu_default text,
  office_cont_moneda text,
  office_cont_banca text,
  office_banca_nume text,
  office_banca_office text
);
