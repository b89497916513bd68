#include "imports/blocks.h"

#include <string>

#include "imports/rules.h"

namespace imports {
namespace {

// One office family: the office's columns under the prefix pj_c_ (central) or pj_s_ (selected).
void readOffice(const xml::Node& office, StagingQuery& q, const std::string& p) {
  attribute(q, p + "tip_office", office, "type");
  childText(q, p + "office_name", office, "name");
  attribute(q, p + "office_cod_tara", office.child("country"), "code");
  childText(q, p + "office_tara", office, "country");
  childText(q, p + "office_oras", office, "city");
  attribute(q, p + "office_judet", office.child("city"), "district");
  childText(q, p + "office_adresa", office, "address");
  childText(q, p + "office_cod_postal", office, "zipCode");
  childText(q, p + "office_banca_nume", office, "bankName");
  childText(q, p + "office_banca_office", office, "bankOfficeName");
  attribute(q, p + "office_cont_moneda", office.child("bankAccount"), "currency");
  childText(q, p + "office_cont_banca", office, "bankAccount");
}

}  // namespace

void readClient(const xml::Node& client, StagingQuery& q, bool withAccountCurrency) {
  attribute(q, "partener_id", client, "id");
  attribute(q, "partener_tip", client, "type");

  // Both families are read on every client; @type selects nothing.
  const xml::Node pf = client.child("individualDetails");
  childText(q, "pf_firstname", pf, "firstName");
  childText(q, "pf_middlename", pf, "middleName");
  childText(q, "pf_lastname", pf, "lastName");
  childText(q, "pf_cnp", pf, "PNC");
  childText(q, "pf_adresa", pf, "address");
  childText(q, "pf_cod_postal", pf, "zipCode");
  attribute(q, "pf_cod_tara", pf.child("country"), "code");
  childText(q, "pf_tara", pf, "country");
  attribute(q, "pf_judet", pf.child("city"), "district");
  childText(q, "pf_oras", pf, "city");
  childText(q, "pf_banca_nume", pf, "bankName");
  childText(q, "pf_banca_office", pf, "bankOfficeName");
  childText(q, "pf_cont_banca", pf, "bankAccount");
  if (withAccountCurrency) attribute(q, "pf_cont_moneda", pf.child("bankAccount"), "currency");

  const xml::Node pj = client.child("corporateDetails");
  childText(q, "pj_tip", pj, "type");
  childText(q, "pj_alias", pj, "alias");
  attribute(q, "pj_company_sufix", pj.child("company"), "suffix");
  attribute(q, "pj_company_prefix", pj.child("company"), "prefix");
  childText(q, "pj_company", pj, "company");
  childText(q, "pj_trust", pj, "trust");
  childText(q, "pj_cod_fiscal", pj, "fiscalCode");
  childText(q, "pj_vat", pj, "vatCertificateNumber");
  childText(q, "pj_reg_com", pj, "regNo");

  // Every child of `offices` is an office. A later office of a type overwrites the columns it supplies;
  // a column it lacks keeps the earlier office's value. Types other than exactly "central" or
  // "selected" are skipped.
  for (const xml::Node office : pj.child("offices").children()) {
    const auto type = office.attribute("type");
    if (type == "central") readOffice(office, q, "pj_c_");
    if (type == "selected") readOffice(office, q, "pj_s_");
  }
}

void readResponsibleUser(const xml::Node& user, StagingQuery& q, UserForm form) {
  const bool full = form == UserForm::Long;
  childText(q, "emitent_resp_firstname", user, "firstName");
  childText(q, "emitent_resp_lastname", user, "lastName");
  if (full) {
    childText(q, "emitent_resp_cnp", user, "PNC");
    childText(q, "emitent_resp_ci_seria", user, "ID_series");
    childText(q, "emitent_resp_ci_numar", user, "ID_number");
    childText(q, "emitent_resp_ci_elib", user, "ID_releaseBy");
    childText(q, "emitent_resp_ci_data_elib", user, "ID_releaseDate");
  }
  childText(q, "emitent_resp_office", user, "office");
  childText(q, "emitent_resp_departament", user, "department");
}

void readExportConfigs(const xml::Node& exportConfigs, StagingQuery& q) {
  childText(q, "contc", exportConfigs, "contc");
  childText(q, "contd", exportConfigs, "contd");
  childText(q, "dosar", exportConfigs, "dosar");
  childText(q, "cost_center", exportConfigs, "costCenter");
}

void readCurrency(const xml::Node& root, StagingQuery& q) {
  childText(q, "moneda", root, "currency");
  attribute(q, "curs", root.child("currency"), "exchangeRate");
}

void readBankAccount(const xml::Node& bankAccount, StagingQuery& q, bool withOffice) {
  childText(q, "cont_banca", bankAccount, "account");
  childText(q, "nume_banca", bankAccount, "bankName");
  if (withOffice) childText(q, "banca_office", bankAccount, "bankOfficeName");
}

xml::Node readInvoiceDetails(const xml::Node& root, StagingQuery& q) {
  const xml::Node details = root.child("invoiceDetails");
  attribute(q, "invoice_id", details, "id");
  childText(q, "invoice_number", details, "invoiceNumber");
  childText(q, "invoice_date", details, "invoiceDate");
  childText(q, "invoice_total_value", details, "invoiceTotalValue");
  childText(q, "invoice_currency", details, "invoiceCurrency");
  return details;
}

void readRemarksText(const xml::Node& remarks, StagingQuery& q) { childText(q, "remarks", remarks, "text"); }

void writeRemarksRows(const xml::Node& remarks, const StagingQuery& mainRow, StagingQuery& remarksQuery,
                      const std::string& numeFisier) {
  for (const xml::Node item : remarks.child("attributes").children()) {
    StagingQuery& r = remarksQuery;
    r.Append();
    fileName(r, numeFisier);
    copy(r, "operation", mainRow);
    copy(r, "doc_type", mainRow);
    copy(r, "id", mainRow);
    copy(r, "remarks", mainRow);
    attribute(r, "item_code", item, "code");
    ownText(r, "item", item);
    r.Post();
  }
}

}  // namespace imports
