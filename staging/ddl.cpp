#include "staging/ddl.h"

#include <cctype>

namespace staging {
namespace {

std::string lowerNoComments(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  for (std::size_t i = 0; i < sql.size(); ++i) {
    if (sql[i] == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      out += '\n';
      continue;
    }
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i])));
  }
  return out;
}

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

ColumnType typeOf(std::string_view t) {
  if (t.starts_with("bigint") || t.starts_with("int8")) return ColumnType::Bigint;
  if (t.starts_with("double precision") || t.starts_with("float8")) return ColumnType::Double;
  if (t.starts_with("date")) return ColumnType::Date;
  if (t.starts_with("integer") || t.starts_with("int4") || t.starts_with("int")) return ColumnType::Integer;
  return ColumnType::Text;
}

}  // namespace

std::map<std::string, std::vector<Column>, std::less<>> tablesOfScript(std::string_view script) {
  std::map<std::string, std::vector<Column>, std::less<>> tables;
  const std::string sql = lowerNoComments(script);
  std::size_t pos = 0;
  while ((pos = sql.find("create table", pos)) != std::string::npos) {
    const std::size_t open = sql.find('(', pos);
    if (open == std::string::npos) break;
    std::string name = trim(std::string_view(sql).substr(pos + 12, open - pos - 12));
    if (name.starts_with("if not exists")) name = trim(name.substr(13));
    std::vector<Column> columns;
    int depth = 1;
    std::size_t start = open + 1, i = open + 1;
    for (; i < sql.size() && depth > 0; ++i) {
      const char c = sql[i];
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if ((c == ',' && depth == 1) || depth == 0) {
        const std::string item = trim(std::string_view(sql).substr(start, i - start));
        start = i + 1;
        if (item.empty() || item.starts_with("constraint") || item.starts_with("primary key")) continue;
        const std::size_t space = item.find_first_of(" \t\n");
        if (space == std::string::npos) continue;
        columns.push_back({item.substr(0, space), typeOf(trim(item.substr(space)))});
      }
    }
    tables[name] = std::move(columns);
    pos = i;
  }
  return tables;
}

}  // namespace staging
