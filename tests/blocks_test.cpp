// The shared XML blocks, read into rows of tables made for the test: each test appends a row, runs a block
// reader and looks at the row's values (and, for the remarks rows, at the rows written).
#include "imports/blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/testing.h"

namespace {

using imports::StagingQuery;
using staging::Policy;
using testing_support::ImportTest;
using testing_support::Rows;

// Expected values of a row: the columns named hold these texts, every other column checked is NULL.
using Values = std::map<std::string, std::string>;

const char* const kIndividualColumns[] = {"firstname",  "middlename",   "lastname",  "cnp",   "adresa",
                                          "cod_postal", "cod_tara",     "tara",      "judet", "oras",
                                          "banca_nume", "banca_office", "cont_banca"};
const char* const kCorporateColumns[] = {"tip",   "alias",      "company_sufix", "company_prefix", "company",
                                         "trust", "cod_fiscal", "vat",           "reg_com"};
const char* const kOfficeColumns[] = {"tip_office",          "office_name",        "office_cod_tara",
                                      "office_tara",         "office_oras",        "office_judet",
                                      "office_adresa",       "office_cod_postal",  "office_banca_nume",
                                      "office_banca_office", "office_cont_moneda", "office_cont_banca"};

std::vector<std::string> officeColumns() {
  std::vector<std::string> names;
  for (const char* prefix : {"pj_c_", "pj_s_"})
    for (const char* c : kOfficeColumns) names.push_back(std::string(prefix) + c);
  return names;
}

// Every column of the client block; pf_cont_moneda only in the client invoice form.
std::vector<std::string> clientColumns(bool withAccountCurrency) {
  std::vector<std::string> names = {"partener_id", "partener_tip"};
  for (const char* c : kIndividualColumns) names.push_back(std::string("pf_") + c);
  if (withAccountCurrency) names.push_back("pf_cont_moneda");
  for (const char* c : kCorporateColumns) names.push_back(std::string("pj_") + c);
  for (const auto& c : officeColumns()) names.push_back(c);
  return names;
}

std::string createTable(const std::string& table, const std::vector<std::string>& columns) {
  std::string sql = "CREATE TABLE " + table + " (nume_fisier text";
  for (const auto& c : columns) {
    const bool bigint = c == "partener_id" || c == "id" || c == "invoice_id";
    const bool dbl = c == "curs" || c == "invoice_total_value";
    const bool date = c == "emitent_resp_ci_data_elib" || c == "invoice_date";
    sql += ", " + c + (bigint ? " bigint" : dbl ? " double precision" : date ? " date" : " text");
  }
  return sql + ");";
}

const std::vector<std::string> kUserLong = {
    "emitent_resp_firstname",    "emitent_resp_lastname", "emitent_resp_cnp",
    "emitent_resp_ci_seria",     "emitent_resp_ci_numar", "emitent_resp_ci_elib",
    "emitent_resp_ci_data_elib", "emitent_resp_office",   "emitent_resp_departament"};
const std::vector<std::string> kUserShort = {"emitent_resp_firstname", "emitent_resp_lastname", "emitent_resp_office",
                                             "emitent_resp_departament"};
const std::vector<std::string> kSmallBlocks = {
    "moneda",     "curs",           "cont_banca",   "nume_banca",          "banca_office",
    "invoice_id", "invoice_number", "invoice_date", "invoice_total_value", "invoice_currency",
    "contc",      "contd",          "dosar",        "cost_center"};

class Blocks : public ImportTest {
 protected:
  void SetUp() override {
    db.exec(createTable("blk_invoice", clientColumns(true)) + createTable("blk_cashing", clientColumns(false)) +
            createTable("blk_user_long", kUserLong) + createTable("blk_user_short", kUserShort) +
            createTable("blk_small", kSmallBlocks) +
            "CREATE TABLE blk_main (nume_fisier text, operation text, doc_type text, id bigint, remarks text);"
            "CREATE TABLE blk_main_remarks (nume_fisier text, operation text, doc_type text, id bigint, remarks text,"
            " item_code text, item text);");
    dm.Connect();
  }

  // Opens the query and appends the row that the block readers fill.
  StagingQuery& row(StagingQuery& q) {
    q.Open();
    q.Append();
    return q;
  }
  xml::Node load(const std::string& text) {
    doc.loadMemory(text, "test.xml");
    return doc.documentElement();
  }
  static void expectValues(const StagingQuery& q, const std::vector<std::string>& columns, const Values& expected,
                           const std::string& label) {
    for (const auto& [column, value] : expected)
      EXPECT_NE(std::find(columns.begin(), columns.end(), column), columns.end()) << label << ": " << column;
    for (const auto& column : columns) {
      const auto it = expected.find(column);
      if (it == expected.end())
        EXPECT_EQ(q.value(column), std::nullopt) << label << ": " << column;
      else
        EXPECT_EQ(q.value(column), it->second) << label << ": " << column;
    }
  }

  // Original policy: every posted row is in its table at once.
  TDataModule2 dm{settings(Policy::Original)};
  StagingQuery invoiceRow{dm.staging, "dsblk_invoice", "blk_invoice"};
  StagingQuery cashingRow{dm.staging, "dsblk_cashing", "blk_cashing"};
  xml::Document doc;
};

// ---- Client block: the office choice ----

struct OfficeCase {
  const char* name;
  const char* offices;  // the content of corporateDetails
  Values expected;      // office columns; the others stay NULL
};

const OfficeCase kOfficeCases[] = {
    {"EveryOfficeColumnFromItsOwnSource",
     "<offices><office type='central'><name>Sediu</name><country code='RO'>Romania</country>"
     "<city district='Ilfov'>Voluntari</city><address>Bd. Pipera 1</address><zipCode>077190</zipCode>"
     "<bankName>ING</bankName><bankOfficeName>Pipera</bankOfficeName>"
     "<bankAccount currency='RON'>RO66INGB01</bankAccount></office>"
     "<office type='selected'><name>Cluj</name><country code='HU'>Ungaria</country>"
     "<city district='Cluj'>Cluj-Napoca</city><address>Str. Fabricii 22</address><zipCode>400632</zipCode>"
     "<bankName>BT</bankName><bankOfficeName>Cluj</bankOfficeName>"
     "<bankAccount currency='EUR'>RO21BTRL02</bankAccount></office></offices>",
     {{"pj_c_tip_office", "central"},
      {"pj_c_office_name", "Sediu"},
      {"pj_c_office_cod_tara", "RO"},
      {"pj_c_office_tara", "Romania"},
      {"pj_c_office_oras", "Voluntari"},
      {"pj_c_office_judet", "Ilfov"},
      {"pj_c_office_adresa", "Bd. Pipera 1"},
      {"pj_c_office_cod_postal", "077190"},
      {"pj_c_office_banca_nume", "ING"},
      {"pj_c_office_banca_office", "Pipera"},
      {"pj_c_office_cont_moneda", "RON"},
      {"pj_c_office_cont_banca", "RO66INGB01"},
      {"pj_s_tip_office", "selected"},
      {"pj_s_office_name", "Cluj"},
      {"pj_s_office_cod_tara", "HU"},
      {"pj_s_office_tara", "Ungaria"},
      {"pj_s_office_oras", "Cluj-Napoca"},
      {"pj_s_office_judet", "Cluj"},
      {"pj_s_office_adresa", "Str. Fabricii 22"},
      {"pj_s_office_cod_postal", "400632"},
      {"pj_s_office_banca_nume", "BT"},
      {"pj_s_office_banca_office", "Cluj"},
      {"pj_s_office_cont_moneda", "EUR"},
      {"pj_s_office_cont_banca", "RO21BTRL02"}}},
    // Selected, central, central without bankName: the central family mixes the two central offices.
    {"LaterOfficeOverwritesAndKeepsWhatItLacks",
     "<offices><office type='selected'><name>S1</name><bankName>BS</bankName></office>"
     "<office type='central'><name>C1</name><address>A1</address><bankName>B1</bankName></office>"
     "<office type='central'><name>C2</name><address>A2</address></office></offices>",
     {{"pj_c_tip_office", "central"},
      {"pj_c_office_name", "C2"},
      {"pj_c_office_adresa", "A2"},
      {"pj_c_office_banca_nume", "B1"},
      {"pj_s_tip_office", "selected"},
      {"pj_s_office_name", "S1"},
      {"pj_s_office_banca_nume", "BS"}}},
    {"OtherTypeIsIgnored",
     "<offices><office type='central'><name>C</name></office><office type='selected'><name>S</name></office>"
     "<office type='branch'><name>B</name><address>Depozit</address></office></offices>",
     {{"pj_c_tip_office", "central"},
      {"pj_c_office_name", "C"},
      {"pj_s_tip_office", "selected"},
      {"pj_s_office_name", "S"}}},
    {"LetterCaseMissingOrEmptyTypeIsSkipped",
     "<offices><office type='Central'><name>C</name></office><office type='SELECTED'><name>S</name></office>"
     "<office><name>N</name></office><office type=''><name>E</name></office>"
     "<office type=' central'><name>B</name></office></offices>",
     {}},
    {"NoOfficesElement", "<type>SRL</type>", {}},
    {"EmptyOffices", "<offices/>", {}},
    // Every child of offices is an office, whatever its name; a comment among them is no office.
    {"ChildNameIsNotChecked",
     "<offices><!-- sediu --><branch type='central'><name>C</name></branch>"
     "<office type='selected'><city>Iasi</city></office></offices>",
     {{"pj_c_tip_office", "central"},
      {"pj_c_office_name", "C"},
      {"pj_s_tip_office", "selected"},
      {"pj_s_office_oras", "Iasi"}}},
};

TEST_F(Blocks, OfficeChoice) {
  StagingQuery& q = row(invoiceRow);
  for (const auto& c : kOfficeCases) {
    q.Append();
    const xml::Node client =
        load(std::string("<client id='7'><corporateDetails>") + c.offices + "</corporateDetails></client>");
    imports::readClient(client, q, true);
    expectValues(q, officeColumns(), c.expected, c.name);
  }
}

// ---- Client block: the two families ----

const char* const kIndividual =
    "<individualDetails><firstName>Andrei</firstName><middleName>Mihai</middleName><lastName>Popescu</lastName>"
    "<PNC>1780512400123</PNC><address>Str. Lalelelor 12</address><zipCode>021345</zipCode>"
    "<country code='RO'>Romania</country><city district='Bucuresti'>Sector 2</city><bankName>BCR</bankName>"
    "<bankOfficeName>Obor</bankOfficeName><bankAccount currency='RON'>RO49RNCB01</bankAccount></individualDetails>";
const Values kIndividualValues = {{"pf_firstname", "Andrei"},
                                  {"pf_middlename", "Mihai"},
                                  {"pf_lastname", "Popescu"},
                                  {"pf_cnp", "1780512400123"},
                                  {"pf_adresa", "Str. Lalelelor 12"},
                                  {"pf_cod_postal", "021345"},
                                  {"pf_cod_tara", "RO"},
                                  {"pf_tara", "Romania"},
                                  {"pf_judet", "Bucuresti"},
                                  {"pf_oras", "Sector 2"},
                                  {"pf_banca_nume", "BCR"},
                                  {"pf_banca_office", "Obor"},
                                  {"pf_cont_banca", "RO49RNCB01"},
                                  {"pf_cont_moneda", "RON"}};
const char* const kCorporate =
    "<corporateDetails><type>SRL</type><alias>Tehno</alias><company prefix='SC' suffix='SRL'>Tehnoplast</company>"
    "<trust>Grupul Tehno</trust><fiscalCode>RO14399012</fiscalCode><vatCertificateNumber>RO14399013"
    "</vatCertificateNumber><regNo>J40/1234/2001</regNo>"
    "<offices><office type='central'><name>Sediu</name></office></offices></corporateDetails>";
const Values kCorporateValues = {{"pj_tip", "SRL"},
                                 {"pj_alias", "Tehno"},
                                 {"pj_company_sufix", "SRL"},
                                 {"pj_company_prefix", "SC"},
                                 {"pj_company", "Tehnoplast"},
                                 {"pj_trust", "Grupul Tehno"},
                                 {"pj_cod_fiscal", "RO14399012"},
                                 {"pj_vat", "RO14399013"},
                                 {"pj_reg_com", "J40/1234/2001"},
                                 {"pj_c_tip_office", "central"},
                                 {"pj_c_office_name", "Sediu"}};

Values merged(Values a, const Values& b) {
  a.insert(b.begin(), b.end());
  return a;
}

TEST_F(Blocks, ClientFamiliesAreReadWhateverTheTypeSays) {
  struct Case {
    const char* name;
    std::string content;
    Values expected;
  };
  const Values partner = {{"partener_id", "1587"}, {"partener_tip", "corporate"}};
  const Case cases[] = {
      {"OnlyIndividual", kIndividual, merged(partner, kIndividualValues)},
      {"OnlyCorporate", kCorporate, merged(partner, kCorporateValues)},
      {"Both", std::string(kCorporate) + kIndividual, merged(merged(partner, kIndividualValues), kCorporateValues)},
      {"NoFamily", "", partner},
  };
  StagingQuery& q = row(invoiceRow);
  for (const auto& c : cases) {
    q.Append();
    imports::readClient(load("<client id='1587' type='corporate'>" + c.content + "</client>"), q, true);
    expectValues(q, clientColumns(true), c.expected, c.name);
  }
  // No client element at all.
  q.Append();
  imports::readClient(load("<invoice/>").child("client"), q, true);
  expectValues(q, clientColumns(true), {}, "NoClient");
}

TEST_F(Blocks, AccountCurrencyIsReadOnlyInTheInvoiceForm) {
  // A table without pf_cont_moneda (the cashing form) takes the client block without it.
  StagingQuery& q = row(cashingRow);
  imports::readClient(load(std::string("<client id='3'>") + kIndividual + "</client>"), q, false);
  Values expected = merged({{"partener_id", "3"}}, kIndividualValues);
  expected.erase("pf_cont_moneda");
  expectValues(q, clientColumns(false), expected, "cashing form");
}

TEST_F(Blocks, EmptyOrPartialElementsLeaveNulls) {
  StagingQuery& q = row(invoiceRow);
  imports::readClient(load("<client type=''><individualDetails><firstName/><middleName></middleName>"
                           "<country code='MD'/><city>Iasi</city><bankAccount currency=''/></individualDetails>"
                           "</client>"),
                      q, true);
  // An empty attribute is stored as an empty text; empty elements leave NULL.
  expectValues(q, clientColumns(true),
               {{"partener_tip", ""}, {"pf_cod_tara", "MD"}, {"pf_oras", "Iasi"}, {"pf_cont_moneda", ""}}, "partial");
}

TEST_F(Blocks, ClientFailures) {
  struct Case {
    const char* client;
    const char* message;
  };
  const Case cases[] = {
      {"<client id='abc'/>", "partener_id"},
      {"<client id=''/>", "partener_id"},
      {"<client><individualDetails><firstName><b>A</b></firstName></individualDetails></client>",
       "Element \"firstName\" does not contain a single text node"},
      {"<client><corporateDetails><offices><office type='central'><bankAccount>R<x/></bankAccount></office>"
       "</offices></corporateDetails></client>",
       "Element \"bankAccount\" does not contain a single text node"},
  };
  StagingQuery& q = row(invoiceRow);
  for (const auto& c : cases) {
    q.Append();
    try {
      imports::readClient(load(c.client), q, true);
      ADD_FAILURE() << c.client << " was read";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.client << ": " << e.what();
    }
  }
}

// ---- Responsible user ----

TEST_F(Blocks, ResponsibleUserForms) {
  const std::string user =
      "<responsibleUser><firstName>Ioana</firstName><lastName>Marinescu</lastName><PNC>2850923410056</PNC>"
      "<ID_series>RT</ID_series><ID_number>482913</ID_number><ID_releaseBy>SPCEP S3</ID_releaseBy>"
      "<ID_releaseDate>15.03.2011</ID_releaseDate><office>Unirii</office><department>Corporate</department>"
      "</responsibleUser>";
  StagingQuery longRow{dm.staging, "dsblk_user_long", "blk_user_long"};
  imports::readResponsibleUser(load(user), row(longRow), imports::UserForm::Long);
  expectValues(longRow, kUserLong,
               {{"emitent_resp_firstname", "Ioana"},
                {"emitent_resp_lastname", "Marinescu"},
                {"emitent_resp_cnp", "2850923410056"},
                {"emitent_resp_ci_seria", "RT"},
                {"emitent_resp_ci_numar", "482913"},
                {"emitent_resp_ci_elib", "SPCEP S3"},
                {"emitent_resp_ci_data_elib", "2011-03-15"},
                {"emitent_resp_office", "Unirii"},
                {"emitent_resp_departament", "Corporate"}},
               "long");

  // The short form reads four columns only, so a table with just those four takes it.
  StagingQuery shortRow{dm.staging, "dsblk_user_short", "blk_user_short"};
  imports::readResponsibleUser(load(user), row(shortRow), imports::UserForm::Short);
  expectValues(shortRow, kUserShort,
               {{"emitent_resp_firstname", "Ioana"},
                {"emitent_resp_lastname", "Marinescu"},
                {"emitent_resp_office", "Unirii"},
                {"emitent_resp_departament", "Corporate"}},
               "short");

  // No release date, or no user at all.
  longRow.Append();
  imports::readResponsibleUser(load("<responsibleUser><lastName>M</lastName></responsibleUser>"), longRow,
                               imports::UserForm::Long);
  expectValues(longRow, kUserLong, {{"emitent_resp_lastname", "M"}}, "no date");
  longRow.Append();
  imports::readResponsibleUser(load("<invoice/>").child("responsibleUser"), longRow, imports::UserForm::Long);
  expectValues(longRow, kUserLong, {}, "no user");

  longRow.Append();
  EXPECT_THROW(imports::readResponsibleUser(
                   load("<responsibleUser><ID_releaseDate>2011-02-30</ID_releaseDate></responsibleUser>"), longRow,
                   imports::UserForm::Long),
               staging::StagingError);
}

// ---- Currency, bank account, invoice details, export configuration ----

TEST_F(Blocks, SmallBlocks) {
  StagingQuery q{dm.staging, "dsblk_small", "blk_small"};
  const xml::Node root = load(
      "<cashing><currency exchangeRate='4,3892'>EUR</currency>"
      "<bankAccount><account>RO49RNCB01</account><bankName>BCR</bankName><bankOfficeName>Obor</bankOfficeName>"
      "</bankAccount>"
      "<invoiceDetails id='48213'><invoiceNumber>0004217</invoiceNumber><invoiceDate>2014-06-30T13:52:45"
      "</invoiceDate><invoiceTotalValue>1092.60</invoiceTotalValue><invoiceCurrency>EUR</invoiceCurrency>"
      "<client id='1'/></invoiceDetails>"
      "<invoiceDetails id='99'><invoiceNumber>X</invoiceNumber></invoiceDetails>"
      "<exportConfigs><contc>5121</contc><contd>4111</contd><dosar>D-17</dosar><costCenter>CC1</costCenter>"
      "</exportConfigs></cashing>");
  imports::readCurrency(root, row(q));
  imports::readBankAccount(root.child("bankAccount"), q, true);
  const xml::Node details = imports::readInvoiceDetails(root, q);
  imports::readExportConfigs(root.child("exportConfigs"), q);
  expectValues(q, kSmallBlocks,
               {{"moneda", "EUR"},
                {"curs", "4.3892"},
                {"cont_banca", "RO49RNCB01"},
                {"nume_banca", "BCR"},
                {"banca_office", "Obor"},
                {"invoice_id", "48213"},
                {"invoice_number", "0004217"},
                {"invoice_date", "2014-06-30"},
                {"invoice_total_value", "1092.6"},
                {"invoice_currency", "EUR"},
                {"contc", "5121"},
                {"contd", "4111"},
                {"dosar", "D-17"},
                {"cost_center", "CC1"}},
               "all");
  // The first invoiceDetails is handed on, for the client reader.
  EXPECT_EQ(details.child("client").attribute("id"), "1");

  // Without the office, without an exchange rate, without the blocks.
  q.Append();
  const xml::Node sparse = load(
      "<cashing><currency>RON</currency><bankAccount><bankName>BCR</bankName>"
      "<bankOfficeName>Obor</bankOfficeName></bankAccount></cashing>");
  imports::readCurrency(sparse, q);
  imports::readBankAccount(sparse.child("bankAccount"), q, false);
  imports::readInvoiceDetails(sparse, q);
  imports::readExportConfigs(sparse.child("exportConfigs"), q);
  expectValues(q, kSmallBlocks, {{"moneda", "RON"}, {"nume_banca", "BCR"}}, "sparse");

  q.Append();
  EXPECT_THROW(imports::readCurrency(load("<c><currency exchangeRate=''>EUR</currency></c>"), q),
               staging::StagingError);
}

// ---- Remarks ----

class Remarks : public Blocks {
 protected:
  // Posts the main row with the remark text of `text`, then writes its remarks rows.
  void write(const std::string& text, bool withOperation = true) {
    const xml::Node root = load(text);
    mainRow.Append();
    mainRow.set("nume_fisier", "r.xml", {"test"});
    if (withOperation) mainRow.set("operation", "insert", {"test"});
    mainRow.set("doc_type", "cashing_receipt", {"test"});
    mainRow.set("id", "501", {"test"});
    imports::readRemarksText(root.child("remarks"), mainRow);
    mainRow.Post();
    imports::writeRemarksRows(root.child("remarks"), mainRow, remarks, "r.xml");
  }
  Rows written() {
    return db.query(
        "SELECT nume_fisier, operation, doc_type, id::text, remarks, item_code, item "
        "FROM blk_main_remarks ORDER BY ctid");
  }
  void SetUp() override {
    Blocks::SetUp();
    mainRow.Open();
    remarks.Open();
  }

  StagingQuery mainRow{dm.staging, "dsblk_main", "blk_main"};
  StagingQuery remarks{dm.staging, "dsblk_main_remarks", "blk_main_remarks"};
};

TEST_F(Remarks, OneRowPerItemRepeatingTheMainRow) {
  write(
      "<doc><remarks><text>Plata partiala</text><attributes><item code='A1'>Avans</item>"
      "<item code='B2'/><other>Fara cod</other></attributes></remarks></doc>");
  const auto n = std::nullopt;
  EXPECT_EQ(written(), (Rows{{"r.xml", "insert", "cashing_receipt", "501", "Plata partiala", "A1", "Avans"},
                             {"r.xml", "insert", "cashing_receipt", "501", "Plata partiala", "B2", n},
                             {"r.xml", "insert", "cashing_receipt", "501", "Plata partiala", n, "Fara cod"}}));
  EXPECT_EQ(db.scalar("SELECT remarks FROM blk_main"), "Plata partiala");
}

TEST_F(Remarks, NullsOfTheMainRowAreCopiedAsNulls) {
  write("<doc><remarks><attributes><item code=''>x</item></attributes></remarks></doc>", false);
  const auto n = std::nullopt;
  EXPECT_EQ(written(), (Rows{{"r.xml", n, "cashing_receipt", "501", n, "", "x"}}));
}

TEST_F(Remarks, TextWithoutItemsOrNoRemarksWriteNoRows) {
  write("<doc><remarks><text>Doar text</text></remarks></doc>");
  write("<doc><remarks><text>Lista goala</text><attributes/></remarks></doc>");
  write("<doc/>");
  EXPECT_TRUE(written().empty());
  EXPECT_EQ(db.query("SELECT remarks FROM blk_main ORDER BY ctid"),
            (Rows{{"Doar text"}, {"Lista goala"}, {std::nullopt}}));
}

TEST_F(Remarks, ItemWithElementsFailsAndKeepsTheRowsBefore) {
  try {
    write(
        "<doc><remarks><text>T</text><attributes><item code='1'>a</item><item code='2'><b/></item>"
        "<item code='3'>c</item></attributes></remarks></doc>");
    ADD_FAILURE() << "the item with element children was read";
  } catch (const xml::Error& e) {
    EXPECT_STREQ(e.what(), "Element \"item\" does not contain a single text node");
  }
  EXPECT_EQ(db.query("SELECT item_code FROM blk_main_remarks ORDER BY ctid"), (Rows{{"1"}}));
}

}  // namespace
