#include <gtest/gtest.h>

#include "support/testing.h"

namespace {

using testing_support::ImportTest;
using testing_support::Rows;
using staging::Policy;

const char* kBalance = R"(<?xml version="1.0" encoding="UTF-8"?>
<invoiceBalance operation="insert">
  <balanceDetails><number>DEC-17</number><date>2014-06-30T10:00:00</date></balanceDetails>
  <clientServices>
    <clientService><invoices>
      <invoice idInvoice="101" id="1"><invoiceNumber>FC-1</invoiceNumber><invoiceDate>2014-06-01</invoiceDate></invoice>
      <invoice idInvoice="102" id="2"><invoiceNumber>FC-2</invoiceNumber><invoiceDate>02.06.2014</invoiceDate></invoice>
    </invoices></clientService>
    <clientService><invoices>
      <invoice idInvoice="103" id="3"><invoiceNumber>FC-3</invoiceNumber></invoice>
      <invoice idInvoice="104" id="4"><invoiceNumber></invoiceNumber><invoiceDate>2014-06-04</invoiceDate></invoice>
    </invoices></clientService>
    <clientService/>
  </clientServices>
  <supplierInvoices>
    <supplierInvoice idInvoice="201" id="5"><invoiceNumber>FF-1</invoiceNumber><invoiceDate>2014-05-01</invoiceDate></supplierInvoice>
    <supplierInvoice idInvoice="202" id="6"><invoiceNumber>FF-2</invoiceNumber></supplierInvoice>
    <other idInvoice="203"><invoiceNumber>FF-3</invoiceNumber></other>
  </supplierInvoices>
</invoiceBalance>)";

const char* kSelect =
    "SELECT nume_fisier, operation, nr_decont, data_decont::text, id_invoice::text, id_row::text, data_doc::text, "
    "tip_doc, nr_doc FROM mivo_import_invoice_balances ORDER BY ctid";

class BalanceImport : public ImportTest, public ::testing::WithParamInterface<Policy> {};

TEST_P(BalanceImport, StagesEveryListedInvoiceClientServicesFirst) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "a_balance.xml", kBalance), std::nullopt);
  const Rows rows = db.query(kSelect);
  using R = testing_support::Row;
  const auto n = std::nullopt;
  const Rows expected = {
      R{"a_balance.xml", "insert", "DEC-17", "2014-06-30", "101", "1", "2014-06-01", "FactCI", "FC-1"},
      R{"a_balance.xml", "insert", "DEC-17", "2014-06-30", "102", "2", "2014-06-02", "FactCI", "FC-2"},
      R{"a_balance.xml", "insert", "DEC-17", "2014-06-30", "103", "3", n, "FactCI", "FC-3"},
      R{"a_balance.xml", "insert", "DEC-17", "2014-06-30", "104", "4", "2014-06-04", "FactCI", n},
      R{"a_balance.xml", "insert", "DEC-17", "2014-06-30", "201", "5", "2014-05-01", "FactFI", "FF-1"},
      R{"a_balance.xml", "insert", "DEC-17", "2014-06-30", "202", "6", n, "FactFI", "FF-2"},
      R{"a_balance.xml", "insert", "DEC-17", "2014-06-30", "203", n, n, "FactFI", "FF-3"},
  };
  EXPECT_EQ(rows, expected);
  // Posted by the server function.
  EXPECT_EQ(db.scalar("SELECT count(*) FROM contab_decont_doc WHERE nr_decont = 'DEC-17'"), "7");
}

TEST_P(BalanceImport, ImportedAgainReplacesTheEarlierPosting) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "a_balance.xml", kBalance), std::nullopt);
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "b_balance.xml", kBalance), std::nullopt);
  EXPECT_EQ(db.count("contab_decont"), 1);
  EXPECT_EQ(db.count("contab_decont_doc"), 7);
  EXPECT_EQ(db.scalar("SELECT nume_fisier FROM contab_decont"), "b_balance.xml");
  // The staging table holds the last file's rows only.
  EXPECT_EQ(db.scalar("SELECT string_agg(DISTINCT nume_fisier, ',') FROM mivo_import_invoice_balances"),
            "b_balance.xml");
}

TEST_P(BalanceImport, EmptyOrMissingListsStageNothingAndStillCallTheFunction) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "a_balance.xml", kBalance), std::nullopt);
  for (const char* doc : {"<invoiceBalance/>", "<invoiceBalance><clientServices/><supplierInvoices/></invoiceBalance>",
                          "<invoiceBalance><clientServices><s/></clientServices></invoiceBalance>"}) {
    db.countCalls("o_balance_mivo");
    ASSERT_EQ(importText(dm, &TDataModule2::Balance, "e_balance.xml", doc), std::nullopt) << doc;
    EXPECT_EQ(db.count("mivo_import_invoice_balances"), 0) << doc;
  }
  EXPECT_EQ(db.count("calls"), 3);
}

TEST_P(BalanceImport, MissingDetailsLeaveNullsAndMissingIdsLeaveNull) {
  TDataModule2 dm(settings(GetParam()));
  db.exec("CREATE OR REPLACE FUNCTION o_balance_mivo() RETURNS boolean LANGUAGE sql AS 'SELECT true'");
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "a_balance.xml",
                       "<invoiceBalance><supplierInvoices><s><invoiceNumber>X</invoiceNumber></s></supplierInvoices>"
                       "</invoiceBalance>"),
            std::nullopt);
  const Rows rows = db.query(kSelect);
  ASSERT_EQ(rows.size(), 1u);
  using R = testing_support::Row;
  EXPECT_EQ(rows[0], (R{"a_balance.xml", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                        std::nullopt, "FactFI", "X"}));
}

TEST_P(BalanceImport, BadDetailsDateFailsAtTheFirstRowBeforeAnythingIsPosted) {
  TDataModule2 dm(settings(GetParam()));
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "a_balance.xml", kBalance), std::nullopt);
  const auto err = importText(dm, &TDataModule2::Balance, "b_balance.xml",
                              "<invoiceBalance><balanceDetails><date>31.02.2014</date></balanceDetails>"
                              "<supplierInvoices><s id='1'/></supplierInvoices></invoiceBalance>");
  ASSERT_TRUE(err.has_value());
  EXPECT_NE(err->find("31.02.2014"), std::string::npos) << *err;
  EXPECT_NE(err->find("data_decont"), std::string::npos) << *err;
  EXPECT_NE(err->find("date"), std::string::npos) << *err;
  EXPECT_EQ(db.count("mivo_import_invoice_balances"), 0);
  EXPECT_EQ(db.scalar("SELECT nume_fisier FROM contab_decont"), "a_balance.xml");
}

TEST_P(BalanceImport, BadLaterRecordKeepsEarlierRowsAndSkipsTheFunction) {
  TDataModule2 dm(settings(GetParam()));
  const auto err = importText(dm, &TDataModule2::Balance, "b_balance.xml",
                              "<invoiceBalance><balanceDetails><number>D</number></balanceDetails><supplierInvoices>"
                              "<s idInvoice='1' id='1'/><s idInvoice='2' id='2'/><s idInvoice='3' id=''/>"
                              "<s idInvoice='4' id='4'/></supplierInvoices></invoiceBalance>");
  ASSERT_TRUE(err.has_value());
  EXPECT_NE(err->find("atributul \"id\""), std::string::npos) << *err;
  EXPECT_NE(err->find("id_row"), std::string::npos) << *err;
  EXPECT_NE(err->find("bigint"), std::string::npos) << *err;
  EXPECT_EQ(db.query("SELECT id_invoice::text FROM mivo_import_invoice_balances ORDER BY ctid"),
            (Rows{{"1"}, {"2"}}));
  EXPECT_EQ(db.count("contab_decont"), 0);
}

TEST_P(BalanceImport, ServerFunctionErrorFailsTheFileAndKeepsTheStagedRows) {
  TDataModule2 dm(settings(GetParam()));
  const auto err = importText(dm, &TDataModule2::Balance, "n_balance.xml",
                              "<invoiceBalance><supplierInvoices><s idInvoice='1' id='1'/></supplierInvoices>"
                              "</invoiceBalance>");
  ASSERT_TRUE(err.has_value());
  EXPECT_NE(err->find("nu are numar"), std::string::npos) << *err;
  EXPECT_NE(err->find("P0001"), std::string::npos) << *err;
  EXPECT_EQ(db.count("mivo_import_invoice_balances"), 1);
  // The connection is usable after the failure.
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "a_balance.xml", kBalance), std::nullopt);
}

// Pipelined rows are checked by the server after later rows were sent: the rows before a refused one
// must still be kept, and the refused row's error reported.
using BalanceImportFast = ImportTest;

TEST_F(BalanceImportFast, ServerRejectedRowKeepsTheRowsBeforeIt) {
  TDataModule2 dm(settings(Policy::Fast));
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "a_balance.xml", kBalance), std::nullopt);
  // A constraint added by a deployment refuses the third row on the server (the tables are re-created
  // only once per run).
  db.exec("DELETE FROM mivo_import_invoice_balances; ALTER TABLE mivo_import_invoice_balances ADD CHECK (id_row <> 3)");
  const auto err = importText(dm, &TDataModule2::Balance, "b_balance.xml", kBalance);
  ASSERT_TRUE(err.has_value());
  EXPECT_NE(err->find("23514"), std::string::npos) << *err;
  EXPECT_NE(err->find("randul 3"), std::string::npos) << *err;
  EXPECT_EQ(db.query("SELECT nume_fisier, id_row::text FROM mivo_import_invoice_balances ORDER BY ctid"),
            (Rows{{"b_balance.xml", "1"}, {"b_balance.xml", "2"}}));
  EXPECT_EQ(db.scalar("SELECT nume_fisier FROM contab_decont"), "a_balance.xml");
}

INSTANTIATE_TEST_SUITE_P(Policies, BalanceImport, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return p.param == Policy::Fast ? "Fast" : "Original"; });

}  // namespace
