#include "transfer/ResumeAnswer.h"

#include <cctype>

namespace {

// Reads the decimal number at `at`; false when there is none or it overflows.
bool ReadNumber(const std::string& text, size_t& at, unsigned long long& value) {
  const size_t start = at;
  value = 0;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    if (value > (~0ull - 9) / 10) return false;
    value = value * 10 + static_cast<unsigned>(text[at] - '0');
  }
  return at > start;
}

}  // namespace

std::string RangeRequestHeaders(const ResumePoint& point) {
  if (point.offset == 0 || point.validator.empty()) return std::string();
  // A weak ETag never matches in the comparison a range asks for.
  if (point.validator.compare(0, 2, "W/") == 0) return std::string();
  // Header lines end at CR LF: a value that carries one is not a validator.
  if (point.validator.find_first_of("\r\n") != std::string::npos) return std::string();
  return "Range: bytes=" + std::to_string(point.offset) + "-\r\nIf-Range: " + point.validator +
         "\r\n";
}

bool ContinuesDownload(const std::string& contentRange, const std::string& validator,
                       const ResumePoint& point) {
  if (validator.empty() || validator != point.validator) return false;
  const std::string unit = "bytes ";
  if (contentRange.compare(0, unit.size(), unit) != 0) return false;
  size_t at = unit.size();
  unsigned long long first = 0, last = 0;
  if (!ReadNumber(contentRange, at, first) || first != point.offset) return false;
  if (at >= contentRange.size() || contentRange[at++] != '-') return false;
  if (!ReadNumber(contentRange, at, last) || last < first) return false;
  if (at >= contentRange.size() || contentRange[at++] != '/') return false;
  if (contentRange.compare(at, std::string::npos, "*") == 0) return true;
  unsigned long long total = 0;
  if (!ReadNumber(contentRange, at, total) || at != contentRange.size() || last >= total)
    return false;
  return point.total < 0 || total == static_cast<unsigned long long>(point.total);
}
