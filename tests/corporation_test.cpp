#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/testing.h"

namespace {

using staging::Policy;
using testing_support::ImportTest;
using testing_support::Rows;

const auto n = std::nullopt;

const char* kExample = "2014-06-30_13-52-45.74308705329895_corporations.xml";

std::string example() { return testing_support::example(kExample); }

// A corporation document with these attributes and children.
std::string corporation(const std::string& children, const std::string& attributes = "id='5' operation='insert'") {
  return "<corporation " + attributes + ">" + children + "</corporation>";
}

const char* kCorporations = "SELECT * FROM mivo_import_corporatii ORDER BY ctid";
const char* kOffices = "SELECT * FROM mivo_import_corporatii_oficii ORDER BY ctid";
const char* kBanks = "SELECT * FROM mivo_import_corporatii_oficii_banci ORDER BY ctid";

class CorporationImport : public ImportTest, public ::testing::WithParamInterface<Policy> {
 protected:
  void expectStaged(long corporations, long offices, long banks, const std::string& label) {
    EXPECT_EQ(db.count("mivo_import_corporatii"), corporations) << label;
    EXPECT_EQ(db.count("mivo_import_corporatii_oficii"), offices) << label;
    EXPECT_EQ(db.count("mivo_import_corporatii_oficii_banci"), banks) << label;
  }
};

TEST_P(CorporationImport, RealisticFileIsStagedColumnByColumnAndPosted) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, kExample, example()), std::nullopt);
  const std::string f = kExample;

  EXPECT_EQ(db.query(kCorporations),
            (Rows{{f, "insert", "48213", "corporate", "CARPATICA IND", "SA", "", "Carpatica Industrial",
                   "Grup Carpatica", "RO4141187", "RO4141187", "J40/1923/1991", "+40 21 404 2131", "+40 21 404 2195",
                   "office@carpatica-industrial.ro", "Ioana Popescu", "mivo.admin"}}));

  EXPECT_EQ(db.query(kOffices), (Rows{
                                    {f,
                                     "insert",
                                     "48213",
                                     "90311",
                                     "true",
                                     "Sediul central",
                                     "RO",
                                     "Romania",
                                     "Bucuresti",
                                     "Sector 5",
                                     "Calea Rahovei nr. 266-268",
                                     "Calea Rahovei nr. 266-268, corp 1, et. 2",
                                     "050912",
                                     "+40 21 404 2131",
                                     "+40 21 404 2195",
                                     "contabilitate@carpatica-industrial.ro",
                                     n,
                                     n,
                                     n,
                                     n},
                                    {f,
                                     "insert",
                                     "48213",
                                     "90312",
                                     "false",
                                     "Punct de lucru Cluj",
                                     "RO",
                                     "Romania",
                                     "Cluj-Napoca",
                                     "Cluj",
                                     "Str. Fabricii nr. 93-103",
                                     n,
                                     "400620",
                                     "+40 264 415 200",
                                     n,
                                     "cluj@carpatica-industrial.ro",
                                     n,
                                     n,
                                     n,
                                     n},
                                    {f,
                                     "insert",
                                     "48213",
                                     "90313",
                                     "false",
                                     "Punct de lucru Constanta",
                                     "RO",
                                     "Romania",
                                     "Constanta",
                                     "Constanta",
                                     "Bd. Tomis nr. 141",
                                     n,
                                     "900591",
                                     "+40 241 555 010",
                                     n,
                                     n,
                                     n,
                                     n,
                                     n,
                                     n},
                                }));

  // Per office: the default bank row, then the listed ones in document order.
  EXPECT_EQ(db.query(kBanks), (Rows{
                                  {f, "insert", "48213", "90311", "Banca Comerciala Romana", "Sucursala Rahova",
                                   "RO49 RNCB 0082 0446 2811 0001", "RON", n, n, n, n, n},
                                  {f, "insert", "48213", "90311", "", "", "", "", "true", "RON",
                                   "RO49RNCB0082044628110001", "Banca Comerciala Romana", "Sucursala Rahova"},
                                  {f, "insert", "48213", "90311", "", "", "", "", "false", "EUR",
                                   "RO22RNCB0082044628110002", "Banca Comerciala Romana", "Sucursala Rahova"},
                                  {f, "insert", "48213", "90311", "", "", "", "", "false", "USD",
                                   "RO66BRDE445SV12345674450", "BRD - Groupe Societe Generale", n},
                                  {f, "insert", "48213", "90312", "Banca Transilvania", "Agentia Marasti",
                                   "RO34BTRL01301202A1234567", "RON", n, n, n, n, n},
                                  {f, "insert", "48213", "90313", n, n, n, n, n, n, n, n, n},
                              }));

  // Posted: the office's own account and its listed twin are one account.
  EXPECT_EQ(db.query("SELECT id_client::text, denumire, sufix, prefix, cod_tva, reg_com, activ::text, nume_fisier "
                     "FROM contab_corporatie"),
            (Rows{{"48213", "Carpatica Industrial", "SA", "", "RO4141187", "J40/1923/1991", "true", f}}));
  EXPECT_EQ(db.query("SELECT id_office::text, principal::text, oras, judet FROM contab_corporatie_sediu "
                     "ORDER BY id_office"),
            (Rows{{"90311", "true", "Bucuresti", "Sector 5"},
                  {"90312", "false", "Cluj-Napoca", "Cluj"},
                  {"90313", "false", "Constanta", "Constanta"}}));
  EXPECT_EQ(db.query("SELECT id_office::text, cont, moneda, banca, sucursala, implicit::text "
                     "FROM contab_corporatie_cont ORDER BY id_office, cont"),
            (Rows{{"90311", "RO22RNCB0082044628110002", "EUR", "Banca Comerciala Romana", "Sucursala Rahova", "false"},
                  {"90311", "RO49RNCB0082044628110001", "RON", "Banca Comerciala Romana", "Sucursala Rahova", "true"},
                  {"90311", "RO66BRDE445SV12345674450", "USD", "BRD - Groupe Societe Generale", n, "false"},
                  {"90312", "RO34BTRL01301202A1234567", "RON", "Banca Transilvania", "Agentia Marasti", "true"}}));
}

TEST_P(CorporationImport, BankRowsOfAnOfficeAreItsDefaultRowThenItsListInDocumentOrder) {
  TDataModule2 dm(settings(GetParam()));
  // Children of offices and of bankAccountsList count whatever their names; "bankAccountList" is not the
  // list; an office without bank data still has its default bank row.
  const std::string doc = corporation(
      "<company>C</company><offices>"
      "<office id='1'><bankName>Banca A</bankName><bankAccountsList>"
      "<bankAccount default='true'><account currency='RON'>A1</account><bankName>Banca B</bankName></bankAccount>"
      "<entry default=''><account>A2</account><bankOfficeName>Agentia 2</bankOfficeName></entry>"
      "<bankAccount><account currency='EUR'>A3</account></bankAccount>"
      "</bankAccountsList></office>"
      "<branch id='2'><bankAccountList><bankAccount><account>X</account></bankAccount></bankAccountList></branch>"
      "</offices>");
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, "b_corporations.xml", doc), std::nullopt);
  const std::string f = "b_corporations.xml";
  EXPECT_EQ(db.query(kBanks), (Rows{
                                  {f, "insert", "5", "1", "Banca A", n, n, n, n, n, n, n, n},
                                  {f, "insert", "5", "1", "", "", "", "", "true", "RON", "A1", "Banca B", n},
                                  {f, "insert", "5", "1", "", "", "", "", "", n, "A2", n, "Agentia 2"},
                                  {f, "insert", "5", "1", "", "", "", "", n, "EUR", "A3", n, n},
                                  {f, "insert", "5", "2", n, n, n, n, n, n, n, n, n},
                              }));
  EXPECT_EQ(db.query("SELECT id_office::text, office_name FROM mivo_import_corporatii_oficii ORDER BY ctid"),
            (Rows{{"1", n}, {"2", n}}));
  // The default row without an account number is no account; an empty default flag is not the default.
  EXPECT_EQ(db.query("SELECT id_office::text, cont, implicit::text FROM contab_corporatie_cont ORDER BY cont"),
            (Rows{{"1", "A1", "true"}, {"1", "A2", "false"}, {"1", "A3", "false"}}));
}

TEST_P(CorporationImport, WithoutIdEveryRowHasNoClientId) {
  TDataModule2 dm(settings(GetParam()));
  db.exec("CREATE OR REPLACE FUNCTION o_insert_corporatii_mivo() RETURNS boolean LANGUAGE sql AS 'SELECT true'");
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, "c_corporations.xml",
                       corporation("<offices><office id='3'><bankAccountsList><b><account>A</account></b>"
                                   "</bankAccountsList></office><office id='4'/></offices>",
                                   "operation='update'")),
            std::nullopt);
  const std::pair<const char*, const char*> tables[] = {{"mivo_import_corporatii", "1"},
                                                        {"mivo_import_corporatii_oficii", "2"},
                                                        {"mivo_import_corporatii_oficii_banci", "3"}};
  for (const auto& [table, rows] : tables)
    EXPECT_EQ(db.query(std::string("SELECT count(*), count(id_client), min(operation) FROM ") + table),
              (Rows{{rows, "0", "update"}}))
        << table;
  EXPECT_EQ(db.query("SELECT id_office::text FROM mivo_import_corporatii_oficii_banci ORDER BY ctid"),
            (Rows{{"3"}, {"3"}, {"4"}}));
}

TEST_P(CorporationImport, NamesAreMatchedExactly) {
  TDataModule2 dm(settings(GetParam()));
  struct Case {
    const char* children;
    const char* column;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"<vatCertificateNumbeer>RO1</vatCertificateNumbeer>", "vat", "RO1"},
      {"<vatCertificateNumber>RO1</vatCertificateNumber>", "vat", n},
      {"<reg>J40/1/2000</reg>", "reg_com", "J40/1/2000"},
      {"<regNo>J40/1/2000</regNo>", "reg_com", n},
      {"<company suffix='SRL' prefix='SC'>C</company>", "company_sufix", "SRL"},
      {"<company sufix='SRL'>C</company>", "company_sufix", n},
      {"<company suffix='' prefix=''>C</company>", "company_prefix", ""},
      {"<type></type>", "tip", n},
      {"<Type>x</Type>", "tip", n},
      {"<alias>  spatii  </alias>", "alias", "  spatii  "},
  };
  for (const Case& c : cases) {
    std::string children = c.children;
    if (children.find("<company") == std::string::npos) children += "<company>C</company>";
    ASSERT_EQ(importText(dm, &TDataModule2::Corporation, "n_corporations.xml", corporation(children)), std::nullopt)
        << c.children;
    EXPECT_EQ(db.query(std::string("SELECT ") + c.column + " FROM mivo_import_corporatii"), (Rows{{c.expected}}))
        << c.children;
  }
}

TEST_P(CorporationImport, WithoutOfficesOnlyTheCorporationIsStagedAndItIsStillPosted) {
  TDataModule2 dm(settings(GetParam()));
  int id = 10;
  for (const char* offices : {"", "<offices/>", "<offices></offices>"}) {
    const std::string attributes = "id='" + std::to_string(++id) + "'";
    ASSERT_EQ(importText(dm, &TDataModule2::Corporation, "o_corporations.xml",
                         corporation(std::string("<company>C</company>") + offices, attributes)),
              std::nullopt)
        << offices;
    expectStaged(1, 0, 0, offices);
  }
  EXPECT_EQ(db.query("SELECT string_agg(id_client::text, ',' ORDER BY id_client) FROM contab_corporatie"),
            (Rows{{"11,12,13"}}));
  EXPECT_EQ(db.count("contab_corporatie_sediu"), 0);
}

TEST_P(CorporationImport, FailureKeepsTheRowsPostedBeforeItAndPostsNothing) {
  struct Case {
    std::string doc;
    std::vector<std::string> message;
    long corporations, offices, banks;
  };
  const std::string office1 =
      "<office id='1'><bankAccountsList><b><account>A</account></b></bankAccountsList></office>";
  const Case cases[] = {
      // The corporation row fails before its post: nothing of the file is staged.
      {corporation("<company>C</company><offices>" + office1 + "</offices>", "id='4x1'"),
       {"\"4x1\"", "id_client", "bigint"},
       0,
       0,
       0},
      {corporation("<company><b>C</b></company>"),
       {"Element \"company\" does not contain a single text node"},
       0,
       0,
       0},
      // A failing second office keeps the first office and its bank rows.
      {corporation("<company>C</company><offices>" + office1 + "<office id='x'/></offices>"),
       {"\"x\"", "id_office"},
       1,
       1,
       2},
      {corporation("<company>C</company><offices>" + office1 +
                   "<office id='2'><city><name>Cluj</name></city></office></offices>"),
       {"Element \"city\" does not contain a single text node"},
       1,
       1,
       2},
      // A failing listed bank row keeps the rows before it.
      {corporation("<company>C</company><offices><office id='1'><bankAccountsList><b><account>A</account></b>"
                   "<b><account><iban>B</iban></account></b></bankAccountsList></office></offices>"),
       {"Element \"account\" does not contain a single text node"},
       1,
       1,
       2},
  };
  TDataModule2 dm(settings(GetParam()));
  for (const Case& c : cases) {
    const auto err = importText(dm, &TDataModule2::Corporation, "f_corporations.xml", c.doc);
    ASSERT_TRUE(err.has_value()) << c.doc;
    for (const std::string& part : c.message) EXPECT_NE(err->find(part), std::string::npos) << *err;
    expectStaged(c.corporations, c.offices, c.banks, c.doc);
    EXPECT_EQ(db.count("contab_corporatie"), 0) << c.doc;
  }
}

INSTANTIATE_TEST_SUITE_P(Policies, CorporationImport, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return p.param == Policy::Fast ? "Fast" : "Original"; });

// The server side: posting into the accounting tables.
using CorporationPosting = ImportTest;

TEST_F(CorporationPosting, ImportedAgainIsUpdatedNeverDuplicated) {
  TDataModule2 dm(settings());
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, kExample, example()), std::nullopt);

  // The same corporation, renamed, without its Constanta office, the Cluj office with another account.
  std::string doc = example();
  const auto replace = [&](const std::string& from, const std::string& to) {
    const auto at = doc.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    doc.replace(at, from.size(), to);
  };
  replace("operation=\"insert\"", "operation=\"update\"");
  replace(">Carpatica Industrial<", ">Carpatica Industrial Group<");
  replace("RO34BTRL01301202A1234567", "RO56BTRL01301202A7654321");
  const auto constanta = doc.find("<office id=\"90313\"");
  ASSERT_NE(constanta, std::string::npos);
  doc.erase(constanta, doc.find("</office>", constanta) + std::string("</office>").size() - constanta);
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, "b_corporations.xml", doc), std::nullopt);
  EXPECT_EQ(db.query("SELECT id_client::text, denumire, operation, activ::text, nume_fisier FROM contab_corporatie"),
            (Rows{{"48213", "Carpatica Industrial Group", "update", "true", "b_corporations.xml"}}));
  EXPECT_EQ(db.query("SELECT id_office::text FROM contab_corporatie_sediu ORDER BY 1"), (Rows{{"90311"}, {"90312"}}));
  EXPECT_EQ(db.query("SELECT cont FROM contab_corporatie_cont WHERE id_office = 90312"),
            (Rows{{"RO56BTRL01301202A7654321"}}));
  EXPECT_EQ(db.count("contab_corporatie_cont"), 4);

  // Deleted upstream: kept, marked inactive.
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, "d_corporations.xml",
                       corporation("", "id='48213' operation='delete'")),
            std::nullopt);
  EXPECT_EQ(db.query("SELECT denumire, activ::text, nume_fisier FROM contab_corporatie"),
            (Rows{{"Carpatica Industrial Group", "false", "d_corporations.xml"}}));
  EXPECT_EQ(db.count("contab_corporatie_sediu"), 2);

  // Imported again after the delete: active again.
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, kExample, example()), std::nullopt);
  EXPECT_EQ(db.query("SELECT denumire, activ::text FROM contab_corporatie"), (Rows{{"Carpatica Industrial", "true"}}));
  EXPECT_EQ(db.count("contab_corporatie_sediu"), 3);
}

TEST_F(CorporationPosting, DataThatCannotBePostedFailsTheFileAndLeavesThePostingAlone) {
  TDataModule2 dm(settings());
  ASSERT_EQ(importText(dm, &TDataModule2::Corporation, kExample, example()), std::nullopt);
  struct Case {
    std::string doc;
    std::string message;
  };
  const std::string attributes = "id='48213' operation='update'";
  const Case cases[] = {
      {corporation("<company>Alta</company>", "operation='update'"),
       "Corporatia din fisierul e_corporations.xml nu are id (atributul id al elementului corporation)"},
      {corporation("<alias>Fara nume</alias>", attributes),
       "Corporatia 48213 din fisierul e_corporations.xml nu are denumire (company)"},
      {corporation("<company>Alta</company><offices><office id='1'/><office><name>Iasi</name></office></offices>",
                   attributes),
       "Corporatia 48213 din fisierul e_corporations.xml: sediul \"Iasi\" nu are id (atributul id al sediului)"},
      {corporation("<company>Alta</company><offices><office id='1'/><office id='1'/></offices>", attributes),
       "Corporatia 48213 din fisierul e_corporations.xml: sediul cu id 1 apare de mai multe ori"},
      {corporation("<company>Alta</company><offices><office id='7'><bankAccountsList><b default='true'>"
                   "<bankName>B</bankName></b></bankAccountsList></office></offices>",
                   attributes),
       "Corporatia 48213 din fisierul e_corporations.xml: un cont din bankAccountsList al sediului 7 nu are numar de "
       "cont (account)"},
      {corporation("<company>Alta</company><offices><office id='7'><bankAccountsList><b default='poate'>"
                   "<account>A</account></b></bankAccountsList></office></offices>",
                   attributes),
       "Fisierul e_corporations.xml: valoarea \"poate\" a atributului default al unui cont al sediului 7 nu este "
       "da/nu"},
      {corporation("<company>Alta</company><offices><office id='7' mainOffice='principal'/></offices>", attributes),
       "Fisierul e_corporations.xml: valoarea \"principal\" a atributului mainOffice al sediului 7 nu este da/nu"},
  };
  for (const Case& c : cases) {
    const auto err = importText(dm, &TDataModule2::Corporation, "e_corporations.xml", c.doc);
    ASSERT_TRUE(err.has_value()) << c.doc;
    EXPECT_NE(err->find(c.message), std::string::npos) << *err;
    EXPECT_NE(err->find("P0001"), std::string::npos) << *err;
    // The staged rows stay; the earlier posting is untouched.
    EXPECT_EQ(db.count("mivo_import_corporatii"), 1);
    EXPECT_EQ(db.query("SELECT denumire, nume_fisier FROM contab_corporatie"),
              (Rows{{"Carpatica Industrial", kExample}}));
    EXPECT_EQ(db.count("contab_corporatie_sediu"), 3);
    EXPECT_EQ(db.count("contab_corporatie_cont"), 4);
  }
}

}  // namespace
