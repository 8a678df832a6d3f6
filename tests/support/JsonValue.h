// A small JSON reader for tests: the text is parsed whole into a tree, and
// anything that is not JSON fails the parse. Strings keep their UTF-8 bytes.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  // The member `name` of an object; a null value when there is none.
  const JsonValue& operator[](const std::string& name) const;
  bool Has(const std::string& name) const { return members.count(name) != 0; }
};

// False (and `error` says where) when `text` is not one JSON value.
bool ParseJson(const std::string& text, JsonValue& value, std::string* error = nullptr);

}  // namespace testing_support
