#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "staging/values.h"

using staging::ColumnType;
using staging::convert;

namespace {

struct Case {
  ColumnType type;
  std::string text;
  std::optional<std::string> expected;  // nothing: does not convert
};

class ConversionTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConversionTest, ConvertsOrRefuses) {
  const Case& c = GetParam();
  EXPECT_EQ(convert(c.type, c.text), c.expected) << staging::typeName(c.type) << " from \"" << c.text << "\"";
}

const Case kCases[] = {
    // text is stored unchanged, blanks and all
    {ColumnType::Text, "  a'b\"c;\\ DROP TABLE x; \n", "  a'b\"c;\\ DROP TABLE x; \n"},
    {ColumnType::Text, "", ""},
    // bigint
    {ColumnType::Bigint, "42", "42"},
    {ColumnType::Bigint, "-42", "-42"},
    {ColumnType::Bigint, "+7", "7"},
    {ColumnType::Bigint, "000123", "123"},
    {ColumnType::Bigint, " 15\t", "15"},
    {ColumnType::Bigint, "9223372036854775807", "9223372036854775807"},
    {ColumnType::Bigint, "-9223372036854775808", "-9223372036854775808"},
    {ColumnType::Bigint, "9223372036854775808", std::nullopt},
    {ColumnType::Bigint, "-9223372036854775809", std::nullopt},
    {ColumnType::Bigint, "", std::nullopt},
    {ColumnType::Bigint, " ", std::nullopt},
    {ColumnType::Bigint, "-", std::nullopt},
    {ColumnType::Bigint, "12a", std::nullopt},
    {ColumnType::Bigint, "1.0", std::nullopt},
    {ColumnType::Bigint, "1 000", std::nullopt},
    {ColumnType::Bigint, "\xd9\xa3", std::nullopt},  // a non-ASCII digit
    // double precision
    {ColumnType::Double, "1.5", "1.5"},
    {ColumnType::Double, "1,5", "1.5"},
    {ColumnType::Double, "-0.25", "-0.25"},
    {ColumnType::Double, "+3", "3"},
    {ColumnType::Double, ".5", "0.5"},
    {ColumnType::Double, "5.", "5"},
    {ColumnType::Double, "1e3", "1000"},
    {ColumnType::Double, "2.5E-2", "0.025"},
    {ColumnType::Double, " 4.75 ", "4.75"},
    {ColumnType::Double, "-0", "0"},
    {ColumnType::Double, "0.1", "0.1"},
    {ColumnType::Double, "1234567.891", "1234567.891"},
    {ColumnType::Double, "1.234,56", std::nullopt},
    {ColumnType::Double, "1,234.56", std::nullopt},
    {ColumnType::Double, "1 234,56", std::nullopt},
    {ColumnType::Double, "NaN", std::nullopt},
    {ColumnType::Double, "inf", std::nullopt},
    {ColumnType::Double, "1e999", std::nullopt},
    {ColumnType::Double, "1e", std::nullopt},
    {ColumnType::Double, ".", std::nullopt},
    {ColumnType::Double, "", std::nullopt},
    {ColumnType::Double, "12 lei", std::nullopt},
    {ColumnType::Double, "0x1A", std::nullopt},
    // date
    {ColumnType::Date, "2014-06-30", "2014-06-30"},
    {ColumnType::Date, "2014-06-30T13:52:45", "2014-06-30"},
    {ColumnType::Date, "2014-06-30T13:52:45.743", "2014-06-30"},
    {ColumnType::Date, "2014-06-30T13:52:45+03:00", "2014-06-30"},
    {ColumnType::Date, "2014-06-30T13:52:45Z", "2014-06-30"},
    {ColumnType::Date, "2014-06-30 13:52", "2014-06-30"},
    {ColumnType::Date, "2014-06-30Z", "2014-06-30"},
    {ColumnType::Date, "30.06.2014", "2014-06-30"},
    {ColumnType::Date, "30.06.2014 13:52:45", "2014-06-30"},
    {ColumnType::Date, "2016-02-29", "2016-02-29"},
    {ColumnType::Date, "2000-02-29", "2000-02-29"},
    {ColumnType::Date, "1900-02-29", std::nullopt},
    {ColumnType::Date, "2015-02-29", std::nullopt},
    {ColumnType::Date, "2014-13-01", std::nullopt},
    {ColumnType::Date, "2014-04-31", std::nullopt},
    {ColumnType::Date, "2014-00-10", std::nullopt},
    {ColumnType::Date, "0000-01-01", std::nullopt},
    {ColumnType::Date, "2014-6-30", std::nullopt},
    {ColumnType::Date, "06/30/2014", std::nullopt},
    {ColumnType::Date, "30.06.2014T13:52", std::nullopt},
    {ColumnType::Date, "2014-06-30T25:00", std::nullopt},
    {ColumnType::Date, "2014-06-30T13", std::nullopt},
    {ColumnType::Date, "2014-06-30 garbage", std::nullopt},
    {ColumnType::Date, "", std::nullopt},
    // integer positions
    {ColumnType::Integer, "3", "3"},
    {ColumnType::Integer, "2147483648", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(ValueRules, ConversionTest, ::testing::ValuesIn(kCases));

}  // namespace
