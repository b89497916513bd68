#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testing.h"

namespace {

using staging::Policy;
using testing_support::ImportTest;
using testing_support::Rows;

const auto n = std::nullopt;

const char* kExample = "2014-06-30_13-52-47.10226184931077_suppliers.xml";

std::string example() { return testing_support::example(kExample); }

// A supplier document with these attributes and children.
std::string supplier(const std::string& children, const std::string& attributes = "id='9' operation='insert'") {
  return "<supplier " + attributes + ">" + children + "</supplier>";
}

const char* kSuppliers = "SELECT * FROM mivo_import_supplier ORDER BY ctid";
const char* kBanks = "SELECT * FROM mivo_import_supplier_banci ORDER BY ctid";

class SupplierImport : public ImportTest, public ::testing::WithParamInterface<Policy> {};

TEST_P(SupplierImport, RealisticFileIsStagedColumnByColumnAndPosted) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Supplier, kExample, example()), std::nullopt);
  const std::string f = kExample;

  EXPECT_EQ(db.query(kSuppliers), (Rows{{f,
                                         "update",
                                         "7731",
                                         "HOTEL REGINA",
                                         "SRL",
                                         "SC",
                                         "Hotel Bulevard Regina",
                                         "Regina Hotels",
                                         "Bd. Regina Elisabeta nr. 21",
                                         "Str. Academiei nr. 4, et. 3, ap. 12",
                                         "030015",
                                         "RO",
                                         "Romania",
                                         "Sector 3",
                                         "Bucuresti",
                                         "RO15633350",
                                         "J40/1087/2003",
                                         "RO15633350",
                                         "+40 21 313 6004",
                                         "+40 21 312 0134",
                                         "rezervari@hotelregina.ro",
                                         "Plata la 30 de zile de la factura; tarife contractate pentru sezonul 2014.",
                                         "andreea.ionescu"}}));
  EXPECT_EQ(db.query(kBanks), (Rows{
                                  {f, "update", "7731", "true", "RON", "RO09BACX0000000123456780",
                                   "UniCredit Tiriac Bank", "Sucursala Universitate"},
                                  {f, "update", "7731", "false", "EUR", "RO82BACX0000000123456781",
                                   "UniCredit Tiriac Bank", "Sucursala Universitate"},
                                  {f, "update", "7731", "false", "RON", "RO17INGB0000999901234567", "ING Bank", n},
                              }));

  EXPECT_EQ(db.query("SELECT id_furnizor::text, denumire, prefix, sufix, judet, oras, reg_com, cod_tva, activ::text, "
                     "nume_fisier FROM contab_furnizor"),
            (Rows{{"7731", "Hotel Bulevard Regina", "SC", "SRL", "Sector 3", "Bucuresti", "J40/1087/2003", "RO15633350",
                   "true", f}}));
  EXPECT_EQ(db.query("SELECT cont, moneda, banca, sucursala, implicit::text FROM contab_furnizor_cont ORDER BY cont"),
            (Rows{{"RO09BACX0000000123456780", "RON", "UniCredit Tiriac Bank", "Sucursala Universitate", "true"},
                  {"RO17INGB0000999901234567", "RON", "ING Bank", n, "false"},
                  {"RO82BACX0000000123456781", "EUR", "UniCredit Tiriac Bank", "Sucursala Universitate", "false"}}));
}

TEST_P(SupplierImport, BankRowsFollowTheListInDocumentOrder) {
  TDataModule2 dm(settings(GetParam()));
  // Entries count whatever their names; an empty default flag is staged as the empty text.
  ASSERT_EQ(importText(dm, &TDataModule2::Supplier, "b_suppliers.xml",
                       supplier("<company>S</company><bankAccountsList>"
                                "<bankAccount default='true'><account currency='RON'>A1</account></bankAccount>"
                                "<entry default=''><account>A2</account><bankName>Banca 2</bankName></entry>"
                                "<bankAccount><bankOfficeName>Agentia 3</bankOfficeName><account currency=''>A3"
                                "</account></bankAccount>"
                                "</bankAccountsList>")),
            std::nullopt);
  const std::string f = "b_suppliers.xml";
  EXPECT_EQ(db.query(kBanks), (Rows{
                                  {f, "insert", "9", "true", "RON", "A1", n, n},
                                  {f, "insert", "9", "", n, "A2", "Banca 2", n},
                                  {f, "insert", "9", n, "", "A3", n, "Agentia 3"},
                              }));
  EXPECT_EQ(db.query("SELECT cont, moneda, implicit::text FROM contab_furnizor_cont ORDER BY cont"),
            (Rows{{"A1", "RON", "true"}, {"A2", n, "false"}, {"A3", n, "false"}}));
}

TEST_P(SupplierImport, WithoutBankAccountsListOnlyTheSupplierIsStagedAndItIsStillPosted) {
  TDataModule2 dm(settings(GetParam()));
  int id = 20;
  for (const char* list :
       {"", "<bankAccountsList/>", "<bankAccountList><b><account>X</account></b></bankAccountList>"}) {
    ASSERT_EQ(importText(dm, &TDataModule2::Supplier, "o_suppliers.xml",
                         supplier(std::string("<company>S</company>") + list, "id='" + std::to_string(++id) + "'")),
              std::nullopt)
        << list;
    EXPECT_EQ(db.count("mivo_import_supplier"), 1) << list;
    EXPECT_EQ(db.count("mivo_import_supplier_banci"), 0) << list;
  }
  EXPECT_EQ(db.query("SELECT string_agg(id_furnizor::text, ',' ORDER BY id_furnizor) FROM contab_furnizor"),
            (Rows{{"21,22,23"}}));
  EXPECT_EQ(db.count("contab_furnizor_cont"), 0);
}

TEST_P(SupplierImport, WithoutIdEveryRowHasNoSupplierId) {
  TDataModule2 dm(settings(GetParam()));
  db.exec("CREATE OR REPLACE FUNCTION o_insert_furnizori_mivo() RETURNS boolean LANGUAGE sql AS 'SELECT true'");
  ASSERT_EQ(importText(
                dm, &TDataModule2::Supplier, "c_suppliers.xml",
                supplier("<bankAccountsList><b><account>A</account></b><b/></bankAccountsList>", "operation='update'")),
            std::nullopt);
  EXPECT_EQ(db.query("SELECT count(*), count(id_furnizor), min(operation) FROM mivo_import_supplier"),
            (Rows{{"1", "0", "update"}}));
  EXPECT_EQ(db.query("SELECT count(*), count(id_furnizor), min(operation) FROM mivo_import_supplier_banci"),
            (Rows{{"2", "0", "update"}}));
}

TEST_P(SupplierImport, NamesAreMatchedExactly) {
  TDataModule2 dm(settings(GetParam()));
  struct Case {
    const char* children;
    const char* column;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"<regNo>J40/1/2000</regNo>", "reg_com", "J40/1/2000"},
      {"<reg>J40/1/2000</reg>", "reg_com", n},
      {"<vatCertificateNumber>RO1</vatCertificateNumber>", "vat", "RO1"},
      {"<vatCertificateNumbeer>RO1</vatCertificateNumbeer>", "vat", n},
      {"<city district='Ilfov'>Otopeni</city>", "judet", "Ilfov"},
      {"<city district=''>Otopeni</city>", "judet", ""},
      {"<city>Otopeni</city><district>Ilfov</district>", "judet", n},
      {"<city district='Ilfov'>Otopeni</city>", "oras", "Otopeni"},
      {"<country code='BG'>Bulgaria</country>", "tara_cod", "BG"},
      {"<company suffix='SRL' prefix='SC'>S</company>", "company_sufix", "SRL"},
      {"<company sufix='SRL'>S</company>", "company_sufix", n},
      {"<comments></comments>", "comentarii", n},
  };
  for (const Case& c : cases) {
    std::string children = c.children;
    if (children.find("<company") == std::string::npos) children += "<company>S</company>";
    ASSERT_EQ(importText(dm, &TDataModule2::Supplier, "n_suppliers.xml", supplier(children)), std::nullopt)
        << c.children;
    EXPECT_EQ(db.query(std::string("SELECT ") + c.column + " FROM mivo_import_supplier"), (Rows{{c.expected}}))
        << c.children;
  }
}

TEST_P(SupplierImport, FailureKeepsTheRowsPostedBeforeItAndPostsNothing) {
  struct Case {
    std::string doc;
    std::vector<std::string> message;
    long suppliers, banks;
  };
  const std::string list = "<bankAccountsList><b><account>A</account></b></bankAccountsList>";
  const Case cases[] = {
      // The district is an attribute of city: a city holding a district element fails the supplier row.
      {supplier("<company>S</company><city>Otopeni<district>Ilfov</district></city>" + list),
       {"Element \"city\" does not contain a single text node"},
       0,
       0},
      {supplier("<company>S</company>" + list, "id=''"), {"id_furnizor", "bigint"}, 0, 0},
      {supplier("<company>S</company>" + list, "id='12.5'"), {"\"12.5\"", "id_furnizor"}, 0, 0},
      // A failing bank row keeps the rows before it.
      {supplier("<company>S</company><bankAccountsList><b><account>A</account></b><b><account>B</account>"
                "<bankName><short>X</short></bankName></b></bankAccountsList>"),
       {"Element \"bankName\" does not contain a single text node"},
       1,
       1},
  };
  TDataModule2 dm(settings(GetParam()));
  for (const Case& c : cases) {
    const auto err = importText(dm, &TDataModule2::Supplier, "f_suppliers.xml", c.doc);
    ASSERT_TRUE(err.has_value()) << c.doc;
    for (const std::string& part : c.message) EXPECT_NE(err->find(part), std::string::npos) << *err;
    EXPECT_EQ(db.count("mivo_import_supplier"), c.suppliers) << c.doc;
    EXPECT_EQ(db.count("mivo_import_supplier_banci"), c.banks) << c.doc;
    EXPECT_EQ(db.count("contab_furnizor"), 0) << c.doc;
  }
}

INSTANTIATE_TEST_SUITE_P(Policies, SupplierImport, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return p.param == Policy::Fast ? "Fast" : "Original"; });

// The server side: posting into the accounting tables.
using SupplierPosting = ImportTest;

TEST_F(SupplierPosting, ImportedAgainIsUpdatedNeverDuplicated) {
  TDataModule2 dm(settings());
  ASSERT_EQ(importText(dm, &TDataModule2::Supplier, kExample, example()), std::nullopt);

  // Renamed; the EUR account dropped, its entry now naming the ING account (with blanks): one account, with
  // the data of its first entry.
  std::string doc = example();
  const auto replace = [&](const std::string& from, const std::string& to) {
    const auto at = doc.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    doc.replace(at, from.size(), to);
  };
  replace(">Hotel Bulevard Regina<", ">Hotel Regina Palace<");
  replace("RO82BACX0000000123456781", "RO17 INGB 0000 9999 0123 4567");
  ASSERT_EQ(importText(dm, &TDataModule2::Supplier, "b_suppliers.xml", doc), std::nullopt);
  EXPECT_EQ(db.query("SELECT id_furnizor::text, denumire, activ::text, nume_fisier FROM contab_furnizor"),
            (Rows{{"7731", "Hotel Regina Palace", "true", "b_suppliers.xml"}}));
  EXPECT_EQ(db.query("SELECT cont, moneda, banca, sucursala, implicit::text FROM contab_furnizor_cont ORDER BY cont"),
            (Rows{{"RO09BACX0000000123456780", "RON", "UniCredit Tiriac Bank", "Sucursala Universitate", "true"},
                  {"RO17INGB0000999901234567", "EUR", "UniCredit Tiriac Bank", "Sucursala Universitate", "false"}}));

  // Deleted upstream: kept, marked inactive, with its accounts.
  ASSERT_EQ(importText(dm, &TDataModule2::Supplier, "d_suppliers.xml", supplier("", "id='7731' operation='delete'")),
            std::nullopt);
  EXPECT_EQ(db.query("SELECT denumire, activ::text, operation FROM contab_furnizor"),
            (Rows{{"Hotel Regina Palace", "false", "delete"}}));
  EXPECT_EQ(db.count("contab_furnizor_cont"), 2);

  ASSERT_EQ(importText(dm, &TDataModule2::Supplier, kExample, example()), std::nullopt);
  EXPECT_EQ(db.query("SELECT denumire, activ::text FROM contab_furnizor"), (Rows{{"Hotel Bulevard Regina", "true"}}));
  EXPECT_EQ(db.count("contab_furnizor_cont"), 3);
}

TEST_F(SupplierPosting, DataThatCannotBePostedFailsTheFileAndLeavesThePostingAlone) {
  TDataModule2 dm(settings());
  ASSERT_EQ(importText(dm, &TDataModule2::Supplier, kExample, example()), std::nullopt);
  struct Case {
    std::string doc;
    std::string message;
  };
  const std::string attributes = "id='7731' operation='update'";
  const Case cases[] = {
      {supplier("<company>Alt</company>", "operation='update'"),
       "Furnizorul din fisierul e_suppliers.xml nu are id (atributul id al elementului supplier)"},
      {supplier("<alias>Fara nume</alias>", attributes),
       "Furnizorul 7731 din fisierul e_suppliers.xml nu are denumire (company)"},
      {supplier("<company>Alt</company><bankAccountsList><b><account>A</account></b><b><bankName>B</bankName></b>"
                "<b><account> </account></b></bankAccountsList>",
                attributes),
       "Furnizorul 7731 din fisierul e_suppliers.xml: 2 cont(uri) din bankAccountsList nu au numar de cont (account)"},
      {supplier("<company>Alt</company><bankAccountsList><b default='implicit'><account>A</account></b>"
                "</bankAccountsList>",
                attributes),
       "Fisierul e_suppliers.xml: valoarea \"implicit\" a atributului default al unui cont nu este da/nu"},
  };
  for (const Case& c : cases) {
    const auto err = importText(dm, &TDataModule2::Supplier, "e_suppliers.xml", c.doc);
    ASSERT_TRUE(err.has_value()) << c.doc;
    EXPECT_NE(err->find(c.message), std::string::npos) << *err;
    EXPECT_NE(err->find("P0001"), std::string::npos) << *err;
    EXPECT_EQ(db.count("mivo_import_supplier"), 1);
    EXPECT_EQ(db.query("SELECT denumire, nume_fisier FROM contab_furnizor"),
              (Rows{{"Hotel Bulevard Regina", kExample}}));
    EXPECT_EQ(db.count("contab_furnizor_cont"), 3);
  }
}

// Corporation and supplier files in a run: admitted by their root element, imported, posted, moved.
TEST_F(SupplierPosting, PartnerFilesOfARunReachTheirImports) {
  const std::string corporations = "2014-06-30_13-52-45.74308705329895_corporations.xml";
  drop(corporations, testing_support::readFile(testing_support::sourceDir() + "/examples/" + corporations));
  drop(kExample, example());
  drop("x_suppliers.xml", "<corporation id='1'><company>C</company></corporation>");  // not admitted
  drop("y_corporations.xml", "<corporation><company>Fara id</company></corporation>");
  TDataModule2 dm(settings());
  dm.DataModuleCreate();
  EXPECT_EQ(testing_support::listFolder(processed()),
            (std::vector<std::string>{corporations, kExample, "x_suppliers.xml"}));
  EXPECT_EQ(testing_support::listFolder(failed()), (std::vector<std::string>{"y_corporations.xml"}));
  EXPECT_EQ(db.query("SELECT nume_fisier FROM mivo_import_log_err WHERE log_err LIKE '%nu are id%'"),
            (Rows{{"y_corporations.xml"}}));
  EXPECT_EQ(db.query("SELECT id_client::text FROM contab_corporatie"), (Rows{{"48213"}}));
  EXPECT_EQ(db.query("SELECT id_furnizor::text FROM contab_furnizor"), (Rows{{"7731"}}));
}

}  // namespace
