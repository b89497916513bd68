// What the program reads from its own staging scripts must match what the server makes of them.
#include <gtest/gtest.h>

#include "staging/ddl.h"
#include "staging/scripts.h"
#include "support/testing.h"

namespace {

using testing_support::TestDb;

TEST(StagingScripts, TablesReadFromTheScriptMatchTheServer) {
  TestDb db;
  ASSERT_FALSE(staging::embeddedScripts().empty());
  for (const auto& [kind, text] : staging::embeddedScripts()) {
    db.exec(text);
    const auto tables = staging::tablesOfScript(text);
    EXPECT_FALSE(tables.empty()) << kind;
    for (const auto& [table, columns] : tables) {
      const auto rows = db.query(
          "SELECT a.attname, format_type(a.atttypid, a.atttypmod) FROM pg_attribute a "
          "WHERE a.attrelid = $1::regclass AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
          {table});
      ASSERT_EQ(rows.size(), columns.size()) << kind << ": " << table;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], columns[i].name) << kind << ": " << table << " column " << i + 1;
        EXPECT_EQ(rows[i][1], staging::typeName(columns[i].type)) << kind << ": " << table << "." << columns[i].name;
      }
    }
  }
}

TEST(StagingScripts, ParserSkipsConstraintsAndComments) {
  const auto tables = staging::tablesOfScript(
      "-- Invoice - facturi client\ndrop table if exists t;\nCREATE TABLE t (\n  nume_fisier text, -- the file\n"
      "  ID bigint NOT NULL, curs double precision, d DATE, n integer,\n"
      "  CONSTRAINT t_pk PRIMARY KEY (nume_fisier, id)\n);\ncreate table u (a text);");
  ASSERT_EQ(tables.size(), 2u);
  const auto& t = tables.at("t");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[1].name, "id");
  EXPECT_EQ(t[1].type, staging::ColumnType::Bigint);
  EXPECT_EQ(t[2].type, staging::ColumnType::Double);
  EXPECT_EQ(t[3].type, staging::ColumnType::Date);
  EXPECT_EQ(t[4].type, staging::ColumnType::Integer);
  EXPECT_EQ(tables.at("u").size(), 1u);
}

}  // namespace
