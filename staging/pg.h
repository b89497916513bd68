// A small RAII layer over libpq: the connection, results, and one function that checks every result.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pg {

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

struct ConnDeleter {
  void operator()(PGconn* c) const { PQfinish(c); }
};

// A database error, with the SQLSTATE, the label of the statement and the file being imported.
class DbError : public std::runtime_error {
 public:
  DbError(std::string message, std::string sqlstate, std::string label, std::string file, bool connectionLost);

  const std::string& sqlstate() const { return sqlstate_; }
  const std::string& label() const { return label_; }
  const std::string& file() const { return file_; }
  bool connectionLost() const { return connectionLost_; }
  // True when the error is the run's, not the file's: the connection is gone or the server cannot go on
  // (SQLSTATE classes 08, 53, 57, 58, XX). Everything else (22 data, 23 integrity, P0001 raised by a
  // server import function, ...) fails only the file that caused it.
  bool runFault() const;

 private:
  std::string sqlstate_, label_, file_;
  bool connectionLost_;
};

// Parameters of one statement: text values, a missing value is SQL NULL.
using Params = std::vector<std::optional<std::string>>;

class Connection {
 public:
  // Connects with libpq's defaults (PG* environment, service file, ~/.pgpass), overridden by `conninfo`
  // (a connection string or URI) when it is not empty. Never prompts. Throws DbError on failure.
  static Connection open(const std::string& conninfo);

  Connection() = default;
  explicit Connection(PGconn* c) : conn_(c) {}

  PGconn* get() const { return conn_.get(); }
  explicit operator bool() const { return conn_ != nullptr; }
  bool ok() const { return conn_ && PQstatus(conn_.get()) == CONNECTION_OK; }

  // Runs SQL text (one or more statements) and checks the result.
  Result exec(const std::string& sql, std::string_view label, std::string_view file = {});
  // Runs one statement with $n parameters and checks the result.
  Result execParams(const std::string& sql, const Params& params, std::string_view label,
                    std::string_view file = {});
  Result execPrepared(const std::string& name, const Params& params, std::string_view label,
                      std::string_view file = {});

 private:
  std::unique_ptr<PGconn, ConnDeleter> conn_;
};

// Checks a result: returns it when the statement succeeded, otherwise throws DbError labelled with
// `label` and `file`. A null result means the connection failed.
Result check(PGconn* conn, PGresult* res, std::string_view label, std::string_view file);
// The error of a failed result as DbError (res may be null).
DbError errorOf(PGconn* conn, const PGresult* res, std::string_view label, std::string_view file);

// Builds the pointer arrays that libpq takes from Params.
struct ParamArrays {
  explicit ParamArrays(const Params& p);
  std::vector<const char*> values;
  int count() const { return static_cast<int>(values.size()); }
};

}  // namespace pg
