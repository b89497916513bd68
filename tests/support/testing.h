// Test support: a temporary work folder and a database schema of its own for every test, both kept
// (and named on standard error) when the test fails.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "imports/data_module.h"
#include "staging/pg.h"

namespace testing_support {

using Row = std::vector<std::optional<std::string>>;
using Rows = std::vector<Row>;

std::string sourceDir();
// The text of a sample file of examples/.
std::string example(const std::string& name);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
std::vector<std::string> listFolder(const std::string& folder);  // names, sorted
bool exists(const std::string& path);

// A fresh schema with the server side installed, reached through search_path.
class TestDb {
 public:
  TestDb();
  ~TestDb();
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  const std::string& schema() const { return schema_; }
  // A libpq connection string that selects the schema.
  const std::string& conninfo() const { return conninfo_; }
  pg::Connection& conn() { return conn_; }

  Rows query(const std::string& sql, const pg::Params& params = {});
  std::optional<std::string> scalar(const std::string& sql, const pg::Params& params = {});
  long count(const std::string& table);
  void exec(const std::string& sql) { conn_.exec(sql, "test"); }
  // Replaces a server import function by one that only counts its calls, in the table `calls`.
  void countCalls(const std::string& function);
  void keep() { keep_ = true; }

 private:
  std::string schema_, conninfo_;
  pg::Connection conn_;
  bool keep_ = false;
};

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Ends with '/'.
  const std::string& path() const { return path_; }
  void keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

struct ProcessResult {
  int exitCode = -1;
  std::string out, err;
};
// Runs the importmivo program with these arguments.
ProcessResult runImportmivo(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

// A test with a work folder and a database; both are kept when the test fails.
class ImportTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // A data module for the work folder and the test schema.
  RunSettings settings(staging::Policy policy = staging::Policy::Fast) const;
  // Puts a file into the work folder.
  void drop(const std::string& name, const std::string& content) const { writeFile(work.path() + name, content); }
  std::string processed() const { return work.path() + "FisiereTransferate/"; }
  std::string failed() const { return work.path() + "FisiereCuEroare/"; }
  std::string unrecognised() const { return work.path() + "FisiereNetratate/"; }
  // Runs one import method on a document held in memory; returns the failure, if any.
  std::optional<std::string> importText(TDataModule2& dm, TDataModule2::ImportMethod method,
                                        const std::string& name, const std::string& xml) const;

  TempDir work;
  TestDb db;
};

}  // namespace testing_support
