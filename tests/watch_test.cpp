// Service mode (--watch): a stop request finishes the file in hand and loses nothing; a run that broke
// down is retried at the next interval over a new connection.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "support/testing.h"

namespace {

using testing_support::exists;
using testing_support::ImportTest;
using testing_support::listFolder;
using testing_support::readFile;
using testing_support::TempDir;
using Names = std::vector<std::string>;
using namespace std::chrono_literals;

std::string balance(const std::string& number) {
  return "<invoiceBalance operation='insert'><balanceDetails><number>" + number +
         "</number><date>2014-06-30</date></balanceDetails><supplierInvoices><s idInvoice='1' id='1'>"
         "<invoiceNumber>F1</invoiceNumber></s></supplierInvoices></invoiceBalance>";
}

// The program running in the background, its output going to files.
class Background {
 public:
  explicit Background(const std::vector<std::string>& args) {
    const std::string out = io_.path() + "out", err = io_.path() + "err";
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<std::string> copy = args;
      std::string binary = IMPORTMIVO_BINARY;
      std::vector<char*> argv{binary.data()};
      for (auto& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr)) ::_exit(127);
      ::execv(binary.c_str(), argv.data());
      ::_exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  void signal(int signo) const { ::kill(pid_, signo); }
  // The exit status, or -1 when the program has not ended within `limit` (it is then killed).
  int wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(20ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string out() const { return readFile(io_.path() + "out"); }
  std::string err() const { return readFile(io_.path() + "err"); }

 private:
  TempDir io_;
  pid_t pid_ = -1;
};

// Polls `condition` until it holds or `limit` has passed.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class Watch : public ImportTest, public ::testing::WithParamInterface<int> {
 protected:
  // The connection of the program under test carries a name of its own, to be found among the
  // server's sessions.
  std::string appName = "importmivo_" + db.schema();
  std::vector<std::string> args(const std::string& interval) {
    return {"--work-dir", work.path(), "--db", db.conninfo() + " application_name=" + appName, "--watch", interval};
  }
  // Wraps the balance server function: `before` runs first when the staged document is D2.
  void onSecondBalance(const std::string& before) {
    db.exec("ALTER FUNCTION o_balance_mivo() RENAME TO o_balance_mivo_real");
    db.exec(R"(CREATE FUNCTION o_balance_mivo() RETURNS boolean LANGUAGE plpgsql AS $$
      BEGIN
        IF EXISTS (SELECT 1 FROM mivo_import_invoice_balances WHERE nr_decont = 'D2') THEN
          )" +
            before + R"(
        END IF;
        RETURN o_balance_mivo_real();
      END $$)");
  }
};

TEST_P(Watch, StopRequestMidBatchFinishesTheFileInHandAndLosesNothing) {
  for (const char* n : {"1", "2", "3", "4", "5"})
    drop(std::string("f") + n + "_balance.xml", balance(std::string("D") + n));
  onSecondBalance("PERFORM pg_sleep(2);");
  Background program(args("3600"));

  // Stop while the second file is being posted.
  ASSERT_TRUE(eventually([&] {
    return db.scalar("SELECT count(*) FROM pg_stat_activity WHERE application_name = $1 AND wait_event = 'PgSleep'",
                     {appName}) == "1";
  }));
  program.signal(GetParam());
  const int status = program.wait(30s);
  EXPECT_EQ(status, 0) << program.err();

  // The file in hand was finished: posted and moved. The rest stays for the next run.
  EXPECT_EQ(listFolder(processed()), (Names{"f1_balance.xml", "f2_balance.xml"}));
  for (const char* n : {"f3_balance.xml", "f4_balance.xml", "f5_balance.xml"}) EXPECT_TRUE(exists(work.path() + n));
  EXPECT_EQ(db.scalar("SELECT string_agg(nr_decont, ',' ORDER BY nr_decont) FROM contab_decont"), "D1,D2");
  EXPECT_EQ(db.count("mivo_import_log_err"), 0);
  EXPECT_NE(program.out().find("Oprire ceruta: 3 fisiere raman in directorul de lucru"), std::string::npos)
      << program.out();
  EXPECT_NE(program.err().find("importmivo: oprit la cerere."), std::string::npos) << program.err();

  // Nothing lost: the next run takes the rest.
  const auto r = testing_support::runImportmivo({"--work-dir", work.path(), "--db", db.conninfo()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(listFolder(processed()).size(), 5u);
  EXPECT_EQ(db.count("contab_decont"), 5);
}

INSTANTIATE_TEST_SUITE_P(Signals, Watch, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& p) { return p.param == SIGTERM ? "SIGTERM" : "SIGINT"; });

// The connection is lost in the middle of the first run; the next run, an interval later, connects
// again and finishes the batch. Files arriving later are taken by later runs.
TEST_F(Watch, RunThatBrokeDownIsRetriedAtTheNextInterval) {
  drop("a_balance.xml", balance("D1"));
  drop("b_balance.xml", balance("D2"));
  drop("c_balance.xml", balance("D3"));
  // Only once: a sequence is not rolled back with the dying transaction.
  db.exec("CREATE SEQUENCE once");
  onSecondBalance("IF nextval('once') = 1 THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF;");
  Background program(args("0.3"));

  ASSERT_TRUE(eventually([&] { return listFolder(processed()).size() == 3; })) << program.err();
  drop("d_balance.xml", balance("D4"));
  ASSERT_TRUE(eventually([&] { return exists(processed() + "d_balance.xml"); })) << program.err();

  // Idle between runs: the stop is prompt.
  const auto asked = std::chrono::steady_clock::now();
  program.signal(SIGTERM);
  EXPECT_EQ(program.wait(10s), 0) << program.err();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);

  const std::string err = program.err();
  EXPECT_NE(err.find("importmivo: fisierul b_balance.xml: "), std::string::npos) << err;
  EXPECT_NE(err.find("importmivo: rularea s-a intrerupt; se reincearca peste 0.3 s."), std::string::npos) << err;
  EXPECT_EQ(db.scalar("SELECT string_agg(nr_decont, ',' ORDER BY nr_decont) FROM contab_decont"), "D1,D2,D3,D4");
  EXPECT_EQ(db.count("mivo_import_log_err"), 0);
  // One summary per run that had files: the broken one, its retry, and the one for the late file.
  const std::string out = program.out();
  EXPECT_NE(out.find("Rularea s-a intrerupt la fisierul b_balance.xml"), std::string::npos) << out;
  std::size_t summaries = 0;
  for (std::size_t at = out.find("importmivo: rularea din"); at != std::string::npos;
       at = out.find("importmivo: rularea din", at + 1))
    ++summaries;
  EXPECT_EQ(summaries, 3u) << out;
}

}  // namespace
