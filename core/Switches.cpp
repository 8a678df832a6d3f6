#include "core/Switches.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <utility>

namespace {

bool IsSwitchWord(const std::string& word) {
  return !word.empty() && (word[0] == '-' || word[0] == '/');
}

bool EqualsNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

std::vector<std::string>& Arguments() {
  static std::vector<std::string> args;
  return args;
}

}  // namespace

bool HasSwitchIn(const std::vector<std::string>& args, const char* name) {
  for (const auto& word : args) {
    if (IsSwitchWord(word) && EqualsNoCase(word.c_str() + 1, name)) return true;
  }
  return false;
}

std::string GetSwitchValueIn(const std::vector<std::string>& args, const char* name) {
  const size_t length = std::strlen(name);
  for (const auto& word : args) {
    if (!IsSwitchWord(word)) continue;
    if (word.compare(1, length, name) == 0 && word.size() > length + 1 &&
        word[length + 1] == ':')
      return word.substr(length + 2);
  }
  return std::string();
}

int ParseDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

void SetProcessArguments(std::vector<std::string> args) { Arguments() = std::move(args); }
const std::vector<std::string>& ProcessArguments() { return Arguments(); }
bool HasSwitch(const char* name) { return HasSwitchIn(Arguments(), name); }
std::string GetSwitchValue(const char* name) { return GetSwitchValueIn(Arguments(), name); }
