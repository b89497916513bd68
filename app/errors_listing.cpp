#include "app/errors_listing.h"

#include <fmt/format.h>

#include <charconv>
#include <chrono>

#include "app/options.h"
#include "app/text.h"
#include "staging/pg.h"

namespace app {
namespace {

// Reads exactly `digits` digits at `pos`; advances `pos`.
std::optional<int> number(std::string_view s, std::size_t& pos, std::size_t digits) {
  if (pos + digits > s.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = pos; i < pos + digits; ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    value = value * 10 + (s[i] - '0');
  }
  pos += digits;
  return value;
}

bool expect(std::string_view s, std::size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

// YYYY-MM-DD[( |T)hh:mm[:ss]] as "YYYY-MM-DD hh:mm:ss", for a real calendar date and time.
std::optional<std::string> timestamp(std::string_view s) {
  std::size_t p = 0;
  const auto y = number(s, p, 4);
  if (!y || !expect(s, p, '-')) return std::nullopt;
  const auto m = number(s, p, 2);
  if (!m || !expect(s, p, '-')) return std::nullopt;
  const auto d = number(s, p, 2);
  if (!d) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*y), std::chrono::month(static_cast<unsigned>(*m)),
                                         std::chrono::day(static_cast<unsigned>(*d))};
  if (!date.ok()) return std::nullopt;
  int hh = 0, mi = 0, ss = 0;
  if (p < s.size()) {
    if (s[p] != ' ' && s[p] != 'T') return std::nullopt;
    ++p;
    const auto h = number(s, p, 2);
    if (!h || !expect(s, p, ':')) return std::nullopt;
    const auto mm = number(s, p, 2);
    if (!mm) return std::nullopt;
    hh = *h;
    mi = *mm;
    if (p < s.size()) {
      if (!expect(s, p, ':')) return std::nullopt;
      const auto sec = number(s, p, 2);
      if (!sec) return std::nullopt;
      ss = *sec;
    }
    if (p != s.size() || hh > 23 || mi > 59 || ss > 59) return std::nullopt;
  }
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", *y, *m, *d, hh, mi, ss);
}

}  // namespace

std::optional<Since> parseSince(std::string_view when) {
  if (when == "azi") return Since{"current_date", std::nullopt};
  if (when == "ieri") return Since{"current_date - 1", std::nullopt};
  if (auto t = timestamp(when)) return Since{"$1::timestamp", *t};
  if (when.size() >= 2) {
    const char unit = when.back();
    const std::string_view digits = when.substr(0, when.size() - 1);
    long n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    const char* name = unit == 'm' ? "minutes" : unit == 'h' ? "hours" : unit == 'd' ? "days" : nullptr;
    if (name != nullptr && ec == std::errc() && end == digits.data() + digits.size() && n > 0 && n <= 1000000)
      return Since{"localtimestamp - $1::interval", fmt::format("{} {}", n, name)};
  }
  return std::nullopt;
}

int listErrors(const std::string& conninfo, const std::string& since, std::ostream& out, std::ostream& err) {
  std::string sql =
      "SELECT id::text, to_char(COALESCE(data_log, cand), 'YYYY-MM-DD HH24:MI:SS'), nume_fisier, log_err "
      "FROM mivo_import_log_err";
  pg::Params params;
  if (!since.empty()) {
    const std::optional<Since> from = parseSince(since);
    if (!from) {
      err << "importmivo: --since: \"" << printable(since) << "\" nu este un moment de timp\n";
      return kExitUsage;
    }
    sql += " WHERE COALESCE(data_log, cand) >= " + from->bound;
    if (from->param) params.push_back(from->param);
  }
  sql += " ORDER BY COALESCE(data_log, cand) NULLS FIRST, id";
  pg::Result rows;
  try {
    pg::Connection conn = pg::Connection::open(conninfo);
    rows = conn.execParams(sql, params, "jurnalul de erori");
  } catch (const std::exception& e) {
    err << "importmivo: " << printable(e.what(), true) << '\n';
    return kExitBrokeDown;
  }
  const auto field = [&](int row, int col) -> std::string {
    return PQgetisnull(rows.get(), row, col) ? std::string() : std::string(PQgetvalue(rows.get(), row, col));
  };
  const int n = PQntuples(rows.get());
  for (int i = 0; i < n; ++i) {
    const std::string when = field(i, 1).empty() ? std::string("(fara data)") : field(i, 1);
    out << when << "  #" << field(i, 0) << "  " << printable(field(i, 2)) << '\n';
    const std::string text = field(i, 3);
    std::size_t start = 0;
    do {
      const std::size_t nl = text.find('\n', start);
      const std::string_view line = std::string_view(text).substr(start, nl == std::string::npos ? nl : nl - start);
      out << "    " << printable(line, true) << '\n';
      start = nl == std::string::npos ? nl : nl + 1;
    } while (start != std::string::npos);
  }
  const std::string range = since.empty() ? std::string() : " de la " + printable(since);
  if (n == 0)
    out << "Nicio eroare in jurnal" << range << ".\n";
  else
    out << counted(static_cast<std::uint64_t>(n), "eroare", "erori") << " in jurnal" << range << ".\n";
  return 0;
}

}  // namespace app
