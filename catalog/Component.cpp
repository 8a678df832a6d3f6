#include "catalog/Component.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/TextFormat.h"

namespace {

// Reads `digits` hexadecimal digits at text[pos]; false on anything else.
bool ReadHex(const std::string& text, size_t pos, int digits, uint32_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexDigitValue(text[pos + i]);
    if (d < 0) return false;
    out = (out << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

// One "%d" conversion: white space, a sign, at least one digit.
bool ScanInt(const std::string& text, size_t& pos, int32_t& out) {
  size_t i = pos;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  long long n = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    if (n <= 0x80000000LL) n = n * 10 + (text[i] - '0');
  if (negative) n = -n;
  if (n > 0x7FFFFFFFLL) n = 0x7FFFFFFFLL;
  if (n < -0x80000000LL) n = -0x80000000LL;
  out = static_cast<int32_t>(n);
  pos = i;
  return true;
}

}  // namespace

bool IsNullClassId(const ClassId& id) {
  static const ClassId kNull = {};
  return std::memcmp(&id, &kNull, sizeof(id)) == 0;
}

bool ParseClassIdText(const std::string& text, ClassId& id) {
  // {8-4-4-4-12}: 38 characters with the braces.
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
      text[14] != '-' || text[19] != '-' || text[24] != '-')
    return false;
  uint32_t d1, d2, d3, byte;
  if (!ReadHex(text, 1, 8, d1) || !ReadHex(text, 10, 4, d2) || !ReadHex(text, 15, 4, d3))
    return false;
  ClassId result = {};
  result.Data1 = d1;
  result.Data2 = static_cast<uint16_t>(d2);
  result.Data3 = static_cast<uint16_t>(d3);
  static const size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, byte)) return false;
    result.Data4[i] = static_cast<uint8_t>(byte);
  }
  id = result;
  return true;
}

int VersionQuad::Compare(const VersionQuad& other) const {
  for (int i = 0; i < 4; ++i) {
    if (Part(i) != other.Part(i)) return Part(i) < other.Part(i) ? -1 : 1;
  }
  return 0;
}

std::string VersionQuad::CatalogText() const {
  char text[64];
  std::snprintf(text, sizeof(text), "%d,%d,%d,%d", a, b, c, d);
  return text;
}

std::string VersionQuad::RegistryText() const {
  char text[64];
  std::snprintf(text, sizeof(text), "%d, %d, %d, %d", a, b, c, d);
  return text;
}

std::string VersionQuad::DottedText() const {
  char text[64];
  std::snprintf(text, sizeof(text), "%d.%d.%d.%d", a, b, c, d);
  return text;
}

int ParseVersionQuad(const std::string& text, VersionQuad& version) {
  version = VersionQuad();
  int32_t* parts[4] = {&version.a, &version.b, &version.c, &version.d};
  size_t pos = 0;
  int read = 0;
  for (; read < 4; ++read) {
    if (read > 0) {
      if (pos >= text.size() || text[pos] != ',') break;
      ++pos;
    }
    if (!ScanInt(text, pos, *parts[read])) break;
  }
  return read;
}

int ParseComponentsEntry(const std::string& value, int32_t& id, VersionQuad& version) {
  id = 0;
  version = VersionQuad();
  if (value.find(';') == std::string::npos) return ParseVersionQuad(value, version);
  // "%d;%d,%d,%d,%d": the id, then a ";" directly after it.
  size_t pos = 0;
  if (!ScanInt(value, pos, id)) return 0;
  if (pos >= value.size() || value[pos] != ';') return 1;
  return 1 + ParseVersionQuad(value.substr(pos + 1), version);
}
