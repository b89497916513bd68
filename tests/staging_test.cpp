// The staging layer over a long run of the fast policy: what a run of thousands of files does to the
// staging tables and to the statements it keeps prepared.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "support/testing.h"

namespace {

using testing_support::ImportTest;
using testing_support::Rows;

// A balance statement with `records` supplier invoices.
std::string balance(int number, int records) {
  std::string text = fmt::format(
      "<invoiceBalance operation='insert'><balanceDetails><number>D-{}</number><date>2014-06-30</date>"
      "</balanceDetails><supplierInvoices>",
      number);
  for (int i = 0; i < records; ++i)
    text += fmt::format(
        "<supplierInvoice idInvoice='{}' id='{}'><invoiceNumber>FF {} {}</invoiceNumber>"
        "<invoiceDate>2014-06-01</invoiceDate></supplierInvoice>",
        1000 + i, i, number, i);
  return text + "</supplierInvoices></invoiceBalance>";
}

class StagingRun : public ImportTest {
 protected:
  long tableBytes() {
    return std::stol(db.scalar("SELECT pg_total_relation_size('mivo_import_invoice_balances')").value());
  }
};

// Later files empty the tables with DELETE, which leaves the old rows behind until they are vacuumed:
// the tables must not grow with the number of files, and every file still sees only its own rows.
TEST_F(StagingRun, TablesStaySmallOverALongRun) {
  TDataModule2 dm(settings(staging::Policy::Fast));
  long early = 0;
  for (int n = 1; n <= 150; ++n) {
    const std::string name = fmt::format("{:03}_balance.xml", n);
    ASSERT_EQ(importText(dm, &TDataModule2::Balance, name, balance(n, 100)), std::nullopt) << name;
    if (n == 15) early = tableBytes();
  }
  EXPECT_GE(dm.staging.stats().vacuums, 10u);
  EXPECT_EQ(dm.staging.stats().scriptsRun, 1u);
  // Without the vacuums the table would hold the rows of all 150 files, ten times as many as after 15. A
  // vacuum cannot clear rows that another session's snapshot may still see (other tests share the
  // cluster), so the next one does: the table stays within a few times its early size.
  EXPECT_LT(tableBytes(), early * 4) << "after 15 files: " << early;
  EXPECT_EQ(db.query("SELECT DISTINCT nume_fisier FROM mivo_import_invoice_balances"), (Rows{{"150_balance.xml"}}));
  EXPECT_EQ(db.count("mivo_import_invoice_balances"), 100);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM contab_decont_doc"), "15000");
  EXPECT_EQ(db.scalar("SELECT count(*) FROM (SELECT nr_decont FROM contab_decont_doc GROUP BY nr_decont "
                      "HAVING count(*) = 100) d"),
            "150");
}

// The server import function is called through a prepared statement after its first call: a function
// replaced during the run (dropped and created again) is the one that runs for the next file.
TEST_F(StagingRun, ServerFunctionReplacedDuringTheRunIsTheOneCalled) {
  TDataModule2 dm(settings(staging::Policy::Fast));
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "1_balance.xml", balance(1, 2)), std::nullopt);
  ASSERT_EQ(importText(dm, &TDataModule2::Balance, "2_balance.xml", balance(2, 2)), std::nullopt);
  db.exec(
      "DROP FUNCTION o_balance_mivo(); CREATE FUNCTION o_balance_mivo() RETURNS boolean LANGUAGE plpgsql AS "
      "$$ BEGIN RAISE EXCEPTION 'functie inlocuita, % randuri', (SELECT count(*) FROM mivo_import_invoice_balances); "
      "END $$");
  const auto err = importText(dm, &TDataModule2::Balance, "3_balance.xml", balance(3, 3));
  ASSERT_TRUE(err.has_value());
  EXPECT_NE(err->find("functie inlocuita, 3 randuri"), std::string::npos) << *err;
  db.exec("DROP FUNCTION o_balance_mivo()");
  const auto missing = importText(dm, &TDataModule2::Balance, "4_balance.xml", balance(4, 1));
  ASSERT_TRUE(missing.has_value());
  EXPECT_NE(missing->find("o_balance_mivo"), std::string::npos) << *missing;
  // The rows of the failed file stay staged, committed.
  EXPECT_EQ(db.query("SELECT DISTINCT nume_fisier FROM mivo_import_invoice_balances"), (Rows{{"4_balance.xml"}}));
}

}  // namespace
