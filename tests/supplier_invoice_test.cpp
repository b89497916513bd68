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

const std::string kExampleName = "2014-07-02_09-15-22.51230498761234_supplierInvoices.xml";

std::string example() { return testing_support::example(kExampleName); }

const char* kHeaderSelect =
    "SELECT nume_fisier, operation, doc_type, id::text, invoice_number, invoice_series, invoice_date::text, moneda, "
    "curs::text, data_scadenta::text, comentarii, remarks, furnizor_id::text, furnizor_alias, f_company_sufix, "
    "f_company_prefix, f_company, f_adresa, f_cod_postal, f_cod_tara, f_tara, f_localitate, f_judet, f_cui, "
    "f_reg_com, emitent_resp_firstname, emitent_resp_lastname, emitent_resp_cnp, emitent_resp_ci_seria, "
    "emitent_resp_ci_numar, emitent_resp_ci_elib, emitent_resp_ci_data_elib::text, emitent_resp_office, "
    "emitent_resp_departament, invoice_number_zek, invoice_date_zek::text FROM mivo_import_ff";

const char* kLineSelect =
    "SELECT nume_fisier, operation, invoice_number, invoice_series, invoice_date::text, dp_id::text, "
    "dp_id_scv::text, dp_scv::text, dp_service_name, dp_measureUnit, dp_quantity::text, dp_unitPrice::text, "
    "dp_value::text, dp_vat::text, dp_vatPercent::text, dp_vatQuota, dp_description, dp_cod_tara, dp_tara_loc, "
    "dp_tara, dp_localitate, dp_passenger_lastname, dp_passenger_firstname, dp_check_in, dp_reservation_number, "
    "dp_offer_ext_id, dp_supplier_product, dp_ticket_no, dp_cont1, dp_cont2, dp_cont3, dp_cont11, dp_cont21, "
    "dp_cont31, dp_tip_tva FROM mivo_import_ff_poz ORDER BY dp_scv";

class SupplierInvoiceImport : public ImportTest, public ::testing::WithParamInterface<Policy> {};

TEST_P(SupplierInvoiceImport, ExampleFileIsStagedColumnByColumnAndPosted) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, kExampleName, example()), std::nullopt);

  const std::string& f = kExampleName;
  EXPECT_EQ(db.query(kHeaderSelect), (Rows{{f,
                                            "insert",
                                            "supplierInvoice",
                                            "48213",
                                            "0004512",
                                            "HBV",
                                            "2014-06-30",
                                            "EUR",
                                            "4.3862",
                                            "2014-07-30",
                                            "Cazare grup Antalya, contract 112/2014",
                                            "Factura primita prin e-mail",
                                            "3071",
                                            "Hotel Belvedere",
                                            "SRL",
                                            "SC",
                                            "Belvedere Turism",
                                            "Str. Mihai Eminescu nr. 14",
                                            "900178",
                                            "RO",
                                            "Romania",
                                            "Mamaia",
                                            "Constanta",
                                            "RO14823390",
                                            "J13/1544/2002",
                                            "Ioana",
                                            "Popescu",
                                            "2780512400123",
                                            "RX",
                                            "418273",
                                            "SPCEP Sector 3",
                                            "2011-03-15",
                                            "Bucuresti Unirii",
                                            "Turism extern",
                                            N,
                                            N}}));
  EXPECT_EQ(db.query(kLineSelect), (Rows{{f,
                                          "insert",
                                          "0004512",
                                          "HBV",
                                          "2014-06-30",
                                          "48213",
                                          "91001",
                                          "1",
                                          "Cazare",
                                          "noapte",
                                          "7",
                                          "85.5",
                                          "598.5",
                                          "0",
                                          "0",
                                          "SDD",
                                          "Camera dubla, demipensiune",
                                          "TR",
                                          "Antalya",
                                          "Turcia",
                                          "Antalya",
                                          "Ionescu",
                                          "Mihai",
                                          "2014-06-21 14:00",
                                          "BV-77812",
                                          "EXT-5531",
                                          "Belvedere Lara 4*",
                                          N,
                                          "401",
                                          "604",
                                          "4426",
                                          "401.01",
                                          "604.01",
                                          "4426.01",
                                          "TVA marja"},
                                         {f,
                                          "insert",
                                          "0004512",
                                          "HBV",
                                          "2014-06-30",
                                          "48213",
                                          "91002",
                                          "2",
                                          "Transfer",
                                          "buc",
                                          "2",
                                          "25",
                                          "50",
                                          "9.5",
                                          "19",
                                          "S",
                                          "Transfer aeroport - hotel, dus-intors",
                                          "TR",
                                          N,
                                          "Turcia",
                                          "Antalya",
                                          "Ionescu",
                                          "Mihai",
                                          N,
                                          "BV-77812",
                                          N,
                                          N,
                                          N,
                                          "401",
                                          "628",
                                          N,
                                          N,
                                          N,
                                          N,
                                          "TVA normal"}}));

  // Posted by the server function.
  EXPECT_EQ(db.query("SELECT id_factura::text, numar, serie, data_factura::text, id_furnizor::text, furnizor, "
                     "total_valoare::text, total_tva::text, nume_fisier FROM contab_factfi"),
            (Rows{{"48213", "0004512", "HBV", "2014-06-30", "3071", "Belvedere Turism", "648.5", "9.5", f}}));
  EXPECT_EQ(
      db.query("SELECT id_poz::text, nr_poz::text, serviciu, valoare::text, pasager FROM contab_factfi_poz "
               "ORDER BY nr_poz"),
      (Rows{{"91001", "1", "Cazare", "598.5", "Mihai Ionescu"}, {"91002", "2", "Transfer", "50", "Mihai Ionescu"}}));
}

TEST_P(SupplierInvoiceImport, LinesOfAnyNameAreNumberedInOrderAndCarryTheHeader) {
  TDataModule2 dm(settings(GetParam()));
  db.countCalls("o_insert_factfi_mivo");
  // The header's series is empty, so the lines copy NULL; its date is converted once and reaches the
  // lines as a date.
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, "a_supplierInvoices.xml",
                       "<supplierInvoice operation='update' id='5'><invoiceNumber>F-9</invoiceNumber>"
                       "<invoiceSeries/><invoiceDate>30.06.2014 13:45</invoiceDate><currency>RON</currency>"
                       "<invoiceRows><row id='30'/><line id='10'><service/><country code='IT' location='Roma'>"
                       "Italia</country></line><x id='20'><service name=''/></x></invoiceRows></supplierInvoice>"),
            std::nullopt);
  EXPECT_EQ(db.query("SELECT moneda, curs FROM mivo_import_ff"), (Rows{{"RON", N}}));
  EXPECT_EQ(db.query("SELECT dp_scv::text, dp_id_scv::text, dp_id::text, operation, invoice_number, invoice_series, "
                     "invoice_date::text, dp_service_name, dp_cod_tara, dp_tara_loc, dp_tara FROM mivo_import_ff_poz "
                     "ORDER BY dp_scv"),
            (Rows{{"1", "30", "5", "update", "F-9", N, "2014-06-30", N, N, N, N},
                  {"2", "10", "5", "update", "F-9", N, "2014-06-30", N, "IT", "Roma", "Italia"},
                  {"3", "20", "5", "update", "F-9", N, "2014-06-30", "", N, N, N}}));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM mivo_import_ff_poz p JOIN mivo_import_ff h USING (invoice_date)"), "3");
  EXPECT_EQ(db.count("calls"), 1);
}

TEST_P(SupplierInvoiceImport, WithoutLinesOnlyTheHeaderIsStagedAndTheFunctionStillRuns) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, "a_supplierInvoices.xml", example()), std::nullopt);
  db.countCalls("o_insert_factfi_mivo");
  for (const char* doc : {"<supplierInvoice id='1'/>", "<supplierInvoice id='2'><invoiceRows/></supplierInvoice>"}) {
    ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, "e_supplierInvoices.xml", doc), std::nullopt) << doc;
    // The earlier file's rows are gone.
    EXPECT_EQ(db.query("SELECT nume_fisier FROM mivo_import_ff"), (Rows{{"e_supplierInvoices.xml"}})) << doc;
    EXPECT_EQ(db.count("mivo_import_ff_poz"), 0) << doc;
  }
  EXPECT_EQ(db.count("calls"), 2);
}

TEST_P(SupplierInvoiceImport, OnlyTheRemarkTextIsRead) {
  db.exec("CREATE TABLE mivo_import_ff_remarks (nume_fisier text)");
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, kExampleName, example()), std::nullopt);
  EXPECT_EQ(db.scalar("SELECT remarks FROM mivo_import_ff"), "Factura primita prin e-mail");
  // The staging script drops the remarks table and creates none.
  EXPECT_EQ(db.scalar("SELECT to_regclass('mivo_import_ff_remarks')::text"), N);
}

TEST_P(SupplierInvoiceImport, ImportedAgainReplacesThePostingAndDeleteRemovesIt) {
  TDataModule2 dm(settings(GetParam()));
  std::string doc = example();
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, "a_supplierInvoices.xml", doc), std::nullopt);
  // The same invoice again, with its second line gone.
  const auto from = doc.find("<row id=\"91002\">"), to = doc.find("</invoiceRows>");
  ASSERT_NE(from, std::string::npos);
  doc.erase(from, to - from);
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, "b_supplierInvoices.xml", doc), std::nullopt);
  EXPECT_EQ(db.query("SELECT nume_fisier, total_valoare::text FROM contab_factfi"),
            (Rows{{"b_supplierInvoices.xml", "598.5"}}));
  EXPECT_EQ(db.query("SELECT id_poz::text FROM contab_factfi_poz"), (Rows{{"91001"}}));

  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, "c_supplierInvoices.xml",
                       "<supplierInvoice operation='delete' id='48213'/>"),
            std::nullopt);
  EXPECT_EQ(db.count("contab_factfi"), 0);
  EXPECT_EQ(db.count("contab_factfi_poz"), 0);
}

// Failures while staging: the message names the row (and what was wrong with it), the rows posted
// before the failing one stay staged, and nothing is posted.
TEST_P(SupplierInvoiceImport, StagingFailuresKeepTheEarlierRowsAndPostNothing) {
  struct Case {
    const char* what;
    const char* doc;
    std::vector<const char*> message;
    long headers;
    Rows lineIds;
  };
  const Case cases[] = {
      {"root without id",
       "<supplierInvoice><invoiceRows><row id='1'/></invoiceRows></supplierInvoice>",
       {"23502", "dsmivo_import_ff, randul 1"},
       0,
       {}},
      {"line without id",
       "<supplierInvoice id='7'><invoiceRows><row id='1'/><row/><row id='3'/></invoiceRows></supplierInvoice>",
       {"23502", "dp_id_scv", "dsmivo_import_ff_poz, randul 2"},
       1,
       {{"1"}}},
      {"duplicate line id",
       "<supplierInvoice id='7'><invoiceRows><row id='1'/><row id='2'/><row id='1'/><row id='4'/></invoiceRows>"
       "</supplierInvoice>",
       {"23505", "ff_poz", "dsmivo_import_ff_poz, randul 3"},
       1,
       {{"1"}, {"2"}}},
      {"quantity that is not a number",
       "<supplierInvoice id='7'><invoiceRows><row id='1'><quantity>1.5</quantity></row>"
       "<row id='2'><quantity>2 buc</quantity></row></invoiceRows></supplierInvoice>",
       {"2 buc", "dp_quantity", "double precision"},
       1,
       {{"1"}}},
      {"bad due date",
       "<supplierInvoice id='7'><dueDate>31.06.2014</dueDate></supplierInvoice>",
       {"31.06.2014", "data_scadenta"},
       0,
       {}},
      {"element where a text is expected",
       "<supplierInvoice id='7'><invoiceRows><row id='1'/><row id='2'><passenger><lastName><b>X</b></lastName>"
       "</passenger></row></invoiceRows></supplierInvoice>",
       {"Element \"lastName\" does not contain a single text node"},
       1,
       {{"1"}}},
  };
  TDataModule2 dm(settings(GetParam()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto err = importText(dm, &TDataModule2::SupplierInvoice, "f_supplierInvoices.xml", c.doc);
    ASSERT_TRUE(err.has_value());
    for (const char* part : c.message) EXPECT_NE(err->find(part), std::string::npos) << part << " in: " << *err;
    EXPECT_EQ(db.count("mivo_import_ff"), c.headers);
    EXPECT_EQ(db.query("SELECT dp_id_scv::text FROM mivo_import_ff_poz ORDER BY dp_scv"), c.lineIds);
    EXPECT_EQ(db.count("contab_factfi"), 0);
  }
  // The connection and the staging tables serve the next file.
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, kExampleName, example()), std::nullopt);
  EXPECT_EQ(db.count("mivo_import_ff_poz"), 2);
  EXPECT_EQ(db.count("contab_factfi"), 1);
}

TEST_P(SupplierInvoiceImport, ServerRefusesAnInvoiceItCannotPostAndKeepsTheStagedRows) {
  struct Case {
    const char* doc;
    const char* message;
  };
  const Case cases[] = {
      {"<supplierInvoice id='9'><invoiceDate>2014-06-30</invoiceDate><supplier id='1'/>"
       "<invoiceRows><row id='1'/></invoiceRows></supplierInvoice>",
       "Factura furnizor 9 din fisierul s_supplierInvoices.xml nu are numar (invoiceNumber)"},
      {"<supplierInvoice id='9'><invoiceNumber>F1</invoiceNumber><supplier id='1'/>"
       "<invoiceRows><row id='1'/></invoiceRows></supplierInvoice>",
       "nu are data (invoiceDate)"},
      {"<supplierInvoice id='9'><invoiceNumber>F1</invoiceNumber><invoiceDate>2014-06-30</invoiceDate>"
       "<invoiceRows><row id='1'/></invoiceRows></supplierInvoice>",
       "nu are furnizor (atributul id al elementului supplier)"},
  };
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, kExampleName, example()), std::nullopt);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    const auto err = importText(dm, &TDataModule2::SupplierInvoice, "s_supplierInvoices.xml", c.doc);
    ASSERT_TRUE(err.has_value());
    EXPECT_NE(err->find(c.message), std::string::npos) << *err;
    EXPECT_NE(err->find("P0001"), std::string::npos) << *err;
    EXPECT_EQ(db.count("mivo_import_ff"), 1);
    EXPECT_EQ(db.count("mivo_import_ff_poz"), 1);
    // The earlier posting is untouched.
    EXPECT_EQ(db.query("SELECT id_factura::text, nume_fisier FROM contab_factfi"), (Rows{{"48213", kExampleName}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Policies, SupplierInvoiceImport, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return p.param == Policy::Fast ? "Fast" : "Original"; });

using SupplierInvoiceTables = ImportTest;

// The keys the server relies on, and the mixed-case line columns as the server stores them.
TEST_F(SupplierInvoiceTables, KeysAndLowerCaseLineColumns) {
  TDataModule2 dm(settings());
  db.countCalls("o_insert_factfi_mivo");
  ASSERT_EQ(importText(dm, &TDataModule2::SupplierInvoice, "a_supplierInvoices.xml", "<supplierInvoice id='1'/>"),
            std::nullopt);
  EXPECT_EQ(
      db.query("SELECT conname::text, pg_get_constraintdef(oid) FROM pg_constraint WHERE conrelid IN "
               "('mivo_import_ff'::regclass, 'mivo_import_ff_poz'::regclass) ORDER BY conname"),
      (Rows{{"ff_pkey", "PRIMARY KEY (nume_fisier, id)"}, {"ff_poz", "PRIMARY KEY (nume_fisier, dp_id, dp_id_scv)"}}));
  const std::string columns =
      "SELECT column_name::text FROM information_schema.columns WHERE table_schema = current_schema() AND "
      "table_name IN ('mivo_import_ff', 'mivo_import_ff_poz') ";
  EXPECT_EQ(db.query(columns + "AND column_name IN ('dp_measureunit', 'dp_unitprice', 'dp_vatpercent', "
                               "'dp_vatquota') ORDER BY ordinal_position"),
            (Rows{{"dp_measureunit"}, {"dp_unitprice"}, {"dp_vatpercent"}, {"dp_vatquota"}}));
  EXPECT_EQ(db.query(columns + "AND column_name <> lower(column_name)"), Rows{});
}

}  // namespace
