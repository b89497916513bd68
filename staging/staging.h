// Staging: the components through which an import method fills its staging tables and hands them to
// its server import function, all over the one connection of the run.
//
// Every import method follows the same course: execute its staging script, open its staging queries,
// append and post one row per record, execute its server import procedure, close the queries. How the
// statements reach the server is the staging policy:
//
//  - Policy::Fast (what users get): each kind's staging script runs for the first file of that kind in a
//    run, later files empty the tables with DELETE instead (and VACUUM them now and then, so that the
//    deleted rows do not pile up); a file's staging statements travel in one pipelined transaction with
//    asynchronous commit; the server import function runs in a transaction of its own with a synchronous
//    (durable) commit, which also makes the earlier staging commits durable. The INSERTs, DELETEs and
//    function calls that every file sends are prepared once per connection.
//  - Policy::Original: the staging script runs for every file and every statement commits by itself.
//
// A dry run (setDryRun) overrides both: every statement of a file (staging script, rows, server import
// function) runs, one at a time, inside one transaction that endFile() rolls back, and nothing is
// written durably. The database is left as it was, while every file still meets the server's checks.
//
// Both leave the same observable state: when a server import function runs, its kind's staging tables
// hold exactly the current file's rows, committed; rows posted before a failure stay in the tables until
// the next file of that kind; a row appended and not posted never reaches the server.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "staging/pg.h"
#include "staging/values.h"

namespace staging {

enum class Policy { Fast, Original };

struct Column {
  std::string name;
  ColumnType type;
};

// Hashes and compares column names without regard to ASCII letter case; looks up string_views without
// copying them.
struct NoCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const;
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// Where a value was read from, for error messages: an element, or an attribute of an element.
struct Source {
  std::string_view element;
  std::string_view attribute = {};
};

// A value that does not fit its column, a column that the table lacks, or a misuse of a query. These
// fail the file being imported.
class StagingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text of a staging script compiled into the program, by kind ("balance", "invoice", ...).
const std::string& scriptText(std::string_view kind);

class StagingQuery;

// Receives the staging work instead of a server: the fuzzing harness and tools that look at what a
// document would stage without a database. Tables are known from the staging scripts' own text.
class Recorder {
 public:
  virtual ~Recorder() = default;
  virtual void script(std::string_view kind) = 0;
  virtual void row(const std::string& table, const pg::Params& values) = 0;
  virtual void function(const std::string& name) = 0;
};

// Time spent and work done, for the run summary and the benchmark.
struct StagingStats {
  std::uint64_t rowsStaged = 0;
  std::uint64_t scriptsRun = 0;
  std::uint64_t functionsCalled = 0;
  std::uint64_t vacuums = 0;  // times a kind's staging tables were vacuumed (fast policy)
  std::chrono::nanoseconds stagingTime{0};
  std::chrono::nanoseconds functionTime{0};
};

// The staging side of the one connection of a run; shared by all staging components.
class Staging {
 public:
  Staging(pg::Connection& conn, Policy policy = Policy::Fast);

  Policy policy() const { return policy_; }
  void setPolicy(Policy p) { policy_ = p; }
  bool dryRun() const { return dryRun_; }
  void setDryRun(bool on) { dryRun_ = on; }
  pg::Connection& connection() { return conn_; }

  // Sends the staging work to `recorder` instead of the connection (nullptr: back to the connection).
  void record(Recorder* recorder);

  // Session settings; call once the connection is open, at the start of every run.
  void attach();

  // The file whose statements follow (named in every database error).
  void beginFile(std::string numeFisier);
  const std::string& file() const { return file_; }
  // The end of the file begun by beginFile, whether it succeeded or failed: in a dry run everything it
  // did is rolled back; otherwise nothing happens.
  void endFile();

  // After an import method failed: keeps the rows it posted (committed), forgets the row it appended
  // and did not post. Returns the error the server reported for a row posted before the failure, which
  // is the first error of the file and so the one to report. Run faults (connection lost) throw.
  std::optional<pg::DbError> settleFailure();

  // Runs one statement in a transaction of its own with a durable commit (the error log). In a dry run
  // the statement is not run at all.
  void writeDurable(const std::string& sql, const pg::Params& params, std::string_view label);

  const StagingStats& stats() const { return stats_; }

  // Called once a file's server import function has been sent and while the server runs it, before its
  // outcome is read: work that the client can do meanwhile (the run reads the next file). It must not
  // use the connection; what it throws is ignored.
  std::function<void()> whileFunctionRuns;

  // Used by the components.
  void executeScript(std::string_view component, std::string_view kind, const std::vector<std::string>& tables);
  struct TableInfo {
    std::vector<Column> columns;
    std::unordered_map<std::string, std::size_t, NoCaseHash, NoCaseEqual> byName;  // column name -> index
    std::string insertSql;
    std::string prepared;  // name of the prepared INSERT, empty when not prepared
  };
  const TableInfo& tableInfo(const std::string& table, const std::vector<Column>& declared);
  void insert(const std::string& table, const pg::Params& values, std::string label);
  void callFunction(const std::string& function, std::string_view component);

 private:
  struct Statement {
    std::string sql;          // text, or the name of a prepared statement
    bool prepared = false;
    pg::Params params;
    std::string label;
  };
  struct Sent {
    std::string label;
    int replay = -1;        // index into chunk_, or -1
    bool function = false;  // part of the server function's transaction
  };

  // Statements run one at a time, each as it comes (no pipeline, no prepared INSERTs, the staging
  // script for every file).
  bool direct() const { return policy_ == Policy::Original || dryRun_; }
  void ensureTransaction();
  void send(const Statement& st, int replay, bool function);
  void sendPlain(const std::string& sql, std::string label, bool function = false);
  // Hands what has been sent so far to the server without waiting for its results.
  void flush();
  // Syncs the pipeline and reads every result; returns the first error, with the entry it belongs to.
  // `meanwhile` runs between the sync and the reading.
  std::optional<std::pair<Sent, pg::DbError>> drain(const std::function<void()>& meanwhile = {});
  void runMeanwhile(const std::function<void()>& meanwhile);
  // After an error inside the staging transaction: rolls it back and commits again the statements that
  // preceded the failing one, so that the rows posted before a failure stay.
  void recover(int failedReplayIndex);
  void rollbackIfNeeded();
  void commitChunk();
  void resetPipeline();
  // Fast policy: clears away the rows that DELETE left behind in a kind's tables once there are enough
  // of them, so that emptying and reading the tables costs the same for the thousandth file as for the first.
  void vacuumIfDue(std::string_view component, const std::vector<std::string>& tables);
  // Fast policy: statements sent for every file are prepared once per connection (outside a pipeline).
  // Returns the prepared statement's name, or null when it is not (yet) prepared.
  const std::string* preparedName(const std::string& sql) const;
  void prepare(const std::string& sql, std::string_view label);

  pg::Connection& conn_;
  Recorder* recorder_ = nullptr;
  std::map<std::string, std::vector<Column>, std::less<>> scriptTables_;  // when recording
  Policy policy_;
  bool dryRun_ = false;
  std::string file_;
  std::map<std::string, TableInfo, std::less<>> tables_;
  std::vector<std::string> pendingDeletes_;
  std::vector<std::string> scriptsRun_;  // kinds whose script ran since attach()
  std::map<std::string, std::uint64_t, std::less<>> deadRows_;  // by table: rows posted since its last vacuum
  bool inTransaction_ = false;
  std::deque<Sent> sent_;
  std::vector<Statement> chunk_;
  int preparedCount_ = 0;
  std::map<std::string, std::string, std::less<>> prepared_;  // SQL text -> prepared statement (DELETE, calls)
  StagingStats stats_;
};

// A staging script component (PgScript_...): drops and re-creates the staging tables of one kind.
class StagingScript {
 public:
  StagingScript(Staging& s, std::string component, std::string kind, std::vector<std::string> tables)
      : s_(s), component_(std::move(component)), kind_(std::move(kind)), tables_(std::move(tables)) {}
  void Execute() { s_.executeScript(component_, kind_, tables_); }
  const std::string& component() const { return component_; }

 private:
  Staging& s_;
  std::string component_, kind_;
  std::vector<std::string> tables_;
};

// A staging query component (dsmivo_...): appends rows to one staging table.
class StagingQuery {
 public:
  // Without declared columns the query learns them from the table when it opens.
  StagingQuery(Staging& s, std::string component, std::string table, std::vector<Column> declared = {})
      : s_(s), component_(std::move(component)), table_(std::move(table)), declared_(std::move(declared)) {}

  void Open();
  void Close();
  bool active() const { return open_; }

  // Starts a new row with every column NULL; a row appended and not posted is discarded.
  void Append();
  // Sets a column (found without regard to case) from XML text, converted to the column's type.
  void set(std::string_view column, std::string_view text, const Source& from);
  // Sets a column to a position counted by the import method.
  void setPosition(std::string_view column, std::int64_t position);
  // Copy rule: the value of `fromColumn` in the current row of `from` (the row just posted).
  void copy(std::string_view column, const StagingQuery& from, std::string_view fromColumn);
  // The value of a column in the current row: the appended one, or after Post the posted one.
  const std::optional<std::string>& value(std::string_view column) const;
  ColumnType type(std::string_view column) const;
  bool hasColumn(std::string_view column) const;
  // Inserts the current row into the table.
  void Post();

  const std::string& component() const { return component_; }
  const std::string& table() const { return table_; }
  // Rows posted since the query was opened.
  std::size_t posted() const { return posted_; }

 private:
  std::size_t index(std::string_view column) const;
  void requireEditing(const char* what) const;

  Staging& s_;
  std::string component_, table_;
  std::vector<Column> declared_;
  const Staging::TableInfo* info_ = nullptr;
  pg::Params row_;
  bool open_ = false;
  bool editing_ = false;
  std::size_t posted_ = 0;
};

// A server import procedure component (PgStoredProc_...): runs "SELECT function()" once per file.
class StoredProc {
 public:
  StoredProc(Staging& s, std::string component, std::string function)
      : s_(s), component_(std::move(component)), function_(std::move(function)) {}
  void Execute() { s_.callFunction(function_, component_); }
  const std::string& function() const { return function_; }

 private:
  Staging& s_;
  std::string component_, function_;
};

}  // namespace staging
