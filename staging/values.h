// The value rules: how the text of an XML element or attribute becomes a staging column's value.
//
// Conversions are strict and locale-independent; each returns the value in the canonical text form that
// PostgreSQL reads back exactly, or nothing when the text does not convert.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace staging {

enum class ColumnType { Text, Bigint, Double, Date, Integer };

// "text", "bigint", "double precision", "date", "integer".
const char* typeName(ColumnType t);

// Optional sign and ASCII digits (leading zeros allowed), surrounding blanks allowed, within 64 bits.
std::optional<std::int64_t> parseBigint(std::string_view text);

// Optional sign, digits with at most one decimal separator ('.' or ','), optional exponent; no digit
// grouping, NaN or infinity; surrounding blanks allowed. Returns the shortest text that reads back as
// the same double.
std::optional<std::string> parseDouble(std::string_view text);

// "YYYY-MM-DD", optionally followed by 'T' or a blank and "hh:mm[:ss[.fff]]", and an optional zone
// ("Z", "+hh:mm", "-hh:mm"); or "DD.MM.YYYY", optionally followed by a blank and a time. Only real
// calendar dates convert. Returns the date part as "YYYY-MM-DD".
std::optional<std::string> parseDate(std::string_view text);

// The canonical value of `text` for a column of type `t`, or nothing when it does not convert.
std::optional<std::string> convert(ColumnType t, std::string_view text);

}  // namespace staging
