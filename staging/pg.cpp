#include "staging/pg.h"

#include <fmt/format.h>

namespace pg {

DbError::DbError(std::string message, std::string sqlstate, std::string label, std::string file,
                 bool connectionLost)
    : std::runtime_error(std::move(message)),
      sqlstate_(std::move(sqlstate)),
      label_(std::move(label)),
      file_(std::move(file)),
      connectionLost_(connectionLost) {}

bool DbError::runFault() const {
  if (connectionLost_) return true;
  const std::string_view cls = std::string_view(sqlstate_).substr(0, 2);
  return cls == "08" || cls == "53" || cls == "57" || cls == "58" || cls == "XX";
}

namespace {

std::string trimmed(const char* s) {
  std::string out = s ? s : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

void discardNotice(void*, const PGresult*) {}

}  // namespace

DbError errorOf(PGconn* conn, const PGresult* res, std::string_view label, std::string_view file) {
  const bool lost = conn == nullptr || PQstatus(conn) != CONNECTION_OK;
  std::string sqlstate;
  std::string primary;
  std::string detail;
  if (res != nullptr) {
    if (const char* s = PQresultErrorField(res, PG_DIAG_SQLSTATE)) sqlstate = s;
    primary = trimmed(PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY));
    detail = trimmed(PQresultErrorField(res, PG_DIAG_MESSAGE_DETAIL));
    if (primary.empty()) primary = trimmed(PQresultErrorMessage(res));
  }
  if (primary.empty() && conn != nullptr) primary = trimmed(PQerrorMessage(conn));
  if (primary.empty()) primary = "eroare necunoscuta";
  if (lost && sqlstate.empty()) sqlstate = "08006";
  std::string message = primary;
  if (!detail.empty()) message += fmt::format(" ({})", detail);
  message += fmt::format(" [{}; SQLSTATE {}]", label, sqlstate.empty() ? "-" : sqlstate);
  return DbError(std::move(message), std::move(sqlstate), std::string(label), std::string(file), lost);
}

Result check(PGconn* conn, PGresult* res, std::string_view label, std::string_view file) {
  Result r(res);
  if (r) {
    const ExecStatusType st = PQresultStatus(r.get());
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_PIPELINE_SYNC) return r;
  }
  throw errorOf(conn, r.get(), label, file);
}

ParamArrays::ParamArrays(const Params& p) {
  values.reserve(p.size());
  for (const auto& v : p) values.push_back(v ? v->c_str() : nullptr);
}

Connection Connection::open(const std::string& conninfo) {
  // Later keywords win: the caller's settings override the application name, and the client
  // encoding is always UTF8. libpq itself never prompts for a password.
  const char* keys[] = {"application_name", "dbname", "client_encoding", nullptr};
  const char* vals[] = {"importmivo", conninfo.empty() ? nullptr : conninfo.c_str(), "UTF8", nullptr};
  PGconn* raw = PQconnectdbParams(keys, vals, /*expand_dbname=*/1);
  Connection c(raw);
  if (raw == nullptr || PQstatus(raw) != CONNECTION_OK) {
    std::string why = raw ? trimmed(PQerrorMessage(raw)) : "memorie insuficienta";
    throw DbError(fmt::format("Nu se poate face conexiunea la baza de date: {}", why), "08001", "conectare",
                  "", true);
  }
  PQsetNoticeReceiver(raw, discardNotice, nullptr);
  return c;
}

Result Connection::exec(const std::string& sql, std::string_view label, std::string_view file) {
  return check(get(), PQexec(get(), sql.c_str()), label, file);
}

Result Connection::execParams(const std::string& sql, const Params& params, std::string_view label,
                              std::string_view file) {
  ParamArrays a(params);
  return check(get(),
               PQexecParams(get(), sql.c_str(), a.count(), nullptr, a.values.data(), nullptr, nullptr, 0),
               label, file);
}

Result Connection::execPrepared(const std::string& name, const Params& params, std::string_view label,
                                std::string_view file) {
  ParamArrays a(params);
  return check(get(), PQexecPrepared(get(), name.c_str(), a.count(), a.values.data(), nullptr, nullptr, 0),
               label, file);
}

}  // namespace pg
