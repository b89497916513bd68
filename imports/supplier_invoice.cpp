// Supplier invoice: the invoice header, then one line row per child of invoiceRows.
#include "imports/blocks.h"
#include "imports/data_module.h"
#include "imports/rules.h"

using namespace imports;

void TDataModule2::SupplierInvoice(const std::string& numeFisier) {
  PgScript_temp_mivo_import_ff.Execute();
  StagingQuery& ff = dsmivo_import_ff;
  StagingQuery& poz = dsmivo_import_ff_poz;
  ff.Open();
  poz.Open();

  // Header row; the root is the invoice.
  ff.Append();
  fileName(ff, numeFisier);
  attribute(ff, "operation", root, "operation");
  attribute(ff, "doc_type", root, "docType");
  attribute(ff, "id", root, "id");
  childText(ff, "invoice_number", root, "invoiceNumber");
  childText(ff, "invoice_series", root, "invoiceSeries");
  childText(ff, "invoice_date", root, "invoiceDate");
  readCurrency(root, ff);  // moneda, curs
  childText(ff, "data_scadenta", root, "dueDate");
  childText(ff, "comentarii", root, "invoiceComments");
  readRemarksText(root.child("remarks"), ff);  // the remark items are not staged for supplier invoices

  const xml::Node supplier = root.child("supplier");
  attribute(ff, "furnizor_id", supplier, "id");
  childText(ff, "furnizor_alias", supplier, "alias");
  attribute(ff, "f_company_sufix", supplier.child("company"), "suffix");
  attribute(ff, "f_company_prefix", supplier.child("company"), "prefix");
  childText(ff, "f_company", supplier, "company");
  childText(ff, "f_adresa", supplier, "address");
  childText(ff, "f_cod_postal", supplier, "zipCode");
  attribute(ff, "f_cod_tara", supplier.child("country"), "code");
  childText(ff, "f_tara", supplier, "country");
  childText(ff, "f_localitate", supplier, "city");
  attribute(ff, "f_judet", supplier.child("city"), "district");
  childText(ff, "f_cui", supplier, "fiscalCode");
  childText(ff, "f_reg_com", supplier, "regNo");

  readResponsibleUser(root.child("responsibleUser"), ff, UserForm::Long);
  // invoice_number_zek and invoice_date_zek are not filled by the import.
  ff.Post();

  // Line rows: every child of invoiceRows, whatever its name, numbered from 1 in document order.
  std::int64_t position = 0;
  for (const xml::Node row : root.child("invoiceRows").children()) {
    poz.Append();
    fileName(poz, numeFisier);
    copy(poz, "operation", ff);
    copy(poz, "invoice_number", ff);
    copy(poz, "invoice_series", ff);
    copy(poz, "invoice_date", ff);
    poz.copy("dp_id", ff, "id");
    attribute(poz, "dp_id_scv", row, "id");
    poz.setPosition("dp_scv", ++position);
    attribute(poz, "dp_service_name", row.child("service"), "name");
    childText(poz, "dp_measureUnit", row, "measureUnit");
    childText(poz, "dp_quantity", row, "quantity");
    childText(poz, "dp_unitPrice", row, "unitPrice");
    childText(poz, "dp_value", row, "value");
    childText(poz, "dp_vat", row, "vat");
    childText(poz, "dp_vatPercent", row, "vatPercent");
    childText(poz, "dp_vatQuota", row, "vatQuota");
    childText(poz, "dp_description", row, "description");
    attribute(poz, "dp_cod_tara", row.child("country"), "code");
    attribute(poz, "dp_tara_loc", row.child("country"), "location");
    childText(poz, "dp_tara", row, "country");
    childText(poz, "dp_localitate", row, "city");
    const xml::Node passenger = row.child("passenger");
    childText(poz, "dp_passenger_lastname", passenger, "lastName");
    childText(poz, "dp_passenger_firstname", passenger, "firstName");
    childText(poz, "dp_check_in", row, "checkIn");  // kept as the upstream wrote it
    childText(poz, "dp_reservation_number", row, "reservationNumber");
    childText(poz, "dp_offer_ext_id", row, "extResId");
    childText(poz, "dp_supplier_product", row, "supplierProduct");
    childText(poz, "dp_ticket_no", row, "ticketNo");
    const xml::Node accounts = row.child("exportConfigs");  // the line's own accounts, not the root's block
    childText(poz, "dp_cont1", accounts, "cont1");
    childText(poz, "dp_cont2", accounts, "cont2");
    childText(poz, "dp_cont3", accounts, "cont3");
    childText(poz, "dp_cont11", accounts, "cont11");
    childText(poz, "dp_cont21", accounts, "cont21");
    childText(poz, "dp_cont31", accounts, "cont31");
    childText(poz, "dp_tip_tva", accounts, "tipTVA");
    poz.Post();
  }

  PgStoredProc_o_insert_factfi_mivo.Execute();
  ff.Close();
  poz.Close();
}
