#include "staging/values.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace staging {
namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads exactly n digits at s[pos..]; advances pos.
bool digits(std::string_view s, std::size_t& pos, std::size_t n, int& out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = s[pos + i];
    if (!digit(c)) return false;
    v = v * 10 + (c - '0');
  }
  pos += n;
  out = v;
  return true;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool realDate(int y, int m, int d) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  const int last = days[m - 1] + (m == 2 && leapYear(y) ? 1 : 0);
  return d <= last;
}

// "hh:mm[:ss[.fff]]" at pos; advances pos.
bool time(std::string_view s, std::size_t& pos) {
  int h = 0, mi = 0, sec = 0;
  if (!digits(s, pos, 2, h) || pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  if (!digits(s, pos, 2, mi)) return false;
  if (h > 23 || mi > 59) return false;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!digits(s, pos, 2, sec) || sec > 59) return false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      const std::size_t start = pos;
      while (pos < s.size() && digit(s[pos])) ++pos;
      if (pos == start) return false;
    }
  }
  return true;
}

// "Z", "+hh:mm" or "-hh:mm" at pos; advances pos.
bool zone(std::string_view s, std::size_t& pos) {
  if (s[pos] == 'Z') {
    ++pos;
    return true;
  }
  if (s[pos] != '+' && s[pos] != '-') return false;
  ++pos;
  int h = 0, mi = 0;
  if (!digits(s, pos, 2, h) || pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  return digits(s, pos, 2, mi) && h <= 14 && mi <= 59;
}

}  // namespace

const char* typeName(ColumnType t) {
  switch (t) {
    case ColumnType::Text: return "text";
    case ColumnType::Bigint: return "bigint";
    case ColumnType::Double: return "double precision";
    case ColumnType::Date: return "date";
    case ColumnType::Integer: return "integer";
  }
  return "text";
}

std::optional<std::int64_t> parseBigint(std::string_view text) {
  std::string_view s = trimBlanks(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  // Accumulate as a negative number so that the most negative value fits.
  std::int64_t v = 0;
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  for (const char c : s) {
    if (!digit(c)) return std::nullopt;
    const int d = c - '0';
    if (v < (min + d) / 10) return std::nullopt;
    v = v * 10 - d;
  }
  if (!negative) {
    if (v == min) return std::nullopt;
    v = -v;
  }
  return v;
}

std::optional<std::string> parseDouble(std::string_view text) {
  const std::string_view s = trimBlanks(text);
  std::string normal;
  normal.reserve(s.size());
  std::size_t pos = 0;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    if (s[pos] == '-') normal += '-';
    ++pos;
  }
  std::size_t mantissaDigits = 0;
  bool separator = false;
  for (; pos < s.size(); ++pos) {
    const char c = s[pos];
    if (digit(c)) {
      normal += c;
      ++mantissaDigits;
    } else if ((c == '.' || c == ',') && !separator) {
      separator = true;
      normal += '.';
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return std::nullopt;
  if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
    normal += 'e';
    ++pos;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) normal += s[pos++];
    const std::size_t start = pos;
    while (pos < s.size() && digit(s[pos])) normal += s[pos++];
    if (pos == start) return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), v);
  if (ec != std::errc() || end != normal.data() + normal.size() || !std::isfinite(v)) return std::nullopt;
  if (v == 0) v = 0;  // no negative zero
  return fmt::format("{}", v);
}

std::optional<std::string> parseDate(std::string_view text) {
  const std::string_view s = trimBlanks(text);
  std::size_t pos = 0;
  int y = 0, m = 0, d = 0;
  bool iso = false;
  if (s.size() >= 10 && s[4] == '-') {
    if (!digits(s, pos, 4, y) || s[pos++] != '-' || !digits(s, pos, 2, m) || s[pos++] != '-' ||
        !digits(s, pos, 2, d))
      return std::nullopt;
    iso = true;
  } else if (s.size() >= 10 && s[2] == '.') {
    if (!digits(s, pos, 2, d) || s[pos++] != '.' || !digits(s, pos, 2, m) || s[pos++] != '.' ||
        !digits(s, pos, 4, y))
      return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (!realDate(y, m, d)) return std::nullopt;
  if (pos < s.size() && (s[pos] == ' ' || (iso && s[pos] == 'T'))) {
    ++pos;
    if (!time(s, pos)) return std::nullopt;
  }
  if (iso && pos < s.size() && !zone(s, pos)) return std::nullopt;
  if (pos != s.size()) return std::nullopt;
  return fmt::format("{:04}-{:02}-{:02}", y, m, d);
}

std::optional<std::string> convert(ColumnType t, std::string_view text) {
  switch (t) {
    case ColumnType::Text: return std::string(text);
    case ColumnType::Bigint:
    case ColumnType::Integer: {
      const auto v = parseBigint(text);
      if (!v) return std::nullopt;
      if (t == ColumnType::Integer &&
          (*v < std::numeric_limits<std::int32_t>::min() || *v > std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
      return std::to_string(*v);
    }
    case ColumnType::Double: return parseDouble(text);
    case ColumnType::Date: return parseDate(text);
  }
  return std::nullopt;
}

}  // namespace staging
