#include "tests/support/JsonValue.h"

#include <cstdlib>
#include <cstring>

namespace testing_support {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool Document(JsonValue& value) {
    if (!Value(value, 0)) return false;
    Blanks();
    return at_ == text_.size();
  }
  size_t Position() const { return at_; }

 private:
  void Blanks() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_])) ++at_;
  }
  bool Literal(const char* word) {
    const size_t length = std::strlen(word);
    if (text_.compare(at_, length, word) != 0) return false;
    at_ += length;
    return true;
  }
  bool Value(JsonValue& value, int depth) {
    if (depth > 64) return false;
    Blanks();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    if (c == '"') {
      value.kind = JsonValue::Kind::kString;
      return String(value.text);
    }
    if (Literal("true") || Literal("false")) {
      value.kind = JsonValue::Kind::kBool;
      value.boolean = c == 't';
      return true;
    }
    if (Literal("null")) return true;
    char* end = nullptr;
    value.number = std::strtod(text_.c_str() + at_, &end);
    if (end == text_.c_str() + at_) return false;
    value.kind = JsonValue::Kind::kNumber;
    at_ = static_cast<size_t>(end - text_.c_str());
    return true;
  }
  bool String(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < text_.size() && text_[at_] != '"') {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char escape = text_[at_++];
      const char* from = "\"\\/bfnrt";
      const char* to = "\"\\/\b\f\n\r\t";
      if (const char* found = std::strchr(from, escape); found && escape) {
        out += to[found - from];
      } else if (escape == 'u' && at_ + 4 <= text_.size()) {
        const unsigned code = std::strtoul(text_.substr(at_, 4).c_str(), nullptr, 16);
        at_ += 4;
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
      } else {
        return false;
      }
    }
    if (at_ >= text_.size()) return false;
    ++at_;  // the closing quote
    return true;
  }
  bool Array(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kArray;
    ++at_;
    Blanks();
    if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
    for (;;) {
      value.items.emplace_back();
      if (!Value(value.items.back(), depth + 1)) return false;
      Blanks();
      if (at_ >= text_.size()) return false;
      if (text_[at_] == ']') return ++at_, true;
      if (text_[at_++] != ',') return false;
    }
  }
  bool Object(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kObject;
    ++at_;
    Blanks();
    if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
    for (;;) {
      Blanks();
      std::string name;
      if (at_ >= text_.size() || text_[at_] != '"' || !String(name)) return false;
      Blanks();
      if (at_ >= text_.size() || text_[at_++] != ':') return false;
      if (value.members.count(name)) return false;  // a key twice
      if (!Value(value.members[name], depth + 1)) return false;
      Blanks();
      if (at_ >= text_.size()) return false;
      if (text_[at_] == '}') return ++at_, true;
      if (text_[at_++] != ',') return false;
    }
  }

  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& name) const {
  static const JsonValue none;
  const auto found = members.find(name);
  return found == members.end() ? none : found->second;
}

bool ParseJson(const std::string& text, JsonValue& value, std::string* error) {
  value = JsonValue();
  Parser parser(text);
  if (parser.Document(value)) return true;
  if (error) *error = "not JSON at byte " + std::to_string(parser.Position());
  return false;
}

}  // namespace testing_support
