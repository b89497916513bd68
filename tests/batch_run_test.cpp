#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "support/testing.h"

namespace {

using testing_support::exists;
using testing_support::ImportTest;
using testing_support::listFolder;
using testing_support::readFile;
using testing_support::Rows;
using testing_support::runImportmivo;
using testing_support::TempDir;
using testing_support::writeFile;
using Names = std::vector<std::string>;

const char* kBalance =
    "<invoiceBalance operation='insert'><balanceDetails><number>D1</number><date>2014-06-30</date>"
    "</balanceDetails><supplierInvoices><s idInvoice='1' id='1'><invoiceNumber>F1</invoiceNumber></s>"
    "</supplierInvoices></invoiceBalance>";

class BatchRun : public ImportTest {
 protected:
  testing_support::ProcessResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--work-dir", work.path(), "--db", db.conninfo()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runImportmivo(args);
  }
  Rows errorLog() { return db.query("SELECT nume_fisier, log_err FROM mivo_import_log_err ORDER BY id"); }
};

// Every fate a file can have, in one run.
TEST_F(BatchRun, FateOfEveryFile) {
  drop("1_balance.xml", kBalance);                                    // imported
  drop("2_balance.xml", "<notABalance/>");                            // loads, not admitted
  drop("3_balance.xml", "<invoiceBalance><broken></invoiceBalance>");  // does not load
  drop("4_balance.xml",                                               // admitted, import fails
       "<invoiceBalance><supplierInvoices><s id='x'/></supplierInvoices></invoiceBalance>");
  drop("5_something.xml", "<invoiceBalance/>");                       // unrecognised name
  drop("notes.txt", "not an xml name");                               // not listed at all

  const auto r = run();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(listFolder(processed()), (Names{"1_balance.xml", "2_balance.xml"}));
  EXPECT_EQ(listFolder(failed()), (Names{"3_balance.xml", "4_balance.xml"}));
  EXPECT_EQ(listFolder(unrecognised()), (Names{"5_something.xml"}));
  EXPECT_EQ(listFolder(work.path()),
            (Names{"FisiereCuEroare", "FisiereNetratate", "FisiereTransferate", "notes.txt"}));

  const Rows log = errorLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0][0], "3_balance.xml");
  EXPECT_NE(log[0][1]->find("linia 1"), std::string::npos) << *log[0][1];
  EXPECT_EQ(log[1][0], "4_balance.xml");
  EXPECT_NE(log[1][1]->find("\"x\""), std::string::npos) << *log[1][1];
  EXPECT_EQ(db.scalar("SELECT nume_fisier FROM contab_decont"), "1_balance.xml");
  // The log's own columns are filled by the table.
  EXPECT_EQ(db.scalar("SELECT count(*) FROM mivo_import_log_err WHERE id IS NOT NULL AND data_log IS NOT NULL "
                      "AND cine = current_user AND cand IS NOT NULL"),
            "2");
}

TEST_F(BatchRun, AllImportedExitsZero) {
  drop("1_balance.xml", kBalance);
  drop("2_balance.xml", "<other/>");
  const auto r = run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(listFolder(processed()).size(), 2u);
  EXPECT_EQ(db.count("mivo_import_log_err"), 0);
}

TEST_F(BatchRun, CreatesMissingOutputFoldersWithItsMessages) {
  const auto r = run();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "Nu exista directorul fisierelor transferate. Se creaza.\n"
            "Nu exista directorul fisierelor netratate. Se creaza.\n"
            "Nu exista directorul fisierelor cu eroare. Se creaza.\n");
  EXPECT_TRUE(std::filesystem::is_directory(processed()));
  EXPECT_TRUE(std::filesystem::is_directory(unrecognised()));
  EXPECT_TRUE(std::filesystem::is_directory(failed()));
  // Present folders: nothing said.
  EXPECT_EQ(run().err, "");
}

TEST_F(BatchRun, FolderThatCannotBeCreatedIsReportedAndTheRunGoesOn) {
  writeFile(work.path() + "FisiereNetratate", "a file where the folder should be");
  drop("1_balance.xml", kBalance);
  drop("2_other.xml", "<x/>");
  const auto r = run();
  EXPECT_NE(r.err.find("Nu exista directorul fisierelor netratate. Se creaza.\nNu se poate crea directorul " +
                       work.path() + "FisiereNetratate/.\nNu exista directorul fisierelor cu eroare. Se creaza.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(listFolder(processed()), (Names{"1_balance.xml"}));
  // The unrecognised file cannot be moved and stays where it is.
  EXPECT_TRUE(exists(work.path() + "2_other.xml"));
}

TEST(BatchRunNoDatabase, EmptyOrMissingWorkFolderStopsBeforeConnecting) {
  TempDir work;
  writeFile(work.path() + "readme.txt", "x");
  // An unreachable database: a connection attempt would fail the run.
  const std::vector<std::string> db = {"--db", "host=/nonexistent-socket-dir port=1 connect_timeout=2"};
  auto args = std::vector<std::string>{"--work-dir", work.path()};
  args.insert(args.end(), db.begin(), db.end());
  const auto r = runImportmivo(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  args[1] = work.path() + "missing/";
  EXPECT_EQ(runImportmivo(args).exitCode, 0);
}

TEST(BatchRunNoDatabase, ConnectionFailureEndsTheRunWithStatusTwoAndMovesNothing) {
  TempDir work;
  writeFile(work.path() + "1_balance.xml", kBalance);
  writeFile(work.path() + "2_other.xml", "<x/>");
  const auto r = runImportmivo(
      {"--work-dir", work.path(), "--db", "host=/nonexistent-socket-dir port=1 connect_timeout=2"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Nu se poate face conexiunea la baza de date"), std::string::npos) << r.err;
  EXPECT_TRUE(exists(work.path() + "1_balance.xml"));
  EXPECT_TRUE(exists(work.path() + "2_other.xml"));
  EXPECT_TRUE(listFolder(work.path() + "FisiereTransferate").empty());
}

TEST_F(BatchRun, FilesAreHandledListByListAndInByteOrderWithinAList) {
  // Load failures are logged in the order the files are handled.
  for (const char* name : {"b_balance.xml", "a_balance.xml", "Z_balance.xml", "c_cashing_receipt.xml",
                           "d_corporations.xml", "e_invoice.xml", "f_payment.xml", "g_supplierInvoices.xml",
                           "h_suppliers.xml", "i_cashing_tradeExchange.xml"})
    drop(name, "<broken");
  run();
  Rows expected;
  for (const char* name : {"d_corporations.xml", "h_suppliers.xml", "e_invoice.xml", "g_supplierInvoices.xml",
                           "c_cashing_receipt.xml", "f_payment.xml", "i_cashing_tradeExchange.xml", "Z_balance.xml",
                           "a_balance.xml", "b_balance.xml"})
    expected.push_back({name});
  EXPECT_EQ(db.query("SELECT nume_fisier FROM mivo_import_log_err ORDER BY id"), expected);
}

TEST_F(BatchRun, FolderNamedLikeAnInputFileIsLoggedOnEveryRunAndStays) {
  std::filesystem::create_directories(work.path() + "dir_balance.xml");
  run();
  run();
  EXPECT_TRUE(std::filesystem::is_directory(work.path() + "dir_balance.xml"));
  EXPECT_EQ(db.query("SELECT nume_fisier FROM mivo_import_log_err"), (Rows{{"dir_balance.xml"}, {"dir_balance.xml"}}));
}

TEST_F(BatchRun, FailingOnTwoRunsGivesTwoLogRowsAndTheErrorTextIsStoredUnchanged) {
  TDataModule2 dm(settings());
  dm.Connect();
  const std::string text = "linia 1\nlinia 2 'ghilimele' \"duble\"; DROP TABLE x; --\t" + std::string(20000, 'x');
  dm.ScrieLogErr("a_balance.xml", text);
  dm.ScrieLogErr("a_balance.xml", text);
  EXPECT_EQ(db.query("SELECT nume_fisier, log_err FROM mivo_import_log_err ORDER BY id"),
            (Rows{{"a_balance.xml", text}, {"a_balance.xml", text}}));
}

// The next file is read while the server posts the one in hand, under both policies: each file still gets
// its own document and its own load error, the next list's first file is read ahead too, and nothing read
// ahead outlives its run (a file changed before the next run is read again).
class ReadAhead : public BatchRun, public ::testing::WithParamInterface<staging::Policy> {};

TEST_P(ReadAhead, EachFileGetsItsOwnDocumentAndNothingOutlivesTheRun) {
  const auto balance = [](const std::string& number) {
    return "<invoiceBalance><balanceDetails><number>" + number +
           "</number></balanceDetails><supplierInvoices><s idInvoice='1' id='1'/></supplierInvoices>"
           "</invoiceBalance>";
  };
  drop("1_balance.xml", balance("D1"));
  drop("2_balance.xml", "<invoiceBalance><broken></invoiceBalance>");
  drop("3_balance.xml", balance("D3"));
  drop("4_balance.xml", balance("D4"));
  drop("0_invoice.xml", "<statement/>");  // another list, before the balances: set aside

  TDataModule2 dm(settings(GetParam()));
  std::vector<std::string> seen;
  dm.onFile = [&](const FileOutcome& o) { seen.push_back(o.name + (o.error.empty() ? "" : ": " + o.error)); };
  int asked = 0;
  dm.stopRequested = [&] { return ++asked == 5; };  // stops before 4_balance.xml, which has been read ahead
  dm.DataModuleCreate();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], "0_invoice.xml");
  EXPECT_EQ(seen[1], "1_balance.xml");
  EXPECT_NE(seen[2].find("2_balance.xml: Documentul XML"), std::string::npos) << seen[2];
  EXPECT_NE(seen[2].find("/2_balance.xml\" nu poate fi incarcat: linia 1"), std::string::npos) << seen[2];
  EXPECT_EQ(seen[3], "3_balance.xml");
  EXPECT_GT(dm.totals.parseAheadTime.count(), 0);
  EXPECT_EQ(db.query("SELECT nr_decont FROM contab_decont ORDER BY 1"), (Rows{{"D1"}, {"D3"}}));

  drop("4_balance.xml", balance("D4-corectat"));
  seen.clear();
  dm.stopRequested = nullptr;
  dm.DataModuleCreate();
  EXPECT_EQ(seen, (Names{"4_balance.xml"}));
  EXPECT_EQ(db.query("SELECT nr_decont FROM contab_decont ORDER BY 1"), (Rows{{"D1"}, {"D3"}, {"D4-corectat"}}));
}

INSTANTIATE_TEST_SUITE_P(Policies, ReadAhead, ::testing::Values(staging::Policy::Fast, staging::Policy::Original),
                         [](const auto& p) { return p.param == staging::Policy::Fast ? "Fast" : "Original"; });

// The file mover: replaces a same-named file in the target, ignores folders and missing names.
TEST(FileMover, Cases) {
  TempDir dir;
  const std::string src = dir.path() + "src/", dst = dir.path() + "dst/";
  std::filesystem::create_directories(src);
  std::filesystem::create_directories(dst);
  writeFile(src + "a.xml", "new");
  writeFile(dst + "a.xml", "old");
  EXPECT_TRUE(TDataModule2::MutaFisier("a.xml", src, dst));
  EXPECT_EQ(readFile(dst + "a.xml"), "new");
  EXPECT_FALSE(exists(src + "a.xml"));

  // A read-only file of the same name is replaced too: on this platform, replacing depends on the
  // folder's permissions, not the file's.
  writeFile(src + "b.xml", "new");
  writeFile(dst + "b.xml", "old");
  ::chmod((dst + "b.xml").c_str(), 0444);
  EXPECT_TRUE(TDataModule2::MutaFisier("b.xml", src, dst));
  EXPECT_EQ(readFile(dst + "b.xml"), "new");

  // A folder, or a name that is not there: nothing happens.
  std::filesystem::create_directories(src + "c.xml");
  EXPECT_FALSE(TDataModule2::MutaFisier("c.xml", src, dst));
  EXPECT_TRUE(std::filesystem::is_directory(src + "c.xml"));
  EXPECT_FALSE(exists(dst + "c.xml"));
  EXPECT_FALSE(TDataModule2::MutaFisier("missing.xml", src, dst));

  // A missing target folder: the file stays where it is.
  writeFile(src + "d.xml", "d");
  EXPECT_FALSE(TDataModule2::MutaFisier("d.xml", src, dir.path() + "nofolder/"));
  EXPECT_EQ(readFile(src + "d.xml"), "d");
}

TEST(CommandLine, HelpVersionAndUsageErrors) {
  auto r = runImportmivo({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("--work-dir"), std::string::npos);
  EXPECT_NE(r.out.find("PGSERVICE"), std::string::npos);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
  r = runImportmivo({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("importmivo ", 0), 0u) << r.out;
  r = runImportmivo({"--no-such-option"});
  EXPECT_EQ(r.exitCode, 64);
  EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
  r = runImportmivo({"--work-dir"});
  EXPECT_EQ(r.exitCode, 64);
  r = runImportmivo({"--work-dir", ""});
  EXPECT_EQ(r.exitCode, 64);
  r = runImportmivo({"stray-argument"});
  EXPECT_EQ(r.exitCode, 64);
}

}  // namespace
