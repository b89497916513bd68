// Payment to a supplier: the payment row, then one remarks row per remark item.
#include "imports/blocks.h"
#include "imports/data_module.h"
#include "imports/rules.h"

using namespace imports;

void TDataModule2::Payment(const std::string& numeFisier) {
  PgScript_temp_mivo_import_op_pl.Execute();
  StagingQuery& pl = dsmivo_import_op_pl;
  pl.Open();
  dsmivo_import_op_pl_remarks.Open();

  // Payment row; the root is the payment.
  pl.Append();
  fileName(pl, numeFisier);
  attribute(pl, "operation", root, "operation");
  attribute(pl, "doc_type", root, "docType");
  attribute(pl, "id", root, "id");
  childText(pl, "doc_number", root, "docNumber");
  childText(pl, "cashing_series", root, "cashingSeries");
  childText(pl, "doc_date", root, "docDate");
  childText(pl, "valoare", root, "value");
  readCurrency(root, pl);  // moneda, curs
  childText(pl, "invoice_payed_value", root, "invoicePayedValue");
  readBankAccount(root.child("bankAccount"), pl, true);  // cont_banca, nume_banca, banca_office
  childText(pl, "explicatie", root, "explanations");
  childText(pl, "comentarii", root, "comments");
  const xml::Node remarks = root.child("remarks");
  readRemarksText(remarks, pl);

  // The paid invoice, and its supplier under the supplier master's element and column names.
  const xml::Node details = readInvoiceDetails(root, pl);
  const xml::Node supplier = details.child("supplier");
  attribute(pl, "partener_id", supplier, "id");
  childText(pl, "alias", supplier, "alias");
  attribute(pl, "company_sufix", supplier.child("company"), "suffix");
  attribute(pl, "company_prefix", supplier.child("company"), "prefix");
  childText(pl, "company", supplier, "company");
  childText(pl, "trust", supplier, "trust");
  childText(pl, "adresa", supplier, "address");
  childText(pl, "adresa_corespondenta", supplier, "deliveryAddress");
  childText(pl, "cod_postal", supplier, "zipCode");
  attribute(pl, "tara_cod", supplier.child("country"), "code");
  childText(pl, "tara", supplier, "country");
  attribute(pl, "judet", supplier.child("city"), "district");
  childText(pl, "oras", supplier, "city");
  childText(pl, "cod_fiscal", supplier, "fiscalCode");
  childText(pl, "reg_com", supplier, "regNo");
  childText(pl, "vat", supplier, "vatCertificateNumber");
  childText(pl, "telefon", supplier, "telephone");
  childText(pl, "fax", supplier, "fax");
  childText(pl, "email", supplier, "email");

  readResponsibleUser(root.child("responsibleUser"), pl, UserForm::Short);
  readExportConfigs(root.child("exportConfigs"), pl);  // contc, contd, dosar, cost_center
  pl.Post();

  writeRemarksRows(remarks, pl, dsmivo_import_op_pl_remarks, numeFisier);

  PgStoredProc_o_mivo_import_plati.Execute();
  pl.Close();
  dsmivo_import_op_pl_remarks.Close();
}
