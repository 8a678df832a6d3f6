// The SQLite library the program carries for the browsers' cookie files.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace {

TEST(Sqlite, InMemoryDatabaseRunsStatements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  char* error = nullptr;
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE moz_cookies (host TEXT, name TEXT);"
                         "INSERT INTO moz_cookies VALUES ('.pellory.example', 'id');"
                         "INSERT INTO moz_cookies VALUES ('.other.example', 'id');"
                         "DELETE FROM moz_cookies WHERE host LIKE '%pellory%';",
                         nullptr, nullptr, &error),
            SQLITE_OK)
      << (error ? error : "");
  int rows = -1;
  auto count = [](void* out, int, char** values, char**) {
    *static_cast<int*>(out) = std::stoi(values[0]);
    return 0;
  };
  ASSERT_EQ(sqlite3_exec(db, "SELECT COUNT(*) FROM moz_cookies;", count, &rows, &error),
            SQLITE_OK);
  EXPECT_EQ(rows, 1);
  // A bad statement reports an error text that the caller must free.
  EXPECT_NE(sqlite3_exec(db, "DELETE FROM nowhere;", nullptr, nullptr, &error), SQLITE_OK);
  ASSERT_NE(error, nullptr);
  EXPECT_NE(std::string(error).find("nowhere"), std::string::npos);
  sqlite3_free(error);
  EXPECT_EQ(sqlite3_close(db), SQLITE_OK);
}

}  // namespace
