// Cashings: one amount received against one client invoice, by payment order, credit card, receipt (and
// minute of refund) or trade exchange. The four kinds read the same document in the same order; each
// stages one main row and one remarks row per coded remark into its own pair of tables, and all four are
// posted by o_mivo_import_incas_pl.
#include "imports/blocks.h"
#include "imports/data_module.h"
#include "imports/rules.h"

using namespace imports;

namespace {

// Which columns of the document's own bank account a kind's main table has.
enum class BankColumns {
  None,            // receipt, trade exchange: the root's bankAccount is not read
  AccountAndBank,  // credit card: cont_banca, nume_banca
  Full,            // payment order: cont_banca, nume_banca, banca_office
};

// What sets one kind apart from the others. The type of invoice_id (bigint for payment orders and card
// cashings, text for receipts and trade exchanges, so that their leading zeros stay) is the main table's
// own: the value rules convert by the column's type.
struct CashingKind {
  staging::StagingScript& script;
  StagingQuery& main;
  StagingQuery& remarks;
  BankColumns bank;
};

// The one document is the root itself: one file, one main row.
void importCashing(TDataModule2& dm, const CashingKind& kind, const std::string& numeFisier) {
  const xml::Node& root = dm.root;
  kind.script.Execute();
  StagingQuery& q = kind.main;
  q.Open();
  kind.remarks.Open();

  q.Append();
  fileName(q, numeFisier);
  attribute(q, "operation", root, "operation");
  attribute(q, "doc_type", root, "type");
  attribute(q, "id", root, "id");
  childText(q, "doc_number", root, "docNumber");
  childText(q, "cashing_series", root, "cashingSeries");
  childText(q, "doc_date", root, "docDate");
  childText(q, "valoare", root, "value");
  readCurrency(root, q);  // moneda, curs
  childText(q, "invoice_cashed_value", root, "invoiceCashedValue");
  if (kind.bank != BankColumns::None)  // cont_banca, nume_banca [, banca_office]
    readBankAccount(root.child("bankAccount"), q, kind.bank == BankColumns::Full);
  childText(q, "explicatie", root, "explanations");
  childText(q, "comentarii", root, "comments");
  const xml::Node remarks = root.child("remarks");
  readRemarksText(remarks, q);  // remarks
  // invoice_id ... invoice_currency from the first invoiceDetails, then its client (partener_, pf_, pj_)
  const xml::Node invoice = readInvoiceDetails(root, q);
  readClient(invoice.child("client"), q, /*withAccountCurrency=*/false);
  readResponsibleUser(root.child("responsibleUser"), q, UserForm::Short);  // emitent_resp_
  readExportConfigs(root.child("exportConfigs"), q);                       // contc, contd, dosar, cost_center
  q.Post();

  writeRemarksRows(remarks, q, kind.remarks, numeFisier);

  dm.PgStoredProc_o_mivo_import_incas_pl.Execute();
  q.Close();
  kind.remarks.Close();
}

}  // namespace

void TDataModule2::CashingPaymentOrder(const std::string& numeFisier) {
  importCashing(
      *this, {PgScript_temp_mivo_import_op_inc, dsmivo_import_op_inc, dsmivo_import_op_inc_remarks, BankColumns::Full},
      numeFisier);
}

void TDataModule2::CashingCreditCard(const std::string& numeFisier) {
  importCashing(*this,
                {PgScript_temp_mivo_import_card_inc, dsmivo_import_card_inc, dsmivo_import_card_inc_remarks,
                 BankColumns::AccountAndBank},
                numeFisier);
}

// Receipts and minutes of refund alike; doc_type keeps which of the two the file is.
void TDataModule2::CashingReceipt(const std::string& numeFisier) {
  importCashing(
      *this, {PgScript_temp_mivo_import_ch_inc, dsmivo_import_ch_inc, dsmivo_import_ch_inc_remarks, BankColumns::None},
      numeFisier);
}

void TDataModule2::CashingTradeExchange(const std::string& numeFisier) {
  importCashing(
      *this, {PgScript_temp_mivo_import_PVComp, dsmivo_import_PVComp, dsmivo_import_PVComp_remarks, BankColumns::None},
      numeFisier);
}
