#include "support/testing.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include <fmt/format.h>

namespace testing_support {
namespace fs = std::filesystem;

std::string sourceDir() { return IMPORTMIVO_SOURCE_DIR; }

std::string example(const std::string& name) { return readFile(sourceDir() + "/examples/" + name); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().native());
  std::sort(names.begin(), names.end());
  return names;
}

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

namespace {

std::string uniqueName(const char* prefix) {
  std::random_device rd;
  return fmt::format("{}_{}_{:08x}", prefix, ::getpid(), rd());
}

bool currentTestFailed() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info != nullptr && info->result() != nullptr && info->result()->Failed();
}

}  // namespace

TestDb::TestDb() : schema_(uniqueName("t")) {
  conninfo_ = fmt::format("options='-c search_path={}'", schema_);
  conn_ = pg::Connection::open("");
  conn_.exec(fmt::format("CREATE SCHEMA {}", schema_), "create schema");
  conn_ = pg::Connection::open(conninfo_);
  const std::string install = sourceDir() + "/sql/server/install.sql";
  const std::string cmd =
      fmt::format("PGOPTIONS='-c search_path={}' psql -X -q -v ON_ERROR_STOP=1 -f '{}' >/dev/null", schema_, install);
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("installing the server side failed: " + cmd);
}

TestDb::~TestDb() {
  if (keep_ || currentTestFailed()) {
    std::cerr << "[ kept ] database schema " << schema_ << " (connection: " << conninfo_ << ")\n";
    return;
  }
  try {
    pg::Connection c = pg::Connection::open("");
    c.exec(fmt::format("DROP SCHEMA {} CASCADE", schema_), "drop schema");
  } catch (const std::exception& e) {
    std::cerr << "dropping schema " << schema_ << ": " << e.what() << '\n';
  }
}

Rows TestDb::query(const std::string& sql, const pg::Params& params) {
  pg::Result r = conn_.execParams(sql, params, "test query");
  Rows rows;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    Row row;
    for (int j = 0; j < PQnfields(r.get()); ++j)
      row.push_back(PQgetisnull(r.get(), i, j) ? std::nullopt : std::optional<std::string>(PQgetvalue(r.get(), i, j)));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::optional<std::string> TestDb::scalar(const std::string& sql, const pg::Params& params) {
  Rows rows = query(sql, params);
  if (rows.empty() || rows[0].empty()) return std::nullopt;
  return rows[0][0];
}

void TestDb::countCalls(const std::string& function) {
  exec(fmt::format("CREATE TABLE IF NOT EXISTS calls (n int); "
                   "CREATE OR REPLACE FUNCTION {}() RETURNS boolean LANGUAGE sql AS "
                   "'INSERT INTO calls VALUES (1) RETURNING true'",
                   function));
}

long TestDb::count(const std::string& table) {
  return std::stol(scalar(fmt::format("SELECT count(*) FROM {}", table)).value());
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "importmivo-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl + "/";
}

TempDir::~TempDir() {
  if (keep_ || currentTestFailed()) {
    std::cerr << "[ kept ] work folder " << path_ << '\n';
    return;
  }
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

ProcessResult runImportmivo(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  TempDir io;
  const std::string outPath = io.path() + "out", errPath = io.path() + "err";
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& kv : env) ::putenv(const_cast<char*>(kv.c_str()));
    std::vector<char*> argv;
    std::string binary = IMPORTMIVO_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(errPath.c_str(), "w", stderr)) ::_exit(127);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ProcessResult r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = readFile(outPath);
  r.err = readFile(errPath);
  return r;
}

void ImportTest::TearDown() {}

RunSettings ImportTest::settings(staging::Policy policy) const {
  RunSettings s;
  s.workDir = work.path();
  s.conninfo = db.conninfo();
  s.policy = policy;
  return s;
}

std::optional<std::string> ImportTest::importText(TDataModule2& dm, TDataModule2::ImportMethod method,
                                                  const std::string& name, const std::string& xml) const {
  if (!dm.pgConn) dm.Connect();
  dm.X.loadMemory(xml, name);
  dm.root = dm.X.documentElement();
  return dm.Import(method, name);
}

}  // namespace testing_support
