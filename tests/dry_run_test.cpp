// The staging layer's dry run: every file is staged and posted for real inside a transaction that is
// rolled back at the end of the file; nothing durable is written, whatever the staging policy.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "support/testing.h"

namespace {

using staging::Policy;
using testing_support::ImportTest;
using testing_support::listFolder;
using testing_support::readFile;
using testing_support::runImportmivo;
using testing_support::sourceDir;
using testing_support::TempDir;

std::string balance(const std::string& number, const std::string& id = "1") {
  return "<invoiceBalance operation='insert'><balanceDetails><number>" + number +
         "</number><date>2014-06-30</date></balanceDetails><supplierInvoices><s idInvoice='" + id +
         "' id='1'><invoiceNumber>F1</invoiceNumber></s></supplierInvoices></invoiceBalance>";
}

// Every table and sequence of the test schema with its identity and a digest of its content: equal
// fingerprints mean nothing was created, dropped, re-created, written or drawn from a sequence.
constexpr const char* kFingerprint = R"(
  SELECT string_agg(format('%s/%s/%s', c.relname, c.oid,
           (xpath('/row/h/text()', query_to_xml(format(
              CASE WHEN c.relkind = 'S' THEN 'SELECT last_value || '':'' || is_called AS h FROM %I'
                   ELSE 'SELECT md5(coalesce(string_agg(t::text, ''|'' ORDER BY t::text), '''')) AS h FROM %I t'
              END, c.relname), false, true, '')))[1]::text), E'\n' ORDER BY c.relname)
  FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
  WHERE c.relkind IN ('r', 'S') AND n.nspname = current_schema())";

class DryRunStaging : public ImportTest, public ::testing::WithParamInterface<Policy> {
 protected:
  std::string fingerprint() { return db.scalar(kFingerprint).value_or(""); }
  RunSettings dryRun() const {
    RunSettings s = settings(GetParam());
    s.dryRun = true;
    return s;
  }
  static bool idle(TDataModule2& dm) { return PQtransactionStatus(dm.pgConn.get()) == PQTRANS_IDLE; }
};

TEST_P(DryRunStaging, EveryFileRunsInFullAndIsRolledBackAtItsEnd) {
  // A real import first: its staging rows and its posting are what must survive.
  {
    TDataModule2 real(settings(GetParam()));
    ASSERT_EQ(importText(real, &TDataModule2::Balance, "a_balance.xml", balance("D0")), std::nullopt);
  }
  const std::string before = fingerprint();
  ASSERT_NE(before.find("mivo_import_invoice_balances"), std::string::npos) << before;

  TDataModule2 dm(dryRun());
  struct Case {
    const char* name;
    std::string xml;
    const char* failure;  // a text of the expected failure; nullptr: the import succeeds
  };
  const Case cases[] = {
      {"b_balance.xml", balance("D1"), nullptr},
      {"c_balance.xml", balance("D0"), nullptr},  // would replace the real posting
      {"d_balance.xml", balance("D2", "x"), "\"x\""},
      // Refused by the server function: it did run, inside the file's transaction.
      {"e_balance.xml", balance(""), "nu are numar"},
      {"f_balance.xml", balance("D3"), nullptr},  // a failure leaves the next file a clean transaction
  };
  for (const Case& c : cases) {
    const auto failure = importText(dm, &TDataModule2::Balance, c.name, c.xml);
    if (c.failure == nullptr) {
      EXPECT_EQ(failure, std::nullopt) << c.name;
    } else {
      ASSERT_TRUE(failure.has_value()) << c.name;
      EXPECT_NE(failure->find(c.failure), std::string::npos) << *failure;
    }
    EXPECT_TRUE(idle(dm)) << c.name << ": the file's transaction is over when its import returns";
    EXPECT_EQ(fingerprint(), before) << c.name;
  }
  EXPECT_EQ(dm.staging.stats().functionsCalled, 3u);

  // The error-log row of a failed file is not written at all.
  dm.ScrieLogErr("e_balance.xml", "nu se scrie");
  EXPECT_EQ(fingerprint(), before);
  EXPECT_EQ(db.scalar("SELECT string_agg(nume_fisier, ',') FROM mivo_import_invoice_balances"), "a_balance.xml");
  EXPECT_EQ(db.scalar("SELECT string_agg(nume_fisier, ',') FROM contab_decont"), "a_balance.xml");
}

// A kind whose staging tables do not exist yet: its script runs for every file, since the rollback of
// one file takes the tables away again, and they are still missing afterwards.
TEST_P(DryRunStaging, StagingScriptsRunForEveryFileAndLeaveNoTables) {
  const std::string payment = readFile(sourceDir() + "/examples/2014-07-03_11-40-08.12873409871235_payment.xml");
  ASSERT_FALSE(payment.empty());
  const std::string before = fingerprint();
  TDataModule2 dm(dryRun());
  for (const char* name : {"a_payment.xml", "b_payment.xml", "c_payment.xml"})
    EXPECT_EQ(importText(dm, &TDataModule2::Payment, name, payment), std::nullopt) << name;
  EXPECT_EQ(dm.staging.stats().scriptsRun, 3u);
  EXPECT_GT(dm.staging.stats().rowsStaged, 3u);
  EXPECT_EQ(db.scalar("SELECT to_regclass('mivo_import_op_pl')::text"), std::nullopt);
  EXPECT_EQ(fingerprint(), before);

  // The same file imported for real goes through, as the dry run said it would.
  TDataModule2 real(settings(GetParam()));
  EXPECT_EQ(importText(real, &TDataModule2::Payment, "a_payment.xml", payment), std::nullopt);
  EXPECT_NE(fingerprint(), before);
}

// The whole program: a dry run over a mixed work folder tells what a real run would do, and leaves the
// database and the folders as they were, whether the output folders and staging tables exist or not.
class DryRunProgram : public ImportTest {
 protected:
  testing_support::ProcessResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--work-dir", work.path(), "--db", db.conninfo(), "--report", reportPath};
    args.insert(args.end(), extra.begin(), extra.end());
    return runImportmivo(args);
  }
  std::string fingerprint() { return db.scalar(kFingerprint).value_or(""); }
  // Every entry under the work folder with its content.
  std::map<std::string, std::string> folders() {
    std::map<std::string, std::string> all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(work.path()))
      all[e.path().string()] = e.is_regular_file() ? readFile(e.path().string()) : "(folder)";
    return all;
  }
  // name -> fate, rows and error, from the report of the last run.
  std::map<std::string, std::string> outcomes() {
    const auto report = nlohmann::json::parse(readFile(reportPath));
    std::map<std::string, std::string> out;
    for (const auto& f : report["files"])
      out[f["name"]] = fmt::format("{} {} {}", f["fate"].get<std::string>(), f["rows"].get<long>(), f["error"].dump());
    return out;
  }
  void dropMixed(const std::string& prefix) {
    drop(prefix + "a_payment.xml", readFile(sourceDir() + "/examples/2014-07-03_11-40-08.12873409871235_payment.xml"));
    drop(prefix + "b_balance.xml", balance("D1"));
    drop(prefix + "c_balance.xml", "<other/>");
    drop(prefix + "d_balance.xml", "<broken");
    drop(prefix + "e_balance.xml", balance("", "2"));  // refused by the server function
    drop(prefix + "f_balance.xml", balance("D3", "x"));
    drop(prefix + "g_unknown.xml", "<x/>");
  }

  TempDir reports;
  std::string reportPath = reports.path() + "report.json";
};

TEST_F(DryRunProgram, TellsWhatARunWouldDoAndChangesNothing) {
  dropMixed("1");
  const std::string db0 = fingerprint();
  const auto folders0 = folders();
  auto r = run({"--dry-run"});
  EXPECT_EQ(r.exitCode, 1) << r.err;  // as the real run will: some file fails
  EXPECT_EQ(fingerprint(), db0);
  EXPECT_EQ(folders(), folders0);  // not even the output folders were created
  EXPECT_NE(r.err.find("Simulare: directorul " + work.path() + "FisiereCuEroare/ lipseste"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("Simulare (--dry-run)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Fisiere care ar esua (3):"), std::string::npos) << r.out;
  EXPECT_EQ(nlohmann::json::parse(readFile(reportPath))["dry_run"], true);
  const auto predicted = outcomes();
  ASSERT_EQ(predicted.size(), 7u);

  // The real run does what the dry run said.
  r = run();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(outcomes(), predicted);
  EXPECT_EQ(listFolder(failed()), (std::vector<std::string>{"1d_balance.xml", "1e_balance.xml", "1f_balance.xml"}));

  // Again over a database that now has staging tables, postings and log rows, and existing folders.
  dropMixed("2");
  const std::string db1 = fingerprint();
  const auto folders1 = folders();
  r = run({"--dry-run", "--verbose"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(fingerprint(), db1);
  EXPECT_EQ(folders(), folders1);
  EXPECT_NE(r.err.find("importmivo: 2b_balance.xml: (simulare) importat, 1 rand, "), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Policies, DryRunStaging, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return p.param == Policy::Fast ? "Fast" : "Original"; });

}  // namespace
