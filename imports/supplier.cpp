// Supplier: one supplier row and one bank row per account of its bankAccountsList. The address lives on
// the root; the district is an attribute of `city`.
#include "imports/data_module.h"
#include "imports/rules.h"

using namespace imports;

void TDataModule2::Supplier(const std::string& numeFisier) {
  PgScript_temp_mivo_import_supplier.Execute();
  StagingQuery& supplier = dsmivo_import_supplier;
  StagingQuery& bank = dsmivo_import_supplier_banci;
  supplier.Open();
  bank.Open();

  supplier.Append();
  fileName(supplier, numeFisier);
  attribute(supplier, "id_furnizor", root, "id");
  attribute(supplier, "operation", root, "operation");
  childText(supplier, "alias", root, "alias");
  const xml::Node company = root.child("company");
  attribute(supplier, "company_sufix", company, "suffix");
  attribute(supplier, "company_prefix", company, "prefix");
  childText(supplier, "company", root, "company");
  childText(supplier, "trust", root, "trust");
  childText(supplier, "adresa", root, "address");
  childText(supplier, "adresa_corespondenta", root, "deliveryAddress");
  childText(supplier, "cod_postal", root, "zipCode");
  attribute(supplier, "tara_cod", root.child("country"), "code");
  childText(supplier, "tara", root, "country");
  attribute(supplier, "judet", root.child("city"), "district");
  childText(supplier, "oras", root, "city");
  childText(supplier, "cod_fiscal", root, "fiscalCode");
  childText(supplier, "reg_com", root, "regNo");
  childText(supplier, "vat", root, "vatCertificateNumber");
  childText(supplier, "telefon", root, "telephone");
  childText(supplier, "fax", root, "fax");
  childText(supplier, "email", root, "email");
  childText(supplier, "comentarii", root, "comments");
  childText(supplier, "cine_adauga", root, "addUser");
  supplier.Post();

  for (const xml::Node entry : root.child("bankAccountsList").children()) {
    bank.Append();
    fileName(bank, numeFisier);
    copy(bank, "id_furnizor", supplier);
    copy(bank, "operation", supplier);
    attribute(bank, "banca_da_nu_default", entry, "default");
    attribute(bank, "cont_moneda", entry.child("account"), "currency");
    childText(bank, "cont_banca", entry, "account");
    childText(bank, "banca_nume", entry, "bankName");
    childText(bank, "banca_office", entry, "bankOfficeName");
    bank.Post();
  }

  PgStoredProc_o_insert_furnizori_mivo.Execute();
  supplier.Close();
  bank.Close();
}
