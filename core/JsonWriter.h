// A JSON text built value by value, for the run summary: objects and arrays
// nest (a member or item a line, indented), commas go where they belong, and strings are escaped (the caller
// gives UTF-8; control characters are written as \u00XX). The caller keeps
// the structure right: a key before each value of an object.
#pragma once

#include <string>
#include <vector>

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(const std::string& name);
  JsonWriter& String(const std::string& value);
  JsonWriter& Number(long long value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  const std::string& Text() const { return text_; }

 private:
  void BeforeValue();
  void NewLine();
  void Close(char bracket);

  std::string text_;
  std::vector<bool> empty_;  // per open object or array: nothing in it yet
  bool afterKey_ = false;
};

// The text as a JSON string literal, quotes included.
std::string JsonQuoted(const std::string& utf8);
