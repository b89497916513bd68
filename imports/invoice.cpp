// Client invoice: one header row (invoice data, client, issuing user), then one row per invoice row, each
// tied to the header by the columns it copies from the posted header row.
#include "imports/blocks.h"
#include "imports/data_module.h"
#include "imports/rules.h"

using namespace imports;

void TDataModule2::Invoice(const std::string& numeFisier) {
  PgScript_temp_mivo_import_fc.Execute();
  StagingQuery& fc = dsmivo_import_fc;
  StagingQuery& poz = dsmivo_import_fc_poz;
  fc.Open();
  poz.Open();

  // Header row.
  fc.Append();
  fileName(fc, numeFisier);
  attribute(fc, "id", root, "id");
  attribute(fc, "doc_type", root, "docType");
  attribute(fc, "operation", root, "operation");
  childText(fc, "invoice_number", root, "invoiceNumber");
  childText(fc, "invoice_series", root, "invoiceSeries");
  childText(fc, "invoice_date", root, "invoiceDate");
  readCurrency(root, fc);  // moneda, curs
  childText(fc, "data_scadenta", root, "dueDate");
  childText(fc, "comentarii", root, "invoiceComments");
  readClient(root.child("client"), fc, /*withAccountCurrency=*/true);
  readResponsibleUser(root.child("responsibleUser"), fc, UserForm::Long);
  fc.Post();

  // Invoice rows: every child of invoiceRows, by position, whatever its name.
  const xml::Node rows = root.child("invoiceRows");
  const std::size_t n = rows.childCount();
  for (std::size_t i = 0; i < n; ++i) {
    const xml::Node row = rows.childAt(i);
    poz.Append();
    fileName(poz, numeFisier);
    copy(poz, "operation", fc);
    copy(poz, "invoice_number", fc);
    copy(poz, "invoice_series", fc);
    copy(poz, "invoice_date", fc);
    poz.copy("dp_id", fc, "id");
    attribute(poz, "dp_id_scv", row, "id");
    poz.setPosition("dp_scv", static_cast<std::int64_t>(i + 1));

    childText(poz, "dp_tip", row, "type");
    attribute(poz, "dp_location_code", row.child("location"), "code");
    attribute(poz, "dp_calculation_type_code", row.child("calculationType"), "code");
    childText(poz, "dp_calculation_type", row, "calculationType");

    const xml::Node service = row.child("service");
    attribute(poz, "dp_service_code", service, "code");
    attribute(poz, "dp_service_name", service, "name");
    // Only the first ticket is read.
    attribute(poz, "dp_ticket_number", service.child("ticketsList").child("ticket"), "number");
    childText(poz, "dp_offer_ext_id", service, "extSysResId");
    const xml::Node offer = service.child("offerComponents");
    attribute(poz, "dp_offer_moneda", offer, "currency");
    childText(poz, "dp_offer_commissionable", offer, "commissionable");
    childText(poz, "dp_offer_supplier_value", offer, "supplierValue");
    childText(poz, "dp_offer_supplier_vat", offer, "supplierVat");
    childText(poz, "dp_offer_commission_value", offer, "commissionValue");
    childText(poz, "dp_offer_commission_vat", offer, "commissionVat");
    childText(poz, "dp_offer_discount_value", offer, "discountValue");
    childText(poz, "dp_offer_discount_vat", offer, "discountVat");
    childText(poz, "dp_offer_service_fee_value", offer, "serviceFeeValue");
    childText(poz, "dp_offer_service_fee_vat", offer, "serviceFeeVat");
    childText(poz, "dp_offer_tax_value", offer, "taxValue");
    childText(poz, "dp_offer_tax_vat", offer, "taxVat");
    childText(poz, "dp_offer_penalty_value", offer, "penaltyValue");
    childText(poz, "dp_offer_penalty_vat", offer, "penaltyVat");

    const xml::Node reservation = row.child("reservation");
    attribute(poz, "dp_reservation_number", reservation, "number");
    childText(poz, "dp_reservation_start_date", reservation, "startDate");
    childText(poz, "dp_reservation_end_date", reservation, "endDate");
    const xml::Node miceProject = reservation.child("miceProject");
    attribute(poz, "dp_reservation_miceproject_id", miceProject, "id");
    childText(poz, "dp_reservation_miceproject_name", miceProject, "name");
    childText(poz, "dp_reservation_miceproject_code", miceProject, "code");
    // The reservation's own user, not the invoice's responsibleUser.
    const xml::Node user = reservation.child("responsibleUser");
    childText(poz, "dp_reservation_user_lastname", user, "lastName");
    childText(poz, "dp_reservation_user_firstname", user, "firstName");
    childText(poz, "dp_reservation_user_office", user, "office");
    childText(poz, "dp_reservation_user_departament", user, "department");

    childText(poz, "dp_description", row, "description");
    childText(poz, "dp_measureUnit", row, "measureUnit");
    childText(poz, "dp_quantity", row, "quantity");  // a text column: kept as written
    childText(poz, "dp_unitPrice", row, "unitPrice");
    childText(poz, "dp_value", row, "value");
    childText(poz, "dp_vat", row, "vat");
    childText(poz, "dp_vatPercent", row, "vatPercent");
    childText(poz, "dp_vatQuota", row, "vatQuota");

    const xml::Node supplier = row.child("supplier");
    childText(poz, "dp_company", supplier, "company");
    childText(poz, "dp_company_cui", supplier, "fiscalCode");
    childText(poz, "dp_departament", supplier, "Departament");

    const xml::Node exportConfigs = row.child("exportConfigs");
    childText(poz, "dp_cont_debit", exportConfigs, "Cont_debit");
    childText(poz, "dp_cont_credit", exportConfigs, "Cont_credit");
    childText(poz, "dp_cont_tva", exportConfigs, "Cont_TVA");
    poz.Post();
  }

  PgStoredProc_o_insert_factci_mivo.Execute();
  fc.Close();
  poz.Close();
}
