#include "staging/staging.h"

#include <algorithm>

#include <fmt/format.h>

#include "staging/ddl.h"
#include "staging/scripts.h"

namespace staging {
namespace {

// Statements sent in one pipeline before the staging transaction is committed and its results read.
constexpr std::size_t kChunk = 500;

// Rows that the DELETEs of a kind's later files may leave in its tables before they are vacuumed.
constexpr std::uint64_t kVacuumRows = 1000;

// A file's staging statements are handed to the server every few statements (and once the tables are
// being emptied), so that the server runs them while the program is still reading the document.
constexpr std::size_t kFlushEvery = 4;

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string quoteIdent(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

ColumnType typeOfOid(Oid oid) {
  switch (oid) {
    case 20: return ColumnType::Bigint;   // int8
    case 21:                              // int2
    case 23: return ColumnType::Integer;  // int4
    case 700:                             // float4
    case 701: return ColumnType::Double;  // float8
    case 1082: return ColumnType::Date;
    default: return ColumnType::Text;
  }
}

std::string deleteSql(std::string_view table) { return fmt::format("DELETE FROM {}", quoteIdent(table)); }

std::string describe(const Source& from) {
  if (!from.attribute.empty())
    return fmt::format("atributul \"{}\" al elementului \"{}\"", from.attribute, from.element);
  return fmt::format("elementul \"{}\"", from.element);
}

using Clock = std::chrono::steady_clock;

class Timer {
 public:
  explicit Timer(std::chrono::nanoseconds& into) : into_(into), start_(Clock::now()) {}
  ~Timer() { into_ += Clock::now() - start_; }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

 private:
  std::chrono::nanoseconds& into_;
  Clock::time_point start_;
};

}  // namespace

std::size_t NoCaseHash::operator()(std::string_view s) const {
  std::size_t h = 14695981039346656037ull;  // FNV-1a
  for (const char c : s) h = (h ^ static_cast<unsigned char>(lowerAscii(c))) * 1099511628211ull;
  return h;
}

bool NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

const std::string& scriptText(std::string_view kind) {
  const auto& all = embeddedScripts();
  const auto it = all.find(kind);
  if (it == all.end()) throw StagingError(fmt::format("Scriptul de creare \"{}\" lipseste din program", kind));
  return it->second;
}

Staging::Staging(pg::Connection& conn, Policy policy) : conn_(conn), policy_(policy) {}

void Staging::record(Recorder* recorder) {
  recorder_ = recorder;
  tables_.clear();
  scriptTables_.clear();
  if (recorder_ == nullptr) return;
  for (const auto& [kind, text] : embeddedScripts())
    for (auto& [table, columns] : tablesOfScript(text)) scriptTables_[table] = std::move(columns);
}

void Staging::attach() {
  tables_.clear();
  prepared_.clear();
  scriptsRun_.clear();
  deadRows_.clear();
  resetPipeline();
  // A connection kept from an earlier run still holds that run's prepared statements.
  if (preparedCount_ > 0) conn_.exec("DEALLOCATE ALL", "DEALLOCATE", file_);
  // Staging commits need not wait for the disk; the commit of every server import function does, and
  // it makes every earlier commit durable with it.
  conn_.exec(policy_ == Policy::Fast ? "SET synchronous_commit TO off" : "SET synchronous_commit TO DEFAULT",
             "setari sesiune");
}

void Staging::beginFile(std::string numeFisier) {
  file_ = std::move(numeFisier);
  pendingDeletes_.clear();
  if (inTransaction_ || !sent_.empty()) resetPipeline();
  if (dryRun_ && recorder_ == nullptr) {
    rollbackIfNeeded();
    conn_.exec("BEGIN", "BEGIN", file_);
  }
}

void Staging::endFile() {
  if (dryRun_ && recorder_ == nullptr) rollbackIfNeeded();
}

void Staging::resetPipeline() {
  sent_.clear();
  chunk_.clear();
  inTransaction_ = false;
  PGconn* c = conn_.get();
  if (c != nullptr && PQpipelineStatus(c) != PQ_PIPELINE_OFF) {
    while (PGresult* r = PQgetResult(c)) PQclear(r);
    PQexitPipelineMode(c);
  }
}

void Staging::executeScript(std::string_view component, std::string_view kind,
                            const std::vector<std::string>& tables) {
  Timer t(stats_.stagingTime);
  if (recorder_ != nullptr) {
    recorder_->script(kind);
    return;
  }
  const bool ran = std::find(scriptsRun_.begin(), scriptsRun_.end(), kind) != scriptsRun_.end();
  if (!direct() && ran) {
    // The tables exist and are ours: emptying them in the file's transaction is enough.
    vacuumIfDue(component, tables);
    for (const auto& table : tables) {
      pendingDeletes_.push_back(table);
      prepare(deleteSql(table), fmt::format("golire {}", table));
    }
    return;
  }
  resetPipeline();
  conn_.exec(scriptText(kind), component, file_);
  ++stats_.scriptsRun;
  if (!ran) scriptsRun_.emplace_back(kind);
  for (const auto& table : tables) {
    deadRows_.erase(table);
    auto it = tables_.find(table);
    if (it == tables_.end()) continue;
    if (!it->second.prepared.empty())
      conn_.exec(fmt::format("DEALLOCATE {}", quoteIdent(it->second.prepared)), "DEALLOCATE", file_);
    tables_.erase(it);
  }
}

const std::string* Staging::preparedName(const std::string& sql) const {
  const auto it = prepared_.find(sql);
  return it == prepared_.end() ? nullptr : &it->second;
}

void Staging::prepare(const std::string& sql, std::string_view label) {
  if (prepared_.contains(sql)) return;
  resetPipeline();
  std::string name = fmt::format("importmivo_{}", ++preparedCount_);
  pg::check(conn_.get(), PQprepare(conn_.get(), name.c_str(), sql.c_str(), 0, nullptr), label, file_);
  prepared_.emplace(sql, std::move(name));
}

void Staging::vacuumIfDue(std::string_view component, const std::vector<std::string>& tables) {
  std::uint64_t dead = 0;
  for (const auto& table : tables)
    if (const auto it = deadRows_.find(table); it != deadRows_.end()) dead += it->second;
  if (dead < kVacuumRows) return;
  std::string sql = "VACUUM";
  for (std::size_t i = 0; i < tables.size(); ++i) sql += (i == 0 ? " " : ", ") + quoteIdent(tables[i]);
  // VACUUM runs outside any transaction; the previous file's rows stay as they are.
  resetPipeline();
  try {
    conn_.exec(sql, component, file_);
    ++stats_.vacuums;
  } catch (const pg::DbError& e) {
    // Only the speed of later files depends on it: a refused VACUUM does not fail the file.
    if (e.runFault()) throw;
  }
  for (const auto& table : tables) deadRows_.erase(table);
}

const Staging::TableInfo& Staging::tableInfo(const std::string& table, const std::vector<Column>& declared) {
  if (auto it = tables_.find(table); it != tables_.end()) return it->second;
  Timer t(stats_.stagingTime);
  TableInfo info;
  if (!declared.empty()) {
    info.columns = declared;
  } else if (recorder_ != nullptr) {
    const auto it = scriptTables_.find(table);
    if (it == scriptTables_.end())
      throw StagingError(fmt::format("Tabela \"{}\" nu este creata de niciun script", table));
    info.columns = it->second;
  } else {
    pg::Result r = conn_.exec(fmt::format("SELECT * FROM {} LIMIT 0", quoteIdent(table)),
                              fmt::format("deschidere {}", table), file_);
    const int n = PQnfields(r.get());
    for (int i = 0; i < n; ++i) info.columns.push_back({PQfname(r.get(), i), typeOfOid(PQftype(r.get(), i))});
  }
  for (std::size_t i = 0; i < info.columns.size(); ++i) info.byName.emplace(info.columns[i].name, i);
  std::string names, params;
  for (std::size_t i = 0; i < info.columns.size(); ++i) {
    if (i > 0) {
      names += ", ";
      params += ", ";
    }
    names += quoteIdent(info.columns[i].name);
    params += fmt::format("${}", i + 1);
  }
  info.insertSql = fmt::format("INSERT INTO {} ({}) VALUES ({})", quoteIdent(table), names, params);
  if (!direct() && recorder_ == nullptr) {
    info.prepared = fmt::format("importmivo_{}", ++preparedCount_);
    pg::check(conn_.get(), PQprepare(conn_.get(), info.prepared.c_str(), info.insertSql.c_str(), 0, nullptr),
              fmt::format("pregatire INSERT {}", table), file_);
  }
  return tables_.emplace(table, std::move(info)).first->second;
}

void Staging::ensureTransaction() {
  if (inTransaction_) return;
  if (PQpipelineStatus(conn_.get()) == PQ_PIPELINE_OFF && PQenterPipelineMode(conn_.get()) != 1)
    throw pg::errorOf(conn_.get(), nullptr, "pipeline", file_);
  chunk_.clear();
  sendPlain("BEGIN", "BEGIN");
  inTransaction_ = true;
  for (const auto& table : pendingDeletes_) {
    std::string sql = deleteSql(table);
    const std::string* name = preparedName(sql);
    chunk_.push_back({name != nullptr ? *name : std::move(sql), name != nullptr, {}, fmt::format("golire {}", table)});
    send(chunk_.back(), static_cast<int>(chunk_.size()) - 1, false);
  }
  pendingDeletes_.clear();
  flush();
}

void Staging::flush() {
  // A connection that broke here is reported by the statement or the sync that follows.
  PQflush(conn_.get());
}

void Staging::send(const Statement& st, int replay, bool function) {
  pg::ParamArrays a(st.params);
  const int ok = st.prepared
                     ? PQsendQueryPrepared(conn_.get(), st.sql.c_str(), a.count(), a.values.data(), nullptr, nullptr, 0)
                     : PQsendQueryParams(conn_.get(), st.sql.c_str(), a.count(), nullptr, a.values.data(), nullptr,
                                         nullptr, 0);
  if (ok != 1) {
    pg::DbError e = pg::errorOf(conn_.get(), nullptr, st.label, file_);
    resetPipeline();
    throw e;
  }
  sent_.push_back({st.label, replay, function});
}

void Staging::sendPlain(const std::string& sql, std::string label, bool function) {
  send(Statement{sql, false, {}, std::move(label)}, -1, function);
}

void Staging::runMeanwhile(const std::function<void()>& meanwhile) {
  if (!meanwhile) return;
  try {
    meanwhile();
  } catch (...) {
    // Work done ahead of time only: the file in hand does not depend on it.
  }
}

std::optional<std::pair<Staging::Sent, pg::DbError>> Staging::drain(const std::function<void()>& meanwhile) {
  PGconn* c = conn_.get();
  if (PQpipelineSync(c) != 1) {
    pg::DbError e = pg::errorOf(c, nullptr, "sincronizare", file_);
    resetPipeline();
    throw e;
  }
  runMeanwhile(meanwhile);
  std::optional<std::pair<Sent, pg::DbError>> first;
  for (const Sent& s : sent_) {
    PGresult* r = PQgetResult(c);
    if (r == nullptr) {  // the connection broke
      pg::DbError e = pg::errorOf(c, nullptr, s.label, file_);
      resetPipeline();
      throw e;
    }
    const ExecStatusType st = PQresultStatus(r);
    if (st == PGRES_FATAL_ERROR && !first) first.emplace(s, pg::errorOf(c, r, s.label, file_));
    PQclear(r);
    PQclear(PQgetResult(c));  // the NULL that ends each statement's results
  }
  PGresult* sync = PQgetResult(c);
  const bool synced = sync != nullptr && PQresultStatus(sync) == PGRES_PIPELINE_SYNC;
  PQclear(sync);
  sent_.clear();
  if (!synced) {
    pg::DbError e = pg::errorOf(c, nullptr, "sincronizare", file_);
    resetPipeline();
    throw e;
  }
  PQexitPipelineMode(c);
  if (first && first->second.runFault()) {
    inTransaction_ = false;
    throw first->second;
  }
  return first;
}

void Staging::rollbackIfNeeded() {
  const PGTransactionStatusType ts = PQtransactionStatus(conn_.get());
  if (ts == PQTRANS_INERROR || ts == PQTRANS_INTRANS) conn_.exec("ROLLBACK", "ROLLBACK", file_);
}

void Staging::recover(int failedReplayIndex) {
  rollbackIfNeeded();
  inTransaction_ = false;
  const auto keep = static_cast<std::size_t>(std::max(failedReplayIndex, 0));
  if (keep == 0 || chunk_.empty()) {
    chunk_.clear();
    return;
  }
  PQenterPipelineMode(conn_.get());
  sendPlain("BEGIN", "BEGIN");
  for (std::size_t i = 0; i < keep && i < chunk_.size(); ++i) send(chunk_[i], -1, false);
  sendPlain("COMMIT", "COMMIT");
  chunk_.clear();
  if (auto err = drain()) {
    rollbackIfNeeded();
    throw err->second;
  }
}

void Staging::commitChunk() {
  sendPlain("COMMIT", "COMMIT");
  inTransaction_ = false;
  if (auto err = drain()) {
    recover(err->first.replay >= 0 ? err->first.replay : static_cast<int>(chunk_.size()));
    throw err->second;
  }
  chunk_.clear();
}

void Staging::insert(const std::string& table, const pg::Params& values, std::string label) {
  Timer t(stats_.stagingTime);
  const TableInfo& info = tables_.at(table);
  if (recorder_ != nullptr) {
    recorder_->row(table, values);
    ++stats_.rowsStaged;
    return;
  }
  if (direct()) {
    conn_.execParams(info.insertSql, values, label, file_);
    ++stats_.rowsStaged;
    return;
  }
  ensureTransaction();
  chunk_.push_back({info.prepared, true, values, std::move(label)});
  send(chunk_.back(), static_cast<int>(chunk_.size()) - 1, false);
  ++stats_.rowsStaged;
  ++deadRows_[table];
  if (sent_.size() % kFlushEvery == 0) flush();
  if (sent_.size() >= kChunk) {
    commitChunk();
    ensureTransaction();
  }
}

void Staging::callFunction(const std::string& function, std::string_view component) {
  const std::string call = fmt::format("SELECT {}()", quoteIdent(function));
  if (recorder_ != nullptr) {
    recorder_->function(function);
    ++stats_.functionsCalled;
    return;
  }
  if (direct()) {
    Timer t(stats_.functionTime);
    PGconn* c = conn_.get();
    if (PQsendQuery(c, call.c_str()) != 1) throw pg::errorOf(c, nullptr, component, file_);
    runMeanwhile(whileFunctionRuns);
    pg::Result result(PQgetResult(c));
    while (PGresult* more = PQgetResult(c)) PQclear(more);
    pg::check(c, result.release(), component, file_);
    ++stats_.functionsCalled;
    return;
  }
  {
    Timer t(stats_.stagingTime);
    ensureTransaction();  // a file without rows still empties its tables
    sendPlain("COMMIT", "COMMIT");
  }
  Timer t(stats_.functionTime);
  sendPlain("BEGIN", "BEGIN", true);
  sendPlain("SET LOCAL synchronous_commit TO on", "synchronous_commit", true);
  const std::string* name = preparedName(call);
  send(Statement{name != nullptr ? *name : call, name != nullptr, {}, std::string(component)}, -1, true);
  sendPlain("COMMIT", "COMMIT", true);
  inTransaction_ = false;
  auto err = drain(whileFunctionRuns);
  if (!err) {
    chunk_.clear();
    ++stats_.functionsCalled;
    // Called once, the function exists: later files call it through a prepared statement. The file is
    // posted whatever happens here; a connection lost meanwhile is found by the next statement.
    if (name == nullptr) {
      try {
        prepare(call, component);
      } catch (const pg::DbError&) {
      }
    }
    return;
  }
  if (err->first.function) {
    // The staged rows are committed; only the function's transaction is undone.
    rollbackIfNeeded();
    chunk_.clear();
  } else {
    recover(err->first.replay >= 0 ? err->first.replay : static_cast<int>(chunk_.size()));
  }
  throw err->second;
}

std::optional<pg::DbError> Staging::settleFailure() {
  // A file that failed before its first row still empties its kind's tables, as the script would.
  // In a dry run statements run one at a time, so the first error is the one thrown, and endFile()
  // rolls the file back.
  if (recorder_ != nullptr || dryRun_) return std::nullopt;
  if (policy_ == Policy::Fast && !inTransaction_ && !pendingDeletes_.empty()) ensureTransaction();
  if (policy_ == Policy::Original || !inTransaction_) {
    resetPipeline();
    rollbackIfNeeded();
    return std::nullopt;
  }
  sendPlain("COMMIT", "COMMIT");
  inTransaction_ = false;
  auto err = drain();
  if (!err) {
    chunk_.clear();
    return std::nullopt;
  }
  recover(err->first.replay >= 0 ? err->first.replay : static_cast<int>(chunk_.size()));
  return std::move(err->second);
}

void Staging::writeDurable(const std::string& sql, const pg::Params& params, std::string_view label) {
  if (dryRun_) return;
  resetPipeline();
  if (policy_ == Policy::Original) {
    conn_.execParams(sql, params, label, file_);
    return;
  }
  if (PQenterPipelineMode(conn_.get()) != 1) throw pg::errorOf(conn_.get(), nullptr, label, file_);
  sendPlain("BEGIN", "BEGIN");
  sendPlain("SET LOCAL synchronous_commit TO on", "synchronous_commit");
  send(Statement{sql, false, params, std::string(label)}, -1, false);
  sendPlain("COMMIT", "COMMIT");
  if (auto err = drain()) {
    rollbackIfNeeded();
    throw err->second;
  }
}

// ---- StagingQuery ----

void StagingQuery::Open() {
  info_ = &s_.tableInfo(table_, declared_);
  row_.assign(info_->columns.size(), std::nullopt);
  open_ = true;
  editing_ = false;
  posted_ = 0;
}

void StagingQuery::Close() {
  open_ = false;
  editing_ = false;
  info_ = nullptr;
}

void StagingQuery::Append() {
  if (!open_) throw StagingError(fmt::format("Interogarea {} nu este deschisa", component_));
  row_.assign(info_->columns.size(), std::nullopt);
  editing_ = true;
}

void StagingQuery::requireEditing(const char* what) const {
  if (!open_ || !editing_)
    throw StagingError(fmt::format("{}: interogarea {} nu are un rand adaugat", what, component_));
}

std::size_t StagingQuery::index(std::string_view column) const {
  if (!open_) throw StagingError(fmt::format("Interogarea {} nu este deschisa", component_));
  const auto it = info_->byName.find(column);
  if (it == info_->byName.end())
    throw StagingError(fmt::format("Coloana \"{}\" nu exista in tabela \"{}\"", column, table_));
  return it->second;
}

bool StagingQuery::hasColumn(std::string_view column) const { return open_ && info_->byName.contains(column); }

ColumnType StagingQuery::type(std::string_view column) const { return info_->columns[index(column)].type; }

void StagingQuery::set(std::string_view column, std::string_view text, const Source& from) {
  requireEditing("Atribuire");
  const std::size_t i = index(column);
  const Column& col = info_->columns[i];
  auto v = convert(col.type, text);
  if (!v)
    throw StagingError(fmt::format("Valoarea \"{}\" din {} nu poate fi convertita in {} pentru coloana \"{}\" a "
                                   "tabelei \"{}\"",
                                   text, describe(from), typeName(col.type), col.name, table_));
  row_[i] = std::move(v);
}

void StagingQuery::setPosition(std::string_view column, std::int64_t position) {
  requireEditing("Atribuire");
  row_[index(column)] = std::to_string(position);
}

void StagingQuery::copy(std::string_view column, const StagingQuery& from, std::string_view fromColumn) {
  requireEditing("Copiere");
  const std::size_t i = index(column);
  const auto& v = from.value(fromColumn);
  if (!v) {
    row_[i].reset();
    return;
  }
  const std::string source = fmt::format("{}.{}", from.table(), fromColumn);
  set(column, *v, Source{source});
}

const std::optional<std::string>& StagingQuery::value(std::string_view column) const {
  return row_[index(column)];
}

void StagingQuery::Post() {
  requireEditing("Salvare");
  ++posted_;
  s_.insert(table_, row_, fmt::format("{}, randul {}", component_, posted_));
  editing_ = false;
}

}  // namespace staging
