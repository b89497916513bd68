#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "support/testing.h"

namespace {

using staging::Policy;
using testing_support::ImportTest;
using testing_support::Row;
using testing_support::Rows;

// The four cashing kinds, the minute of refund counted apart.
struct Kind {
  const char* label;
  TDataModule2::ImportMethod method;
  const char* type;                   // the root's @type
  const char* table;                  // main staging table; its remarks table adds "_remarks"
  const char* file;                   // a file name of the kind
  std::vector<std::string> noColumn;  // columns of the payment-order table that this table lacks
  bool textInvoiceId;
  const char* modalitate;  // how the posting records the kind
  const char* example;     // sample in examples/
};

const Kind kKinds[] = {
    {"PaymentOrder",
     &TDataModule2::CashingPaymentOrder,
     "cashing_paymentOrder",
     "mivo_import_op_inc",
     "a_cashing_paymentOrder.xml",
     {},
     false,
     "OP",
     "2014-06-30_13-52-45.74308705329895_cashing_paymentOrder.xml"},
    {"CreditCard",
     &TDataModule2::CashingCreditCard,
     "cashing_creditCard",
     "mivo_import_card_inc",
     "a_cashing_creditCard.xml",
     {"banca_office"},
     false,
     "CARD",
     "2014-06-30_14-05-12.11873520940527_cashing_creditCard.xml"},
    {"Receipt",
     &TDataModule2::CashingReceipt,
     "cashing_receipt",
     "mivo_import_ch_inc",
     "a_cashing_receipt.xml",
     {"cont_banca", "nume_banca", "banca_office"},
     true,
     "CHITANTA",
     "2014-06-30_15-20-33.50218834112909_cashing_receipt.xml"},
    {"MinuteOfRefund",
     &TDataModule2::CashingReceipt,
     "cashing_minuteOfRefund",
     "mivo_import_ch_inc",
     "a_cashing_minuteOfRefund.xml",
     {"cont_banca", "nume_banca", "banca_office"},
     true,
     "CHITANTA",
     "2014-06-30_16-41-07.93310263457821_cashing_minuteOfRefund.xml"},
    {"TradeExchange",
     &TDataModule2::CashingTradeExchange,
     "cashing_tradeExchange",
     "mivo_import_pvcomp",
     "a_cashing_tradeExchange.xml",
     {"cont_banca", "nume_banca", "banca_office"},
     true,
     "COMPENSARE",
     "2014-06-30_17-02-58.27746190388214_cashing_tradeExchange.xml"},
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.label; }

// A full cashing of the given type: every block, a bank account with its office name, a responsible user
// with more than the short form, an invoice id with leading zeros, a second invoiceDetails, a client with
// both an individual and a corporate part, and three coded remarks.
std::string fullDocument(const std::string& type) {
  return fmt::format(R"(<?xml version="1.0" encoding="UTF-8"?>
<cashing operation="insert" type="{}" id="90211">
  <docNumber>OP-4512</docNumber>
  <cashingSeries>BTR</cashingSeries>
  <docDate>2014-06-30T00:00:00</docDate>
  <value>2450.50</value>
  <currency exchangeRate="4.3881">EUR</currency>
  <invoiceCashedValue>2000.00</invoiceCashedValue>
  <bankAccount><account>RO49BTRL01301202N12345XX</account><bankName>Banca Transilvania</bankName>
    <bankOfficeName>Sucursala Cluj</bankOfficeName></bankAccount>
  <explanations>Contravaloare servicii turistice</explanations>
  <comments>Plata partiala</comments>
  <remarks>
    <text>Verificat la extras</text>
    <attributes><item code="SRC">extras bancar</item><item code="VER"/><item>fara cod</item></attributes>
  </remarks>
  <invoiceDetails id="00042">
    <invoiceNumber>MV-4417</invoiceNumber>
    <invoiceDate>12.06.2014</invoiceDate>
    <invoiceTotalValue>3100.75</invoiceTotalValue>
    <invoiceCurrency>RON</invoiceCurrency>
    <client id="3307" type="corporate">
      <individualDetails>
        <firstName>Ion</firstName><middleName/><lastName>Ionescu</lastName><PNC>1800101123456</PNC>
        <address>Str. Lunga 5</address><zipCode>400001</zipCode><country code="RO">Romania</country>
        <city district="Cluj">Cluj-Napoca</city><bankName>BCR</bankName><bankOfficeName>Agentia Gheorgheni</bankOfficeName>
        <bankAccount currency="RON">RO12RNCB0000000000000001</bankAccount>
      </individualDetails>
      <corporateDetails>
        <type>SRL</type><alias>Alfa</alias><company prefix="SC" suffix="SRL">Alfa Turism</company>
        <trust>Grup Alfa</trust><fiscalCode>RO1234567</fiscalCode><vatCertificateNumber>RO1234567</vatCertificateNumber>
        <regNo>J12/345/2001</regNo>
        <offices>
          <office type="selected"><name>Punct de lucru Brasov</name><country code="RO">Romania</country>
            <city district="Brasov">Brasov</city><address>Str. Republicii 10</address><zipCode>500030</zipCode>
            <bankName>BRD</bankName><bankOfficeName>BRD Brasov</bankOfficeName>
            <bankAccount currency="EUR">RO77BRDE0000000000000002</bankAccount></office>
          <office type="central"><name>Sediu central</name><country code="RO">Romania</country>
            <city district="Cluj">Cluj-Napoca</city><address>Bd. Eroilor 1</address><zipCode>400129</zipCode>
            <bankName>ING</bankName><bankOfficeName>ING Cluj</bankOfficeName>
            <bankAccount currency="RON">RO66INGB0000999900000001</bankAccount></office>
        </offices>
      </corporateDetails>
    </client>
  </invoiceDetails>
  <invoiceDetails id="999">
    <invoiceNumber>MV-9999</invoiceNumber><invoiceTotalValue>1</invoiceTotalValue>
    <client id="1" type="individual"><individualDetails><firstName>Altul</firstName></individualDetails></client>
  </invoiceDetails>
  <responsibleUser>
    <firstName>Ana</firstName><lastName>Popescu</lastName><PNC>2800101123456</PNC><ID_series>CJ</ID_series>
    <office>Bucuresti Centru</office><department>Contabilitate</department>
  </responsibleUser>
  <exportConfigs><contc>5121</contc><contd>4111</contd><dosar>D-2014-118</dosar><costCenter>CC01</costCenter></exportConfigs>
</cashing>)",
                     type);
}

struct Column {
  const char* name;
  const char* type;
  std::optional<std::string> value;  // staged from fullDocument
};

// The payment-order table, column by column, with what fullDocument stages there.
std::vector<Column> paymentOrderColumns(const std::string& file, const std::string& type) {
  const auto n = std::nullopt;
  return {
      {"nume_fisier", "text", file},
      {"operation", "text", "insert"},
      {"doc_type", "text", type},
      {"id", "bigint", "90211"},
      {"doc_number", "text", "OP-4512"},
      {"cashing_series", "text", "BTR"},
      {"doc_date", "date", "2014-06-30"},
      {"valoare", "double precision", "2450.5"},
      {"moneda", "text", "EUR"},
      {"curs", "double precision", "4.3881"},
      {"invoice_cashed_value", "double precision", "2000"},
      {"cont_banca", "text", "RO49BTRL01301202N12345XX"},
      {"nume_banca", "text", "Banca Transilvania"},
      {"banca_office", "text", "Sucursala Cluj"},
      {"explicatie", "text", "Contravaloare servicii turistice"},
      {"comentarii", "text", "Plata partiala"},
      {"remarks", "text", "Verificat la extras"},
      {"invoice_id", "bigint", "42"},
      {"invoice_number", "text", "MV-4417"},
      {"invoice_date", "date", "2014-06-12"},
      {"invoice_total_value", "double precision", "3100.75"},
      {"invoice_currency", "text", "RON"},
      {"partener_id", "bigint", "3307"},
      {"partener_tip", "text", "corporate"},
      {"pf_firstname", "text", "Ion"},
      {"pf_middlename", "text", n},
      {"pf_lastname", "text", "Ionescu"},
      {"pf_cnp", "text", "1800101123456"},
      {"pf_adresa", "text", "Str. Lunga 5"},
      {"pf_cod_postal", "text", "400001"},
      {"pf_cod_tara", "text", "RO"},
      {"pf_tara", "text", "Romania"},
      {"pf_judet", "text", "Cluj"},
      {"pf_oras", "text", "Cluj-Napoca"},
      {"pf_banca_nume", "text", "BCR"},
      {"pf_banca_office", "text", "Agentia Gheorgheni"},
      {"pf_cont_banca", "text", "RO12RNCB0000000000000001"},
      {"pj_tip", "text", "SRL"},
      {"pj_alias", "text", "Alfa"},
      {"pj_company_sufix", "text", "SRL"},
      {"pj_company_prefix", "text", "SC"},
      {"pj_company", "text", "Alfa Turism"},
      {"pj_trust", "text", "Grup Alfa"},
      {"pj_cod_fiscal", "text", "RO1234567"},
      {"pj_vat", "text", "RO1234567"},
      {"pj_reg_com", "text", "J12/345/2001"},
      {"pj_c_tip_office", "text", "central"},
      {"pj_c_office_name", "text", "Sediu central"},
      {"pj_c_office_cod_tara", "text", "RO"},
      {"pj_c_office_tara", "text", "Romania"},
      {"pj_c_office_oras", "text", "Cluj-Napoca"},
      {"pj_c_office_judet", "text", "Cluj"},
      {"pj_c_office_adresa", "text", "Bd. Eroilor 1"},
      {"pj_c_office_cod_postal", "text", "400129"},
      {"pj_c_office_banca_nume", "text", "ING"},
      {"pj_c_office_banca_office", "text", "ING Cluj"},
      {"pj_c_office_cont_moneda", "text", "RON"},
      {"pj_c_office_cont_banca", "text", "RO66INGB0000999900000001"},
      {"pj_s_tip_office", "text", "selected"},
      {"pj_s_office_name", "text", "Punct de lucru Brasov"},
      {"pj_s_office_cod_tara", "text", "RO"},
      {"pj_s_office_tara", "text", "Romania"},
      {"pj_s_office_oras", "text", "Brasov"},
      {"pj_s_office_judet", "text", "Brasov"},
      {"pj_s_office_adresa", "text", "Str. Republicii 10"},
      {"pj_s_office_cod_postal", "text", "500030"},
      {"pj_s_office_banca_nume", "text", "BRD"},
      {"pj_s_office_banca_office", "text", "BRD Brasov"},
      {"pj_s_office_cont_moneda", "text", "EUR"},
      {"pj_s_office_cont_banca", "text", "RO77BRDE0000000000000002"},
      {"emitent_resp_firstname", "text", "Ana"},
      {"emitent_resp_lastname", "text", "Popescu"},
      {"emitent_resp_office", "text", "Bucuresti Centru"},
      {"emitent_resp_departament", "text", "Contabilitate"},
      {"contc", "text", "5121"},
      {"contd", "text", "4111"},
      {"dosar", "text", "D-2014-118"},
      {"cost_center", "text", "CC01"},
  };
}

// The same for a kind's own table: its columns only, and invoice_id as text where the table says so.
std::vector<Column> expectedColumns(const Kind& k) {
  std::vector<Column> cols;
  for (Column c : paymentOrderColumns(k.file, k.type)) {
    if (std::find(k.noColumn.begin(), k.noColumn.end(), c.name) != k.noColumn.end()) continue;
    if (k.textInvoiceId && std::string(c.name) == "invoice_id") c = {"invoice_id", "text", "00042"};
    cols.push_back(c);
  }
  return cols;
}

// A small cashing: what the posting needs, and `body` inside the root.
std::string smallDocument(const std::string& type, const std::string& id, const std::string& body = "",
                          const std::string& operation = "insert") {
  return fmt::format(
      "<cashing operation='{}' type='{}' id='{}'><docDate>2014-07-01</docDate><value>100</value>{}</cashing>",
      operation, type, id, body);
}

std::string remarksTable(const Kind& k) { return std::string(k.table) + "_remarks"; }

// Every column of every row of a staging table, by name.
std::map<std::string, std::optional<std::string>> onlyRow(testing_support::TestDb& db, const std::string& table) {
  std::map<std::string, std::optional<std::string>> row;
  for (const Row& r : db.query(fmt::format("SELECT key, value FROM {} t, jsonb_each_text(to_jsonb(t))", table)))
    row[*r[0]] = r[1];
  return row;
}

Rows remarksRows(testing_support::TestDb& db, const Kind& k) {
  return db.query(
      fmt::format("SELECT nume_fisier, operation, doc_type, id::text, remarks, item_code, item FROM {} "
                  "ORDER BY ctid",
                  remarksTable(k)));
}

std::string kindName(const Kind& k) { return k.label; }
std::string policyName(Policy p) { return p == Policy::Fast ? "Fast" : "Original"; }

// ---- Each kind on its own ----

class CashingKind : public ImportTest, public ::testing::WithParamInterface<Kind> {};

TEST_P(CashingKind, StagesTheDocumentColumnByColumnWithItsRemarksAndPostsIt) {
  const Kind& k = GetParam();
  TDataModule2 dm(settings());
  ASSERT_EQ(importText(dm, k.method, k.file, fullDocument(k.type)), std::nullopt);

  // The table as declared: names, types and order.
  const std::vector<Column> expected = expectedColumns(k);
  Rows layout;
  for (const Column& c : expected) layout.push_back({c.name, c.type});
  const auto layoutOf = [&](const std::string& table) {
    return db.query(
        "SELECT column_name::text, data_type::text FROM information_schema.columns "
        "WHERE table_schema = current_schema() AND table_name = $1 ORDER BY ordinal_position",
        {table});
  };
  EXPECT_EQ(layoutOf(k.table), layout);
  EXPECT_EQ(layoutOf(remarksTable(k)), (Rows{{"nume_fisier", "text"},
                                             {"operation", "text"},
                                             {"doc_type", "text"},
                                             {"id", "bigint"},
                                             {"remarks", "text"},
                                             {"item_code", "text"},
                                             {"item", "text"}}));

  // One main row, every column as read.
  ASSERT_EQ(db.count(k.table), 1);
  const auto row = onlyRow(db, k.table);
  for (const Column& c : expected) {
    const auto it = row.find(c.name);
    ASSERT_NE(it, row.end()) << c.name;
    EXPECT_EQ(it->second, c.value) << c.name;
  }

  // One remarks row per item, each repeating the posted main row's key columns and remark text.
  const std::string f = k.file;
  const auto n = std::nullopt;
  EXPECT_EQ(remarksRows(db, k), (Rows{{f, "insert", k.type, "90211", "Verificat la extras", "SRC", "extras bancar"},
                                      {f, "insert", k.type, "90211", "Verificat la extras", "VER", n},
                                      {f, "insert", k.type, "90211", "Verificat la extras", n, "fara cod"}}));

  // Posted once, under the kind's own type.
  const bool bank = k.noColumn.empty();
  EXPECT_EQ(db.query("SELECT modalitate, tip_doc, id::text, valoare::text, invoice_id, partener_nume, "
                     "partener_cod_fiscal, banca_office, nume_fisier FROM contab_incasare"),
            (Rows{{k.modalitate, k.type, "90211", "2450.5", k.textInvoiceId ? "00042" : "42", "Alfa Turism",
                   "RO1234567", bank ? std::optional<std::string>("Sucursala Cluj") : n, f}}));
  EXPECT_EQ(db.scalar("SELECT string_agg(coalesce(item_code, '-') || '=' || coalesce(item, '-'), ',' ORDER BY nr) "
                      "FROM contab_incasare_remarks"),
            "SRC=extras bancar,VER=-,-=fara cod");
}

TEST_P(CashingKind, ADocumentWithOnlyItsKeyStagesNullsAndIsStillPosted) {
  const Kind& k = GetParam();
  TDataModule2 dm(settings());
  ASSERT_EQ(importText(dm, k.method, k.file,
                       fmt::format("<cashing type='{}' id='7'><docDate>2014-07-01</docDate><value>12.5</value>"
                                   "<remarks><text></text></remarks><invoiceDetails/></cashing>",
                                   k.type)),
            std::nullopt);
  auto row = onlyRow(db, k.table);
  std::map<std::string, std::optional<std::string>> set;
  for (const auto& [column, value] : row)
    if (value) set[column] = value;
  EXPECT_EQ(set, (std::map<std::string, std::optional<std::string>>{{"nume_fisier", k.file},
                                                                    {"doc_type", k.type},
                                                                    {"id", "7"},
                                                                    {"doc_date", "2014-07-01"},
                                                                    {"valoare", "12.5"}}));
  EXPECT_EQ(db.count(remarksTable(k)), 0);
  EXPECT_EQ(db.query("SELECT id::text, invoice_id, partener_id FROM contab_incasare"),
            (Rows{{"7", std::nullopt, std::nullopt}}));
}

TEST_P(CashingKind, AnEmptyInvoiceIdIsKeptAsTextAndFailsANumber) {
  const Kind& k = GetParam();
  TDataModule2 dm(settings());
  const auto err = importText(dm, k.method, k.file, smallDocument(k.type, "8", "<invoiceDetails id=''/>"));
  if (k.textInvoiceId) {
    ASSERT_EQ(err, std::nullopt);
    EXPECT_EQ(db.scalar(fmt::format("SELECT invoice_id FROM {}", k.table)), "");
  } else {
    ASSERT_TRUE(err.has_value());
    EXPECT_NE(err->find("invoice_id"), std::string::npos) << *err;
    EXPECT_NE(err->find("bigint"), std::string::npos) << *err;
    EXPECT_EQ(db.count(k.table), 0);
    EXPECT_EQ(db.count("contab_incasare"), 0);
  }
}

TEST_P(CashingKind, TheSampleFileImportsAndPosts) {
  const Kind& k = GetParam();
  TDataModule2 dm(settings());
  const std::string text = testing_support::readFile(testing_support::sourceDir() + "/examples/" + k.example);
  ASSERT_FALSE(text.empty()) << k.example;
  ASSERT_EQ(importText(dm, k.method, k.example, text), std::nullopt);
  EXPECT_EQ(db.query("SELECT tip_doc, modalitate, nume_fisier FROM contab_incasare"),
            (Rows{{k.type, k.modalitate, k.example}}));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM contab_incasare_remarks"),
            db.scalar(fmt::format("SELECT count(*) FROM {}", remarksTable(k))));
}

INSTANTIATE_TEST_SUITE_P(Kinds, CashingKind, ::testing::ValuesIn(kKinds),
                         [](const auto& p) { return kindName(p.param); });

// ---- Each kind under both staging policies ----

class CashingKindPolicy : public ImportTest, public ::testing::WithParamInterface<std::tuple<Kind, Policy>> {};

TEST_P(CashingKindPolicy, ANewFileReplacesTheStagedRowsAndAnUpdateKeepsOnePosting) {
  const auto& [k, policy] = GetParam();
  TDataModule2 dm(settings(policy));
  ASSERT_EQ(importText(dm, k.method, "1.xml", fullDocument(k.type)), std::nullopt);
  // Remarks without a text: the items copy its NULL.
  ASSERT_EQ(
      importText(dm, k.method, "2.xml",
                 smallDocument(k.type, "2", "<remarks><attributes><item code='X'>y</item></attributes></remarks>")),
      std::nullopt);
  EXPECT_EQ(db.query(fmt::format("SELECT nume_fisier, id::text FROM {}", k.table)), (Rows{{"2.xml", "2"}}));
  EXPECT_EQ(remarksRows(db, k), (Rows{{"2.xml", "insert", k.type, "2", std::nullopt, "X", "y"}}));
  EXPECT_EQ(db.query("SELECT id::text, nume_fisier FROM contab_incasare ORDER BY id"),
            (Rows{{"2", "2.xml"}, {"90211", "1.xml"}}));

  // The first document again, changed: its posting is updated, not doubled, and its remarks replaced.
  ASSERT_EQ(importText(dm, k.method, "3.xml", smallDocument(k.type, "90211")), std::nullopt);
  EXPECT_EQ(db.query("SELECT id::text, nume_fisier, valoare::text FROM contab_incasare ORDER BY id"),
            (Rows{{"2", "2.xml", "100"}, {"90211", "3.xml", "100"}}));
  EXPECT_EQ(db.query("SELECT id::text, item_code FROM contab_incasare_remarks ORDER BY id"), (Rows{{"2", "X"}}));
  EXPECT_EQ(db.count(remarksTable(k)), 0);

  // Operation "delete" removes the posting with its remarks.
  ASSERT_EQ(importText(dm, k.method, "4.xml", smallDocument(k.type, "2", "", "delete")), std::nullopt);
  EXPECT_EQ(db.query("SELECT id::text FROM contab_incasare"), (Rows{{"90211"}}));
  EXPECT_EQ(db.count("contab_incasare_remarks"), 0);
}

INSTANTIATE_TEST_SUITE_P(Policies, CashingKindPolicy,
                         ::testing::Combine(::testing::ValuesIn(kKinds),
                                            ::testing::Values(Policy::Fast, Policy::Original)),
                         [](const auto& p) {
                           return kindName(std::get<0>(p.param)) + policyName(std::get<1>(p.param));
                         });

// ---- The kinds together: one server function for all four ----

const Kind& kind(const char* label) {
  for (const Kind& k : kKinds)
    if (std::string(k.label) == label) return k;
  throw std::logic_error(label);
}

class CashingsTogether : public ImportTest, public ::testing::WithParamInterface<Policy> {};

TEST_P(CashingsTogether, EachFilePostsOnlyItsOwnKindAndNeverAFailedFile) {
  TDataModule2 dm(settings(GetParam()));
  const Kind& receipt = kind("Receipt");
  const Kind& card = kind("CreditCard");
  const Kind& order = kind("PaymentOrder");
  const Kind& exchange = kind("TradeExchange");

  ASSERT_EQ(importText(dm, receipt.method, "r.xml", smallDocument(receipt.type, "10")), std::nullopt);
  // The accounting side changes the posting; later cashings of other kinds must leave it alone.
  db.exec("UPDATE contab_incasare SET valoare = 1 WHERE id = 10");
  ASSERT_EQ(importText(dm, card.method, "c.xml", smallDocument(card.type, "20")), std::nullopt);

  // A payment order that fails at its second remark: its main row and first remark stay staged, and the
  // server function does not run.
  const auto err = importText(dm, order.method, "o.xml",
                              smallDocument(order.type, "30",
                                            "<remarks><attributes><item code='A'>a</item><item><b/></item>"
                                            "<item code='C'>c</item></attributes></remarks>"));
  ASSERT_TRUE(err.has_value());
  EXPECT_NE(err->find("does not contain a single text node"), std::string::npos) << *err;
  EXPECT_EQ(db.count(order.table), 1);
  EXPECT_EQ(remarksRows(db, order), (Rows{{"o.xml", "insert", order.type, "30", std::nullopt, "A", "a"}}));

  ASSERT_EQ(importText(dm, exchange.method, "t.xml", smallDocument(exchange.type, "40")), std::nullopt);
  EXPECT_EQ(db.query("SELECT id::text, modalitate, valoare::text FROM contab_incasare ORDER BY id"),
            (Rows{{"10", "CHITANTA", "1"}, {"20", "CARD", "100"}, {"40", "COMPENSARE", "100"}}));
}

TEST_P(CashingsTogether, AFileTheServerRefusesFailsAloneAndKeepsItsRows) {
  struct Case {
    const char* doc;
    const char* message;
  };
  const Kind& order = kind("PaymentOrder");
  const Kind& card = kind("CreditCard");
  const Case cases[] = {
      {"<cashing type='cashing_paymentOrder'><docDate>2014-07-01</docDate><value>1</value></cashing>",
       "Incasarea din fisierul bad.xml nu are id (atributul id al radacinii)"},
      {"<cashing type='cashing_paymentOrder' id='5'><value>1</value></cashing>",
       "Incasarea 5 din fisierul bad.xml nu are data (docDate)"},
      {"<cashing type='cashing_paymentOrder' id='5'><docDate>2014-07-01</docDate><value/></cashing>",
       "Incasarea 5 din fisierul bad.xml nu are valoare (value)"},
  };
  for (const Case& c : cases) {
    TDataModule2 dm(settings(GetParam()));
    const auto err = importText(dm, order.method, "bad.xml", c.doc);
    ASSERT_TRUE(err.has_value()) << c.doc;
    EXPECT_NE(err->find(c.message), std::string::npos) << *err;
    EXPECT_NE(err->find("P0001"), std::string::npos) << *err;
    EXPECT_EQ(db.query(fmt::format("SELECT nume_fisier FROM {}", order.table)), (Rows{{"bad.xml"}})) << c.doc;
    // The refused rows are still staged, and the next cashing of another kind is not held up by them.
    ASSERT_EQ(importText(dm, card.method, "ok.xml", smallDocument(card.type, "6")), std::nullopt) << c.doc;
    EXPECT_EQ(db.query("SELECT tip_doc, id::text FROM contab_incasare"), (Rows{{card.type, "6"}})) << c.doc;
  }
}

// The whole run: list 5 goes by the root's type, whatever cashing text the name carries.
TEST_P(CashingsTogether, TheRunRoutesCashingsByTheirRootType) {
  struct Case {
    const char* file;
    const char* type;      // nullptr: no type attribute
    const char* postedAs;  // modalitate, or nullptr when not imported
  };
  const Case cases[] = {
      {"1_cashing_receipt.xml", "cashing_creditCard", "CARD"},
      {"2_cashing_paymentOrder.xml", "cashing_minuteOfRefund", "CHITANTA"},
      {"3_cashing_creditCard.xml", "cashing_paymentOrder", "OP"},
      {"4_cashing_minuteOfRefund.xml", "cashing_receipt", "CHITANTA"},
      {"5_cashing_minuteOfRefund.xml", nullptr, nullptr},
      {"6_cashing_receipt.xml", "cashing_tradeExchange", nullptr},
      {"7_cashing_tradeExchange.xml", "cashing_tradeExchange", "COMPENSARE"},
      {"8_cashing_tradeExchange.xml", "cashing_receipt", nullptr},
  };
  Rows expected;
  int id = 100;
  for (const Case& c : cases) {
    ++id;
    const std::string type = c.type ? fmt::format(" type='{}'", c.type) : "";
    drop(c.file, fmt::format("<cashing{} id='{}'><docDate>2014-07-01</docDate><value>5</value></cashing>", type, id));
    if (c.postedAs) expected.push_back({std::to_string(id), c.postedAs, c.file});
  }
  TDataModule2 dm(settings(GetParam()));
  dm.DataModuleCreate();
  EXPECT_EQ(dm.totals.imported, 5u);
  EXPECT_EQ(dm.totals.notAdmitted, 3u);
  EXPECT_EQ(dm.totals.failed, 0u);
  EXPECT_EQ(db.query("SELECT id::text, modalitate, nume_fisier FROM contab_incasare ORDER BY id"), expected);
  EXPECT_EQ(testing_support::listFolder(processed()).size(), std::size(cases));
  EXPECT_EQ(db.count("mivo_import_log_err"), 0);
}

INSTANTIATE_TEST_SUITE_P(Policies, CashingsTogether, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return policyName(p.param); });

}  // namespace
