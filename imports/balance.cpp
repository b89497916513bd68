// Invoice balance: one balance row per invoice that the statement lists, client-service invoices first.
#include "imports/data_module.h"
#include "imports/rules.h"

using namespace imports;

void TDataModule2::Balance(const std::string& numeFisier) {
  PgScript_tab_temp_import_invoice_balances.Execute();
  StagingQuery& q = dsmivo_import_invoice_balances;
  q.Open();

  const auto stageRow = [&](const xml::Node& record, const char* tipDoc) {
    q.Append();
    fileName(q, numeFisier);
    attribute(q, "operation", root, "operation");
    const xml::Node details = root.child("balanceDetails");
    childText(q, "nr_decont", details, "number");
    childText(q, "data_decont", details, "date");
    attribute(q, "id_invoice", record, "idInvoice");
    attribute(q, "id_row", record, "id");
    childText(q, "nr_doc", record, "invoiceNumber");
    constant(q, "tip_doc", tipDoc);
    childText(q, "data_doc", record, "invoiceDate");
    q.Post();
  };

  for (const xml::Node service : root.child("clientServices").children())
    for (const xml::Node invoice : service.child("invoices").children()) stageRow(invoice, "FactCI");
  for (const xml::Node invoice : root.child("supplierInvoices").children()) stageRow(invoice, "FactFI");

  PgStoredProc_o_balance_mivo.Execute();
  q.Close();
}
