// Corporation: one corporation row, one row per office, and for every office its default bank row (the
// office's own bank data) followed by one bank row per account of its bankAccountsList.
#include "imports/data_module.h"
#include "imports/rules.h"

using namespace imports;

void TDataModule2::Corporation(const std::string& numeFisier) {
  PgScript_temp_mivo_import_corporatii.Execute();
  StagingQuery& corp = dsmivo_import_corporatii;
  StagingQuery& office = dsmivo_import_corporatii_oficii;
  StagingQuery& bank = dsmivo_import_corporatii_oficii_banci;
  corp.Open();
  office.Open();
  bank.Open();

  // The corporation. Upstream spells the VAT element "vatCertificateNumbeer".
  corp.Append();
  fileName(corp, numeFisier);
  attribute(corp, "id_client", root, "id");
  attribute(corp, "operation", root, "operation");
  childText(corp, "tip", root, "type");
  childText(corp, "alias", root, "alias");
  const xml::Node company = root.child("company");
  attribute(corp, "company_sufix", company, "suffix");
  attribute(corp, "company_prefix", company, "prefix");
  childText(corp, "company", root, "company");
  childText(corp, "trust", root, "trust");
  childText(corp, "cod_fiscal", root, "fiscalCode");
  childText(corp, "vat", root, "vatCertificateNumbeer");
  childText(corp, "reg_com", root, "reg");
  childText(corp, "telefon", root, "telephone");
  childText(corp, "fax", root, "fax");
  childText(corp, "email", root, "email");
  childText(corp, "nume_manager", root, "accountManager");
  childText(corp, "cine_adauga", root, "addUser");
  corp.Post();

  for (const xml::Node o : root.child("offices").children()) {
    // The office; its remarks columns stay NULL.
    office.Append();
    fileName(office, numeFisier);
    copy(office, "id_client", corp);
    copy(office, "operation", corp);
    attribute(office, "id_office", o, "id");
    attribute(office, "main_office", o, "mainOffice");
    childText(office, "office_name", o, "name");
    attribute(office, "office_tara_cod", o.child("country"), "code");
    childText(office, "office_tara", o, "country");
    childText(office, "office_oras", o, "city");
    childText(office, "office_judet", o, "district");
    childText(office, "office_adresa", o, "address");
    childText(office, "office_adresa_corespondenta", o, "deliveryAddress");
    childText(office, "office_cod_postal", o, "zipCode");
    childText(office, "office_tel", o, "telephone");
    childText(office, "office_fax", o, "fax");
    childText(office, "office_email", o, "email");
    office.Post();

    // Default bank row: staged for every office, with or without bank data.
    bank.Append();
    fileName(bank, numeFisier);
    copy(bank, "id_client", corp);
    copy(bank, "operation", corp);
    copy(bank, "id_office", office);
    childText(bank, "office_nume_banca_default", o, "bankName");
    childText(bank, "office_banca_office_default", o, "bankOfficeName");
    attribute(bank, "office_cont_moneda_default", o.child("bankAccount"), "currency");
    childText(bank, "office_cont_banca_default", o, "bankAccount");
    bank.Post();

    // Listed bank rows: the _default columns hold the empty text, which tells them from the default row.
    for (const xml::Node entry : o.child("bankAccountsList").children()) {
      bank.Append();
      fileName(bank, numeFisier);
      copy(bank, "id_client", corp);
      copy(bank, "operation", corp);
      copy(bank, "id_office", office);
      constant(bank, "office_nume_banca_default", "");
      constant(bank, "office_banca_office_default", "");
      constant(bank, "office_cont_moneda_default", "");
      constant(bank, "office_cont_banca_default", "");
      attribute(bank, "office_banca_da_nu_default", entry, "default");
      attribute(bank, "office_cont_moneda", entry.child("account"), "currency");
      childText(bank, "office_cont_banca", entry, "account");
      childText(bank, "office_banca_nume", entry, "bankName");
      childText(bank, "office_banca_office", entry, "bankOfficeName");
      bank.Post();
    }
  }

  PgStoredProc_o_insert_corporatii_mivo.Execute();
  corp.Close();
  office.Close();
  bank.Close();
}
