// The operator's view of a run: the summary, the JSON report, --verbose and --quiet, requeue and the
// error-log listing, and the command line of the subcommands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/testing.h"

namespace {

using nlohmann::json;
using testing_support::exists;
using testing_support::ImportTest;
using testing_support::listFolder;
using testing_support::readFile;
using testing_support::Rows;
using testing_support::runImportmivo;
using testing_support::sourceDir;
using testing_support::TempDir;
using testing_support::writeFile;
using Names = std::vector<std::string>;

std::string balance(const std::string& number, const std::string& secondDate = "2014-06-02") {
  return "<invoiceBalance operation='insert'><balanceDetails><number>" + number +
         "</number><date>2014-06-30</date></balanceDetails><supplierInvoices>"
         "<s idInvoice='1' id='1'><invoiceNumber>F1</invoiceNumber><invoiceDate>2014-06-01</invoiceDate></s>"
         "<s idInvoice='2' id='2'><invoiceNumber>F2</invoiceNumber><invoiceDate>" +
         secondDate + "</invoiceDate></s></supplierInvoices></invoiceBalance>";
}

std::string example(const std::string& name) { return readFile(sourceDir() + "/examples/" + name); }

// The lines of a text.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The words after `label` on the summary line that begins with it.
std::vector<std::string> summaryRow(const std::string& summary, const std::string& label) {
  for (const std::string& line : lines(summary)) {
    if (line.rfind(label + " ", 0) != 0) continue;
    std::istringstream words(line.substr(label.size()));
    std::vector<std::string> out;
    for (std::string w; words >> w;) out.push_back(w);
    return out;
  }
  return {};
}

class Operator : public ImportTest {
 protected:
  testing_support::ProcessResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--work-dir", work.path(), "--db", db.conninfo()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runImportmivo(args);
  }
  testing_support::ProcessResult errors(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"errors", "--db", db.conninfo()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runImportmivo(args);
  }
  testing_support::ProcessResult requeue(std::vector<std::string> names = {}) {
    std::vector<std::string> args = {"requeue", "--work-dir", work.path()};
    args.insert(args.end(), names.begin(), names.end());
    return runImportmivo(args);
  }

  // Files of every fate: three imported (two kinds), one not admitted, one that does not load, one
  // whose import fails after a row was posted, one unrecognised, and a name that is not listed.
  void dropMixed() {
    drop("a_corporations.xml", example("2014-06-30_13-52-45.74308705329895_corporations.xml"));
    drop("b_balance.xml", balance("D1"));
    drop("c_balance.xml", balance("D2"));
    drop("d_balance.xml", "<notABalance/>");
    drop("e_balance.xml", "<invoiceBalance><broken></invoiceBalance>");
    drop("f_balance.xml", balance("D3", "31.06.2014"));
    drop("g_other.xml", "<x/>");
    drop("notes.txt", "not listed");
  }

  TempDir reports;
  std::string reportPath = reports.path() + "report.json";
};

TEST_F(Operator, SummaryAndReportOfAMixedRunMatchTheFoldersAndTheErrorLog) {
  dropMixed();
  const auto r = run({"--report", reportPath});
  ASSERT_EQ(r.exitCode, 1) << r.err;
  // Not a terminal: no progress, only the folders' messages.
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("importmivo:"), std::string::npos) << r.err;

  const Rows log = db.query("SELECT nume_fisier, log_err FROM mivo_import_log_err ORDER BY id");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(listFolder(failed()), (Names{"e_balance.xml", "f_balance.xml"}));
  EXPECT_EQ(listFolder(processed()), (Names{"a_corporations.xml", "b_balance.xml", "c_balance.xml", "d_balance.xml"}));
  EXPECT_EQ(listFolder(unrecognised()), (Names{"g_other.xml"}));

  // The summary: one line per kind, the totals, then each failed file with its error.
  auto row = summaryRow(r.out, "corporatii");
  ASSERT_EQ(row.size(), 7u) << r.out;
  EXPECT_EQ(Names(row.begin(), row.begin() + 4), (Names{"1", "0", "0", "0"})) << r.out;
  row = summaryRow(r.out, "deconturi");
  ASSERT_EQ(row.size(), 7u) << r.out;
  EXPECT_EQ(Names(row.begin(), row.begin() + 5), (Names{"2", "1", "2", "0", "5"})) << r.out;  // 2+2+0+0+1 rows
  row = summaryRow(r.out, "netratate");
  ASSERT_EQ(row.size(), 7u) << r.out;
  EXPECT_EQ(Names(row.begin(), row.begin() + 4), (Names{"0", "0", "0", "1"})) << r.out;
  row = summaryRow(r.out, "Total");
  ASSERT_EQ(row.size(), 7u) << r.out;
  EXPECT_EQ(Names(row.begin(), row.begin() + 4), (Names{"3", "1", "2", "1"})) << r.out;
  EXPECT_TRUE(summaryRow(r.out, "furnizori").empty()) << "kinds without files have no line\n" << r.out;
  const auto out = lines(r.out);
  for (const Rows::value_type& entry : log) {
    const auto at = std::find(out.begin(), out.end(), "  " + *entry[0]);
    ASSERT_NE(at, out.end()) << *entry[0] << " is listed with its error\n" << r.out;
    ASSERT_NE(at + 1, out.end());
    EXPECT_EQ(*(at + 1), "      " + *entry[1]);
  }

  // The report: the same, file by file.
  const json report = json::parse(readFile(reportPath));
  EXPECT_EQ(report["status"], "completed");
  EXPECT_EQ(report["exit_status"], 1);
  EXPECT_EQ(report["dry_run"], false);
  EXPECT_EQ(report["error"], nullptr);
  const json& totals = report["totals"];
  EXPECT_EQ(totals["listed"], 7);
  EXPECT_EQ(totals["imported"], 3);
  EXPECT_EQ(totals["not_admitted"], 1);
  EXPECT_EQ(totals["failed"], log.size());
  EXPECT_EQ(totals["unrecognised"], listFolder(unrecognised()).size());
  EXPECT_EQ(totals["not_moved"], 0);
  EXPECT_EQ(totals["left_in_work_dir"], 0);

  std::map<std::string, json> files;
  long rowsSum = 0;
  for (const json& f : report["files"]) {
    files[f["name"]] = f;
    rowsSum += f["rows"].get<long>();
    EXPECT_TRUE(f["moved"].get<bool>());
    EXPECT_GE(f["time_ms"].get<double>(), 0.0);
    // Every file is where its fate says.
    EXPECT_TRUE(exists(work.path() + f["folder"].get<std::string>() + "/" + f["name"].get<std::string>())) << f;
  }
  EXPECT_EQ(totals["rows"], rowsSum);
  ASSERT_EQ(files.size(), 7u);
  EXPECT_EQ(files["a_corporations.xml"]["fate"], "imported");
  EXPECT_EQ(files["a_corporations.xml"]["method"], "Corporation");
  EXPECT_EQ(files["a_corporations.xml"]["kind"], "corporatii");
  EXPECT_EQ(files["d_balance.xml"]["fate"], "not_admitted");
  EXPECT_EQ(files["d_balance.xml"]["method"], nullptr);
  EXPECT_EQ(files["g_other.xml"]["fate"], "unrecognised");
  for (const Rows::value_type& entry : log) {
    EXPECT_EQ(files[*entry[0]]["fate"], "failed");
    EXPECT_EQ(files[*entry[0]]["error"], *entry[1]);
  }
  // Rows: what the server received.
  EXPECT_EQ(files["b_balance.xml"]["rows"].get<long>(),
            std::stol(*db.scalar("SELECT count(*) FROM contab_decont_doc WHERE nr_decont = 'D1'")));
  EXPECT_EQ(
      files["f_balance.xml"]["rows"].get<long>(),
      std::stol(*db.scalar("SELECT count(*) FROM mivo_import_invoice_balances WHERE nume_fisier = 'f_balance.xml'")));
  EXPECT_EQ(files["f_balance.xml"]["rows"], 1);
  long kindFiles = 0;
  for (const json& k : report["kinds"]) kindFiles += k["files"].get<long>();
  EXPECT_EQ(kindFiles, 7);
}

TEST_F(Operator, VerboseLogsEveryFileAndQuietSpeaksOnlyOfFailures) {
  drop("a_balance.xml", balance("D1"));
  drop("b_balance.xml", balance("D2", "31.06.2014"));
  drop("c_other.xml", "<x/>");
  auto r = run({"--verbose"});
  EXPECT_EQ(r.exitCode, 1);
  const std::string error = *db.scalar("SELECT log_err FROM mivo_import_log_err");
  const auto err = lines(r.err);
  Names logged;
  for (const std::string& line : err)
    if (line.rfind("importmivo: ", 0) == 0) logged.push_back(line);
  ASSERT_EQ(logged.size(), 3u) << r.err;
  EXPECT_EQ(logged[0].rfind("importmivo: a_balance.xml: importat, 2 randuri, ", 0), 0u) << logged[0];
  EXPECT_EQ(logged[0].substr(logged[0].size() - 3), " ms") << logged[0];
  EXPECT_EQ(logged[1].rfind("importmivo: b_balance.xml: cu eroare, 1 rand, ", 0), 0u) << logged[1];
  EXPECT_NE(std::find(err.begin(), err.end(), "    " + error), err.end()) << r.err;
  EXPECT_EQ(logged[2].rfind("importmivo: c_other.xml: netratat, 0 randuri, ", 0), 0u) << logged[2];

  // Quiet: nothing when all went well, the summary when a file failed.
  drop("d_balance.xml", balance("D4"));
  r = run({"--quiet"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  drop("e_balance.xml", "<broken");
  r = run({"--quiet"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("e_balance.xml"), std::string::npos) << r.out;
}

// Standard error on a terminal: the progress line is drawn in place and erased before anything else
// is written, and at the end.
TEST_F(Operator, ProgressIsDrawnOnATerminalAndErasedAtTheEnd) {
  for (const char* n : {"1", "2", "3"}) drop(std::string("f") + n + "_balance.xml", balance(std::string("D") + n));
  drop("f4_balance.xml", "<broken");
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // stderr stays on the terminal; stdout goes away, so that only the progress and -v lines remain.
    if (!std::freopen("/dev/null", "w", stdout)) ::_exit(127);
    std::string binary = IMPORTMIVO_BINARY, wd = work.path(), conn = db.conninfo();
    std::vector<char*> argv = {binary.data(), const_cast<char*>("--work-dir"), wd.data(), const_cast<char*>("--db"),
                               conn.data(),   const_cast<char*>("-v"),         nullptr};
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  std::string tty;
  char buf[4096];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) tty.append(buf, static_cast<std::size_t>(n));
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 1) << tty;

  const std::string erase = "\r\033[K";
  EXPECT_NE(tty.find(erase + "[1/4]  f1_balance.xml"), std::string::npos) << tty;
  // Every -v line starts on a clean line, and the terminal is left clean.
  for (const char* n : {"f1", "f2", "f3", "f4"})
    EXPECT_NE(tty.find(erase + "importmivo: " + n + "_balance.xml: "), std::string::npos) << n << "\n" << tty;
  EXPECT_EQ(tty.substr(tty.rfind('\n') + 1), "") << tty;
  EXPECT_EQ(listFolder(processed()).size(), 3u);
}

TEST_F(Operator, ARunWithNothingToDoPrintsNothingButStillReports) {
  const auto r = run({"--report", reportPath});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  const json report = json::parse(readFile(reportPath));
  EXPECT_EQ(report["totals"]["listed"], 0);
  EXPECT_EQ(report["files"], json::array());
}

TEST_F(Operator, ReportOfARunThatBrokeDownNamesTheFileInHand) {
  drop("a_balance.xml", balance("D1"));
  drop("b_balance.xml", balance("D2"));
  db.exec("ALTER FUNCTION o_balance_mivo() RENAME TO o_balance_mivo_real");
  db.exec(R"(CREATE FUNCTION o_balance_mivo() RETURNS boolean LANGUAGE plpgsql AS $$
    BEGIN
      IF EXISTS (SELECT 1 FROM mivo_import_invoice_balances WHERE nr_decont = 'D2') THEN
        PERFORM pg_terminate_backend(pg_backend_pid());
      END IF;
      RETURN o_balance_mivo_real();
    END $$)");
  const auto r = run({"--report", reportPath});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("importmivo: fisierul b_balance.xml: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Rularea s-a intrerupt la fisierul b_balance.xml"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 fisier ramane in directorul de lucru"), std::string::npos) << r.out;
  const json report = json::parse(readFile(reportPath));
  EXPECT_EQ(report["status"], "broke_down");
  EXPECT_EQ(report["exit_status"], 2);
  EXPECT_EQ(report["error_file"], "b_balance.xml");
  EXPECT_EQ(report["totals"]["left_in_work_dir"], 1);
  EXPECT_EQ(report["files"].size(), 1u);
  EXPECT_TRUE(exists(work.path() + "b_balance.xml"));
}

// Names that are not plain text reach neither the terminal nor the JSON report as they are.
TEST_F(Operator, NamesWithControlCharactersAreShownEscaped) {
  drop("a\x1b[2J\x7f_balance.xml", "<broken");
  drop("b\xff_other.xml", "<x/>");
  const auto r = run({"--report", reportPath, "-v"});
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("a\\x1B[2J\\x7F_balance.xml"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("b\\xFF_other.xml"), std::string::npos) << r.err;
  const json report = json::parse(readFile(reportPath));  // valid UTF-8 JSON
  Names names;
  for (const json& f : report["files"]) names.push_back(f["name"]);
  EXPECT_EQ(names, (Names{"a\x1b[2J\x7f_balance.xml", "b\\xFF_other.xml"}));
}

TEST_F(Operator, RequeueMovesFailedFilesBackAndNeverReplacesAWorkFile) {
  drop("a_balance.xml", "<broken");
  drop("b_balance.xml", balance("D2", "31.06.2014"));
  drop("c_balance.xml", "<broken");
  ASSERT_EQ(run().exitCode, 1);
  ASSERT_EQ(listFolder(failed()), (Names{"a_balance.xml", "b_balance.xml", "c_balance.xml"}));

  // One by name.
  auto r = requeue({"b_balance.xml"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Repus in directorul de lucru: b_balance.xml\n1 fisier repus in directorul de lucru " + work.path() +
                       ".\n");
  EXPECT_TRUE(exists(work.path() + "b_balance.xml"));
  EXPECT_EQ(listFolder(failed()), (Names{"a_balance.xml", "c_balance.xml"}));

  // All of them; a name taken in the work folder (a newer file) is not replaced.
  drop("a_balance.xml", balance("D1"));
  r = requeue();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("a_balance.xml exista deja in directorul de lucru"), std::string::npos) << r.err;
  EXPECT_EQ(listFolder(failed()), (Names{"a_balance.xml"}));
  EXPECT_EQ(readFile(work.path() + "a_balance.xml"), balance("D1"));
  EXPECT_EQ(readFile(work.path() + "c_balance.xml"), "<broken");

  // Names that are not in the failed folder.
  r = requeue({"missing.xml", "FisiereCuEroare"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.xml nu este un fisier din"), std::string::npos) << r.err;

  // The cause fixed, the next run imports the file; each failure kept its own log row.
  writeFile(work.path() + "b_balance.xml", balance("D2"));
  r = run();
  EXPECT_EQ(r.exitCode, 1);  // c_balance.xml fails again
  EXPECT_TRUE(exists(processed() + "b_balance.xml"));
  EXPECT_EQ(db.scalar("SELECT string_agg(nume_fisier, ',' ORDER BY id) FROM mivo_import_log_err"),
            "a_balance.xml,b_balance.xml,c_balance.xml,c_balance.xml");

  // The newer a_balance.xml was processed meanwhile: now both go back.
  r = requeue();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(listFolder(failed()).empty());
  EXPECT_EQ(readFile(work.path() + "a_balance.xml"), "<broken");

  // An empty failed folder: nothing to do.
  r = requeue();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Niciun fisier in " + failed() + ".\n");
}

TEST_F(Operator, RequeueWaitsForARunOnTheWorkFolder) {
  std::filesystem::create_directories(failed());
  writeFile(failed() + "a_balance.xml", "x");
  const int fd = ::open(work.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const auto r = runImportmivo({"requeue", "--work-dir", work.path(), "--lock-wait", "0.2"});
  ::close(fd);
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_TRUE(exists(failed() + "a_balance.xml"));
  EXPECT_EQ(requeue().exitCode, 0);
  EXPECT_TRUE(exists(work.path() + "a_balance.xml"));
}

TEST_F(Operator, ErrorsListsTheLogReadablyAndFiltersByTime) {
  db.exec(R"(INSERT INTO mivo_import_log_err (data_log, nume_fisier, log_err) VALUES
    ('2020-01-02 03:04:05', 'old_balance.xml', E'prima linie\na doua linie'),
    (localtimestamp - interval '2 hours', 'recent_balance.xml', E'ceva \x1b[31mrosu'),
    (localtimestamp, 'now_balance.xml', 'acum'))");
  auto r = errors();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const auto out = lines(r.out);
  ASSERT_EQ(out.size(), 8u) << r.out;
  EXPECT_EQ(out[0].substr(0, 19), "2020-01-02 03:04:05");
  EXPECT_NE(out[0].find("old_balance.xml"), std::string::npos) << out[0];
  EXPECT_EQ(out[1], "    prima linie");
  EXPECT_EQ(out[2], "    a doua linie");
  EXPECT_NE(out[3].find("recent_balance.xml"), std::string::npos);
  EXPECT_EQ(out[4], "    ceva \\x1B[31mrosu");
  EXPECT_NE(out[5].find("now_balance.xml"), std::string::npos);
  EXPECT_EQ(out[7], "3 erori in jurnal.");

  struct Case {
    const char* since;
    Names files;
  };
  const Case cases[] = {
      {"2020-01-02", {"old_balance.xml", "recent_balance.xml", "now_balance.xml"}},
      {"2020-01-02 03:04:06", {"recent_balance.xml", "now_balance.xml"}},
      {"2021-01-01T00:00", {"recent_balance.xml", "now_balance.xml"}},
      {"3h", {"recent_balance.xml", "now_balance.xml"}},
      {"90m", {"now_balance.xml"}},
      {"7d", {"recent_balance.xml", "now_balance.xml"}},
      {"ieri", {"recent_balance.xml", "now_balance.xml"}},
      {"2999-01-01", {}},
  };
  for (const Case& c : cases) {
    r = errors({"--since", c.since});
    EXPECT_EQ(r.exitCode, 0) << c.since << r.err;
    Names listed;
    for (const std::string& line : lines(r.out))
      for (const char* name : {"old_balance.xml", "recent_balance.xml", "now_balance.xml"})
        if (line.find(name) != std::string::npos && line.rfind("    ", 0) != 0) listed.push_back(name);
    EXPECT_EQ(listed, c.files) << c.since << "\n" << r.out;
  }
  EXPECT_EQ(errors({"--since", "2999-01-01"}).out, "Nicio eroare in jurnal de la 2999-01-01.\n");

  for (const char* bad : {"yesterday", "2024-02-30", "2024-01-01 25:00", "0h", "5w", "-3d", ""})
    EXPECT_EQ(errors({"--since", bad}).exitCode, 64) << bad;
  r = runImportmivo({"errors", "--db", "host=/nonexistent-socket-dir port=1 connect_timeout=2"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Nu se poate face conexiunea la baza de date"), std::string::npos) << r.err;
}

TEST(OperatorCommandLine, SubcommandsHaveTheirHelpAndBadCommandLinesExit64) {
  struct Case {
    Names args;
    const char* help;  // a text the help shows
  };
  const Case helps[] = {
      {{"--help"}, "--dry-run"},
      {{"--help"}, "--report FILE"},
      {{"--help"}, "--watch SECONDS"},
      {{"--help"}, "requeue"},
      {{"--help"}, "errors"},
      {{"requeue", "--help"}, "NAME"},
      {{"requeue", "--help"}, "--work-dir"},
      {{"errors", "--help"}, "--since WHEN"},
      {{"errors", "--help"}, "7d"},
  };
  for (const Case& c : helps) {
    const auto r = runImportmivo(c.args);
    EXPECT_EQ(r.exitCode, 0) << c.args[0];
    EXPECT_NE(r.out.find(c.help), std::string::npos) << c.help << "\n" << r.out;
  }
  const Names bad[] = {
      {"frobnicate"},
      {"requeue", "--dry-run"},
      {"--dry-run", "requeue"},
      {"--report", "/nonexistent-dir/r.json", "--work-dir", "/tmp"},
      {"--watch", "0"},
      {"--watch", "-1"},
      {"--watch", "abc"},
      {"--watch", "1", "--dry-run"},
      {"--verbose", "--quiet"},
      {"requeue", "../escape.xml"},
      {"requeue", "sub/a.xml"},
      {"requeue", "--db", "x"},
      {"errors", "--work-dir", "/tmp"},
      {"errors", "--since"},
      {"errors", "extra"},
      {"--db", "x", "requeue"},
  };
  for (const Names& args : bad) {
    const auto r = runImportmivo(args);
    EXPECT_EQ(r.exitCode, 64) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_NE(r.err.find("importmivo: "), std::string::npos) << r.err;
  }
}

}  // namespace
