// The XML blocks that several document kinds share. Each reader takes the block element and the staging
// row being filled (appended, not yet posted) and sets its fixed family of columns; an absent block
// leaves its whole family NULL.
#pragma once

#include <string>

#include "staging/staging.h"
#include "xml/xml.h"

namespace imports {

using staging::StagingQuery;

// Client block (`client`): partener_id, partener_tip, the individual family (pf_), the corporate family
// (pj_) and the central- and selected-office families (pj_c_, pj_s_). `withAccountCurrency` reads
// pf_cont_moneda, which only the client invoice's table has.
void readClient(const xml::Node& client, StagingQuery& q, bool withAccountCurrency);

// Responsible-user block (`responsibleUser`): the short form has four emitent_resp_ columns, the long
// form nine.
enum class UserForm { Short, Long };
void readResponsibleUser(const xml::Node& user, StagingQuery& q, UserForm form);

// Export-configuration block (`exportConfigs` of the root): contc, contd, dosar, cost_center.
void readExportConfigs(const xml::Node& exportConfigs, StagingQuery& q);

// Currency block, read on the root: moneda from `currency`, curs from its @exchangeRate.
void readCurrency(const xml::Node& root, StagingQuery& q);

// Bank-account block (`bankAccount` of the root): cont_banca, nume_banca and, with `withOffice`,
// banca_office.
void readBankAccount(const xml::Node& bankAccount, StagingQuery& q, bool withOffice);

// Invoice-details block: the root's first `invoiceDetails` (later ones are ignored) gives invoice_id,
// invoice_number, invoice_date, invoice_total_value, invoice_currency. Returns that element, for the
// client or supplier reader.
xml::Node readInvoiceDetails(const xml::Node& root, StagingQuery& q);

// Remarks block (`remarks`): the remark text into the main row's `remarks` column.
void readRemarksText(const xml::Node& remarks, StagingQuery& q);

// Remarks rows: one row of `remarksQuery` per child of remarks/attributes, each copying operation,
// doc_type, id and remarks from the main row just posted. Appends and posts every row.
void writeRemarksRows(const xml::Node& remarks, const StagingQuery& mainRow, StagingQuery& remarksQuery,
                      const std::string& numeFisier);

}  // namespace imports
