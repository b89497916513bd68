#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testing.h"

namespace {

using staging::Policy;
using testing_support::ImportTest;
using testing_support::Row;
using testing_support::Rows;

constexpr auto N = std::nullopt;

const std::string kExampleName = "2014-07-03_11-40-08.12873409871235_payment.xml";

std::string example() { return testing_support::example(kExampleName); }

const char* kPaymentSelect =
    "SELECT nume_fisier, operation, doc_type, id::text, doc_number, cashing_series, doc_date::text, valoare::text, "
    "moneda, curs::text, invoice_payed_value::text, cont_banca, nume_banca, banca_office, explicatie, comentarii, "
    "remarks, invoice_id::text, invoice_number, invoice_date::text, invoice_total_value::text, invoice_currency, "
    "partener_id::text, alias, company_sufix, company_prefix, company, trust, adresa, adresa_corespondenta, "
    "cod_postal, tara_cod, tara, judet, oras, cod_fiscal, reg_com, vat, telefon, fax, email, "
    "emitent_resp_firstname, emitent_resp_lastname, emitent_resp_office, emitent_resp_departament, contc, contd, "
    "dosar, cost_center FROM mivo_import_op_pl";

// The remark rows in the order they were staged (they carry no position of their own).
const char* kRemarksSelect =
    "SELECT nume_fisier, operation, doc_type, id::text, remarks, item_code, item FROM mivo_import_op_pl_remarks "
    "ORDER BY ctid";

class PaymentImport : public ImportTest, public ::testing::WithParamInterface<Policy> {};

TEST_P(PaymentImport, ExampleFileIsStagedColumnByColumnAndPosted) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, kExampleName, example()), std::nullopt);

  const std::string& f = kExampleName;
  EXPECT_EQ(db.query(kPaymentSelect), (Rows{{f,
                                             "insert",
                                             "paymentOrder",
                                             "7720",
                                             "1187",
                                             "OP",
                                             "2014-07-03",
                                             "2625.15",
                                             "EUR",
                                             "4.3862",
                                             "598.5",
                                             "RO49AAAA1B31007593840000",
                                             "Banca Transilvania",
                                             "Sucursala Unirii",
                                             "Plata factura HBV 0004512",
                                             "Plata partiala, diferenta la sosirea grupului",
                                             "Plata aprobata de director",
                                             "48213",
                                             "HBV 0004512",
                                             "2014-06-30",
                                             "648.5",
                                             "EUR",
                                             "3071",
                                             "Hotel Belvedere",
                                             "SRL",
                                             "SC",
                                             "Belvedere Turism",
                                             "Grup Belvedere",
                                             "Str. Mihai Eminescu nr. 14",
                                             "CP 22, Mamaia",
                                             "900178",
                                             "RO",
                                             "Romania",
                                             "Constanta",
                                             "Mamaia",
                                             "14823390",
                                             "J13/1544/2002",
                                             "RO14823390",
                                             "0241 831 114",
                                             "0241 831 115",
                                             "rezervari@belvedere.ro",
                                             "Andrei",
                                             "Georgescu",
                                             "Bucuresti Unirii",
                                             "Financiar",
                                             "401",
                                             "5124",
                                             "ANT-0614",
                                             "CC-TUR"}}));
  const std::string r = "Plata aprobata de director";
  EXPECT_EQ(db.query(kRemarksSelect), (Rows{{f, "insert", "paymentOrder", "7720", r, "APR", "Director economic"},
                                            {f, "insert", "paymentOrder", "7720", r, "URG", N},
                                            {f, "insert", "paymentOrder", "7720", r, N, "Confirmare telefonica"}}));

  // Posted by the server function.
  EXPECT_EQ(db.query("SELECT id_plata::text, numar, serie, data_plata::text, valoare::text, id_factura::text, "
                     "id_furnizor::text, furnizor, emitent, nume_fisier FROM contab_plata"),
            (Rows{{"7720", "1187", "OP", "2014-07-03", "2625.15", "48213", "3071", "Belvedere Turism",
                   "Andrei Georgescu", f}}));
  EXPECT_EQ(db.query("SELECT cod, text FROM contab_plata_mentiune ORDER BY cod NULLS LAST"),
            (Rows{{"APR", "Director economic"}, {"URG", N}, {N, "Confirmare telefonica"}}));
}

TEST_P(PaymentImport, RemarkItemsCopyThePaymentRow) {
  TDataModule2 dm(settings(GetParam()));
  db.countCalls("o_mivo_import_plati");
  // Items of any name; a code that is present but empty is kept as an empty text.
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, "a_payment.xml",
                       "<payment operation='update' docType='op' id='12'><remarks><text>R</text><attributes>"
                       "<item code='A'>x</item><item>y</item><item code='C'/><note code=''>z</note>"
                       "</attributes></remarks></payment>"),
            std::nullopt);
  const std::string a = "a_payment.xml";
  EXPECT_EQ(db.query(kRemarksSelect), (Rows{{a, "update", "op", "12", "R", "A", "x"},
                                            {a, "update", "op", "12", "R", N, "y"},
                                            {a, "update", "op", "12", "R", "C", N},
                                            {a, "update", "op", "12", "R", "", "z"}}));
  // Without a remark text, or without operation and type, the items copy NULL.
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, "b_payment.xml",
                       "<payment id='13'><remarks><attributes><item code='A'>x</item></attributes></remarks>"
                       "</payment>"),
            std::nullopt);
  EXPECT_EQ(db.query(kRemarksSelect), (Rows{{"b_payment.xml", N, N, "13", N, "A", "x"}}));
  EXPECT_EQ(db.count("calls"), 2);
}

TEST_P(PaymentImport, WithoutRemarkItemsOnlyThePaymentIsStagedAndTheFunctionStillRuns) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, kExampleName, example()), std::nullopt);
  db.countCalls("o_mivo_import_plati");
  for (const char* doc : {"<payment id='1'/>", "<payment id='2'><remarks><text>T</text></remarks></payment>",
                          "<payment id='3'><remarks><attributes/></remarks></payment>"}) {
    ASSERT_EQ(importText(dm, &TDataModule2::Payment, "e_payment.xml", doc), std::nullopt) << doc;
    // The earlier file's rows are gone.
    EXPECT_EQ(db.query("SELECT nume_fisier FROM mivo_import_op_pl"), (Rows{{"e_payment.xml"}})) << doc;
    EXPECT_EQ(db.count("mivo_import_op_pl_remarks"), 0) << doc;
  }
  EXPECT_EQ(db.count("calls"), 3);
}

TEST_P(PaymentImport, InvoiceWithoutSupplierLeavesThePartnerNull) {
  TDataModule2 dm(settings(GetParam()));
  std::string doc = example();
  const auto from = doc.find("<supplier id="), to = doc.find("</invoiceDetails>");
  ASSERT_NE(from, std::string::npos);
  doc.erase(from, to - from);
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, kExampleName, doc), std::nullopt);
  EXPECT_EQ(db.query("SELECT invoice_id::text, invoice_number, invoice_date::text, invoice_total_value::text, "
                     "invoice_currency, num_nulls(partener_id, alias, company_sufix, company_prefix, company, trust, "
                     "adresa, adresa_corespondenta, cod_postal, tara_cod, tara, judet, oras, cod_fiscal, reg_com, vat, "
                     "telefon, fax, email)::text FROM mivo_import_op_pl"),
            (Rows{{"48213", "HBV 0004512", "2014-06-30", "648.5", "EUR", "19"}}));
  // The payment is posted without a supplier.
  EXPECT_EQ(db.query("SELECT id_plata::text, id_furnizor, furnizor FROM contab_plata"), (Rows{{"7720", N, N}}));
}

TEST_P(PaymentImport, SeriesCurrencyAndSupplierDetails) {
  struct Case {
    const char* xml;  // children of the root
    Row expected;     // cashing_series, moneda, curs, company_sufix, company_prefix, company, judet, oras
  };
  const Case cases[] = {
      {"<cashingSeries>OP</cashingSeries><currency>RON</currency>", {"OP", "RON", N, N, N, N, N, N}},
      {"<cashingSeries/><currency exchangeRate='4.41'>EUR</currency>", {N, "EUR", "4.41", N, N, N, N, N}},
      {"<cashingSeries></cashingSeries><currency exchangeRate='1'/>", {N, N, "1", N, N, N, N, N}},
      {"<invoiceDetails><supplier><company suffix='SA' prefix=''>Alfa</company><city district='Cluj'>Dej</city>"
       "</supplier></invoiceDetails>",
       {N, N, N, "SA", "", "Alfa", "Cluj", "Dej"}},
      {"<invoiceDetails><supplier><company>Beta</company><city>Iasi</city></supplier></invoiceDetails>",
       {N, N, N, N, N, "Beta", N, "Iasi"}},
  };
  TDataModule2 dm(settings(GetParam()));
  db.countCalls("o_mivo_import_plati");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    ASSERT_EQ(
        importText(dm, &TDataModule2::Payment, "s_payment.xml", std::string("<payment id='1'>") + c.xml + "</payment>"),
        std::nullopt);
    EXPECT_EQ(db.query("SELECT cashing_series, moneda, curs::text, company_sufix, company_prefix, company, judet, "
                       "oras FROM mivo_import_op_pl"),
              Rows{c.expected});
  }
}

TEST_P(PaymentImport, ImportedAgainReplacesThePostingAndDeleteRemovesIt) {
  TDataModule2 dm(settings(GetParam()));
  std::string doc = example();
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, "a_payment.xml", doc), std::nullopt);
  const auto at = doc.find("<value>2625.15</value>");
  ASSERT_NE(at, std::string::npos);
  doc.replace(at, 22, "<value>100</value>");
  const auto items = doc.find("<item code=\"URG\"/>");
  ASSERT_NE(items, std::string::npos);
  doc.erase(items, 18);
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, "b_payment.xml", doc), std::nullopt);
  EXPECT_EQ(db.query("SELECT nume_fisier, valoare::text FROM contab_plata"), (Rows{{"b_payment.xml", "100"}}));
  EXPECT_EQ(db.count("contab_plata_mentiune"), 2);

  ASSERT_EQ(importText(dm, &TDataModule2::Payment, "c_payment.xml", "<payment operation='delete' id='7720'/>"),
            std::nullopt);
  EXPECT_EQ(db.count("contab_plata"), 0);
  EXPECT_EQ(db.count("contab_plata_mentiune"), 0);
}

// Failures while staging: the payment row and the remark rows posted before the failure stay staged,
// and nothing is posted.
TEST_P(PaymentImport, StagingFailuresKeepTheEarlierRowsAndPostNothing) {
  struct Case {
    const char* what;
    const char* doc;
    std::vector<const char*> message;
    long payments;
    long remarks;
  };
  const Case cases[] = {
      {"value that is not a number",
       "<payment id='1'><value>12,5 lei</value></payment>",
       {"12,5 lei", "valoare", "double precision"},
       0,
       0},
      {"bad invoice date",
       "<payment id='1'><invoiceDetails><invoiceDate>2014-02-30</invoiceDate></invoiceDetails></payment>",
       {"2014-02-30", "invoice_date"},
       0,
       0},
      {"remark item holding elements",
       "<payment id='1'><remarks><attributes><item code='A'>x</item><item><b>y</b></item><item>z</item>"
       "</attributes></remarks></payment>",
       {"Element \"item\" does not contain a single text node"},
       1,
       1},
  };
  TDataModule2 dm(settings(GetParam()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto err = importText(dm, &TDataModule2::Payment, "f_payment.xml", c.doc);
    ASSERT_TRUE(err.has_value());
    for (const char* part : c.message) EXPECT_NE(err->find(part), std::string::npos) << part << " in: " << *err;
    EXPECT_EQ(db.count("mivo_import_op_pl"), c.payments);
    EXPECT_EQ(db.count("mivo_import_op_pl_remarks"), c.remarks);
    EXPECT_EQ(db.count("contab_plata"), 0);
  }
  // The connection and the staging tables serve the next file.
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, kExampleName, example()), std::nullopt);
  EXPECT_EQ(db.count("mivo_import_op_pl_remarks"), 3);
  EXPECT_EQ(db.count("contab_plata"), 1);
}

TEST_P(PaymentImport, ServerRefusesAPaymentItCannotPostAndKeepsTheStagedRows) {
  struct Case {
    const char* doc;
    std::optional<std::string> id;  // as staged
    const char* message;
  };
  const Case cases[] = {
      // Staged with NULL ids: the staging tables have no key.
      {"<payment><docNumber>55</docNumber><docDate>2014-07-01</docDate><value>1</value>"
       "<remarks><attributes><item>x</item></attributes></remarks></payment>",
       N, "Plata 55 din fisierul s_payment.xml nu are id (atributul id al elementului payment)"},
      {"<payment id='8'><docNumber>55</docNumber><value>1</value>"
       "<remarks><attributes><item>x</item></attributes></remarks></payment>",
       "8", "Plata 55 (8) din fisierul s_payment.xml nu are data (docDate)"},
      {"<payment id='8'><docDate>2014-07-01</docDate><remarks><attributes><item>x</item></attributes></remarks>"
       "</payment>",
       "8", "nu are valoare (value)"},
  };
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Payment, kExampleName, example()), std::nullopt);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    const auto err = importText(dm, &TDataModule2::Payment, "s_payment.xml", c.doc);
    ASSERT_TRUE(err.has_value());
    EXPECT_NE(err->find(c.message), std::string::npos) << *err;
    EXPECT_NE(err->find("P0001"), std::string::npos) << *err;
    EXPECT_EQ(db.query("SELECT p.nume_fisier, p.id::text, r.id::text FROM mivo_import_op_pl p, "
                       "mivo_import_op_pl_remarks r"),
              (Rows{{"s_payment.xml", c.id, c.id}}));
    // The earlier posting is untouched.
    EXPECT_EQ(db.query("SELECT id_plata::text, nume_fisier FROM contab_plata"), (Rows{{"7720", kExampleName}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Policies, PaymentImport, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return p.param == Policy::Fast ? "Fast" : "Original"; });

// A run over the work folder: both kinds are admitted by their root element and dispatched.
using SupplierInvoicesAndPaymentsRun = ImportTest;

TEST_F(SupplierInvoicesAndPaymentsRun, FilesAreAdmittedImportedOrFailed) {
  const std::string invoice = "2014-07-02_09-15-22.51230498761234_supplierInvoices.xml";
  drop(invoice, testing_support::readFile(testing_support::sourceDir() + "/examples/" + invoice));
  drop(kExampleName, example());
  drop("b_payment.xml", "<cashing type='payment' id='1'/>");
  drop("c_supplierInvoices.xml",
       "<supplierInvoice id='3'><invoiceRows><row id='1'/><row id='1'/></invoiceRows></supplierInvoice>");
  TDataModule2 dm(settings());
  dm.DataModuleCreate();
  EXPECT_EQ(dm.totals.imported, 2u);
  EXPECT_EQ(dm.totals.notAdmitted, 1u);
  EXPECT_EQ(dm.totals.failed, 1u);
  EXPECT_EQ(testing_support::listFolder(processed()),
            (std::vector<std::string>{invoice, kExampleName, "b_payment.xml"}));
  EXPECT_EQ(testing_support::listFolder(failed()), (std::vector<std::string>{"c_supplierInvoices.xml"}));
  const auto log = db.query("SELECT nume_fisier, log_err FROM mivo_import_log_err");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], "c_supplierInvoices.xml");
  EXPECT_NE(log[0][1].value_or("").find("dsmivo_import_ff_poz, randul 2"), std::string::npos) << *log[0][1];
  EXPECT_EQ(db.query("SELECT id_factura::text FROM contab_factfi"), (Rows{{"48213"}}));
  EXPECT_EQ(db.query("SELECT id_plata::text FROM contab_plata"), (Rows{{"7720"}}));
}

}  // namespace
