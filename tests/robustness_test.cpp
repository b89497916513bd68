// Nothing lost, nothing posted twice: concurrent runs, files still being written, hostile input, and a
// database that goes away in the middle of a run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/testing.h"

namespace {

using testing_support::exists;
using testing_support::ImportTest;
using testing_support::listFolder;
using testing_support::Rows;
using testing_support::runImportmivo;
using Names = std::vector<std::string>;

std::string balance(const std::string& number, const std::string& docNumber = "F1") {
  return "<invoiceBalance operation='insert'><balanceDetails><number>" + number +
         "</number><date>2014-06-30</date></balanceDetails><supplierInvoices><s idInvoice='1' id='1'>"
         "<invoiceNumber>" +
         docNumber + "</invoiceNumber></s></supplierInvoices></invoiceBalance>";
}

class Robustness : public ImportTest {
 protected:
  testing_support::ProcessResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--work-dir", work.path(), "--db", db.conninfo()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runImportmivo(args);
  }
  std::optional<std::string> logFor(const std::string& name) {
    return db.scalar("SELECT log_err FROM mivo_import_log_err WHERE nume_fisier = $1", {name});
  }
};

TEST_F(Robustness, SecondRunOnTheSameWorkFolderWaitsThenGivesUp) {
  drop("a_balance.xml", balance("D1"));
  const int fd = ::open(work.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const auto r = run({"--lock-wait", "0.3"});
  ::close(fd);
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_NE(r.err.find("o alta rulare"), std::string::npos) << r.err;
  EXPECT_TRUE(exists(work.path() + "a_balance.xml"));
  EXPECT_EQ(db.count("contab_decont"), 0);
  // Released: the next run goes through.
  EXPECT_EQ(run().exitCode, 0);
  EXPECT_EQ(listFolder(processed()), (Names{"a_balance.xml"}));
}

TEST_F(Robustness, SecondRunOnTheSameDatabaseWaitsThenGivesUp) {
  drop("a_balance.xml", balance("D1"));
  // Another session holds the run lock of this schema.
  db.exec("SELECT pg_advisory_lock(1229813359, hashtext(current_schema()))");
  const auto r = run({"--lock-wait", "0.3"});
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_NE(r.err.find("aceeasi baza de date"), std::string::npos) << r.err;
  EXPECT_TRUE(exists(work.path() + "a_balance.xml"));
  db.exec("SELECT pg_advisory_unlock_all()");
  EXPECT_EQ(run().exitCode, 0);
}

TEST_F(Robustness, FilesStillBeingWrittenWaitForTheNextRun) {
  drop("old_balance.xml", balance("D1"));
  drop("new_balance.xml", "<invoiceBalance");  // half written
  drop("new_other.xml", "<x/>");
  const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5);
  std::filesystem::last_write_time(work.path() + "old_balance.xml", past);
  EXPECT_EQ(run({"--min-age", "60"}).exitCode, 0);
  EXPECT_EQ(listFolder(processed()), (Names{"old_balance.xml"}));
  EXPECT_TRUE(exists(work.path() + "new_balance.xml"));
  EXPECT_TRUE(exists(work.path() + "new_other.xml"));
  EXPECT_EQ(db.count("mivo_import_log_err"), 0);
}

// Every broken or hostile document fails alone, with a clear message, and the run goes on.
TEST_F(Robustness, HostileAndBrokenDocumentsFailAloneWithAClearMessage) {
  const std::string secret = work.path() + "secret.txt";
  testing_support::writeFile(secret, "SECRET");
  struct Case {
    std::string name, content, expect;  // expect: a part of the logged message
  };
  std::string bomb = "<?xml version='1.0'?><!DOCTYPE b [<!ENTITY a0 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'>";
  for (int i = 1; i < 12; ++i)
    bomb += "<!ENTITY a" + std::to_string(i) + " '" + std::string(10, '&') + "'>";
  for (int i = 1; i < 12; ++i) {  // each entity refers ten times to the previous one
    std::string refs;
    for (int k = 0; k < 10; ++k) refs += "&a" + std::to_string(i - 1) + ";";
    const std::string from = "<!ENTITY a" + std::to_string(i) + " '" + std::string(10, '&') + "'>";
    bomb.replace(bomb.find(from), from.size(), "<!ENTITY a" + std::to_string(i) + " '" + refs + "'>");
  }
  bomb += "]><invoiceBalance><balanceDetails><number>&a11;</number></balanceDetails></invoiceBalance>";
  const Case cases[] = {
      {"a_balance.xml",
       "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY x SYSTEM 'file://" + secret +
           "'>]><invoiceBalance><balanceDetails><number>&x;</number></balanceDetails><supplierInvoices>"
           "<s idInvoice='1' id='1'/></supplierInvoices></invoiceBalance>",
       ""},
      {"b_balance.xml", bomb, "linia"},
      {"c_balance.xml", std::string(5000, '<') , "linia"},
      {"d_balance.xml", "<invoiceBalance>" + std::string(300, 'x') + [] {
         std::string s;
         for (int i = 0; i < 400; ++i) s += "<d>";
         return s;
       }(), "linia"},
      {"e_balance.xml", "<invoiceBalance><balanceDetails><number>D1</number></balanceDe", "linia"},
      {"f_balance.xml", "<invoiceBalance><balanceDetails><number>\xC3\x28</number></balanceDetails></invoiceBalance>",
       "linia"},
      {"g_balance.xml", std::string("<invoiceBalance><a>x\0y</a></invoiceBalance>", 42), "linia"},
  };
  for (const auto& c : cases) drop(c.name, c.content);
  drop("z_balance.xml", balance("GOOD"));
  const auto r = run();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(listFolder(processed()), (Names{"z_balance.xml"}));
  for (const auto& c : cases) {
    if (c.name == "a_balance.xml") continue;
    const auto log = logFor(c.name);
    ASSERT_TRUE(log.has_value()) << c.name;
    EXPECT_NE(log->find(c.expect), std::string::npos) << c.name << ": " << *log;
    EXPECT_TRUE(exists(failed() + c.name)) << c.name;
  }
  // The external entity was never read: nothing of it reached any table.
  EXPECT_EQ(db.scalar("SELECT count(*) FROM contab_decont WHERE nr_decont LIKE '%SECRET%'"), "0");
  EXPECT_EQ(db.scalar("SELECT count(*) FROM mivo_import_invoice_balances WHERE nr_decont LIKE '%SECRET%'"), "0");
  EXPECT_EQ(db.scalar("SELECT count(*) FROM mivo_import_log_err WHERE log_err LIKE '%SECRET%'"), "0");
}

TEST_F(Robustness, FilesOverTheSizeLimitFailWithoutBeingRead) {
  drop("big_balance.xml", balance("BIG") + std::string(2 << 20, ' '));
  drop("z_balance.xml", balance("D1"));
  const auto r = run({"--max-file-size", "1"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(logFor("big_balance.xml").value_or("").find("peste limita de 1.0 MB (--max-file-size)"), std::string::npos)
      << logFor("big_balance.xml").value_or("");
  EXPECT_EQ(listFolder(failed()), (Names{"big_balance.xml"}));
  EXPECT_EQ(listFolder(processed()), (Names{"z_balance.xml"}));
  EXPECT_EQ(run({"--max-file-size", "0"}).exitCode, 64);
}

TEST_F(Robustness, SpecialFilesNamedLikeInputFilesFailWithoutBlockingTheRun) {
  ASSERT_EQ(::mkfifo((work.path() + "fifo_balance.xml").c_str(), 0600), 0);
  drop("z_balance.xml", balance("D1"));
  const auto r = run({"--lock-wait", "0"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(logFor("fifo_balance.xml").value_or("").find("nu este un fisier obisnuit"), std::string::npos);
  EXPECT_TRUE(exists(work.path() + "fifo_balance.xml"));  // not a file: the mover leaves it
  EXPECT_EQ(listFolder(processed()), (Names{"z_balance.xml"}));
}

TEST_F(Robustness, FileNamesAreStoredExactlyOrEscapedWhenTheDatabaseCannotHoldThem) {
  const std::string odd = "o'brien \"x\"; DROP TABLE t;\n \xc8\x98\xce\xb1\xd0\x96 _balance.xml";
  const std::string invalid = "bad\xff\xfe_balance.xml";
  drop(odd, balance("D1"));
  drop(invalid, balance("D2"));
  drop("z_balance.xml", balance("D3"));
  const auto r = run();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(db.query("SELECT nume_fisier FROM contab_decont ORDER BY nr_decont"), (Rows{{odd}, {"z_balance.xml"}}));
  EXPECT_TRUE(exists(processed() + odd));
  EXPECT_TRUE(exists(failed() + invalid));
  EXPECT_EQ(db.query("SELECT nume_fisier, log_err FROM mivo_import_log_err"),
            (Rows{{"bad\\xFF\\xFE_balance.xml",
                   "Numele fisierului nu este text UTF-8 valid; fisierul nu poate fi importat"}}));
}

TEST_F(Robustness, TextValuesAreStoredVerbatim) {
  const std::string nasty = "'; DROP TABLE contab_decont; -- \\ \" $1 \xe2\x80\x9c\xc8\x99\xe2\x80\x9d";
  drop("a_balance.xml", balance("D'1", "&lt;" + std::string("x&amp;y") + "&gt;" + nasty));
  EXPECT_EQ(run().exitCode, 0);
  EXPECT_EQ(db.query("SELECT nr_decont, nr_doc FROM contab_decont JOIN contab_decont_doc USING (nr_decont)"),
            (Rows{{"D'1", "<x&y>" + nasty}}));
}

TEST_F(Robustness, LegacyEncodingsAreDecoded) {
  drop("a_balance.xml", "<?xml version='1.0' encoding='windows-1250'?>" + balance("W", "\x8a\x9e\xba\xfe"));
  drop("b_balance.xml", "<?xml version='1.0' encoding='ISO-8859-2'?>" + balance("I", "\xaa\xde\xe2\xee"));
  EXPECT_EQ(run().exitCode, 0);
  EXPECT_EQ(db.query("SELECT nr_decont, nr_doc FROM contab_decont_doc ORDER BY 1"),
            (Rows{{"I", "\xc5\x9e\xc5\xa2\xc3\xa2\xc3\xae"}, {"W", "\xc5\xa0\xc5\xbe\xc5\x9f\xc5\xa3"}}));
}

TEST_F(Robustness, DatabaseLostMidRunLeavesTheFileInHandInTheWorkFolder) {
  drop("a_balance.xml", balance("D1"));
  drop("b_balance.xml", balance("D2"));
  drop("c_balance.xml", balance("D3"));
  // The server goes away while the second file is being posted.
  db.exec("ALTER FUNCTION o_balance_mivo() RENAME TO o_balance_mivo_real");
  db.exec(R"(CREATE FUNCTION o_balance_mivo() RETURNS boolean LANGUAGE plpgsql AS $$
    BEGIN
      IF EXISTS (SELECT 1 FROM mivo_import_invoice_balances WHERE nr_decont = 'D2') THEN
        PERFORM pg_terminate_backend(pg_backend_pid());
      END IF;
      RETURN o_balance_mivo_real();
    END $$)");
  const auto r = run();
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("SQLSTATE"), std::string::npos) << r.err;
  EXPECT_EQ(listFolder(processed()), (Names{"a_balance.xml"}));
  EXPECT_TRUE(listFolder(failed()).empty());
  EXPECT_TRUE(exists(work.path() + "b_balance.xml"));
  EXPECT_TRUE(exists(work.path() + "c_balance.xml"));
  EXPECT_EQ(db.count("mivo_import_log_err"), 0);

  db.exec("DROP FUNCTION o_balance_mivo(); ALTER FUNCTION o_balance_mivo_real() RENAME TO o_balance_mivo");
  EXPECT_EQ(run().exitCode, 0);
  EXPECT_EQ(listFolder(processed()), (Names{"a_balance.xml", "b_balance.xml", "c_balance.xml"}));
  EXPECT_EQ(db.count("contab_decont"), 3);
}

}  // namespace
