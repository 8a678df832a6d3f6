// Firefox cookie databases for the browser tests: the two table layouts, a
// row maker and a connection of the test's own that reads the rows back.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

namespace firefox_test {

using Rows = std::vector<std::string>;

// Firefox 3.0's table.
inline const char kFirefox3Layout[] =
    "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, name TEXT, value TEXT, host TEXT, "
    "path TEXT, expiry INTEGER, lastAccessed INTEGER, isSecure INTEGER, isHttpOnly INTEGER);";
// A current Firefox's table: origin attributes, and one row per name, host,
// path and origin.
inline const char kCurrentLayout[] =
    "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT "
    "'', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, "
    "creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER "
    "DEFAULT 0, sameSite INTEGER DEFAULT 0, rawSameSite INTEGER DEFAULT 0, schemeMap INTEGER "
    "DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0, CONSTRAINT moz_uniqueid UNIQUE "
    "(name, host, path, originAttributes));";

inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += (c == '\'') ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// One cookie row, expiring 1999999999; `current`: with its origin attributes.
inline std::string Insert(bool current, const std::string& origin, const std::string& host,
                          const std::string& path, int secure, const std::string& name,
                          const std::string& value) {
  return "INSERT INTO moz_cookies (" + std::string(current ? "originAttributes, " : "") +
         "name, value, host, path, expiry, lastAccessed, isSecure, isHttpOnly) VALUES (" +
         (current ? Quoted(origin) + ", " : "") + Quoted(name) + ", " + Quoted(value) + ", " +
         Quoted(host) + ", " + Quoted(path) + ", 1999999999, 1700000000000000, " +
         std::to_string(secure) + ", 1);";
}

// A connection of the test's own, for making and reading databases.
class TestDatabase {
 public:
  explicit TestDatabase(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open " << path;
  }
  ~TestDatabase() { sqlite3_close(db_); }
  bool Exec(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) ADD_FAILURE() << sql << ": " << (error ? error : "?");
    sqlite3_free(error);
    return rc == SQLITE_OK;
  }
  // Every row of moz_cookies as "host|path|isSecure|expiry|name|value", sorted.
  Rows Cookies() {
    Rows rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "SELECT host, path, isSecure, expiry, name, value FROM moz_cookies",
                           -1, &statement, nullptr) != SQLITE_OK)
      return {"<cannot read>"};
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < 6; ++i) {
        const unsigned char* text = sqlite3_column_text(statement, i);
        row += (i ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(statement);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace firefox_test
