#include "browser/CookieFormats.h"

#include <cstddef>

#include "core/TextFormat.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// One line of a text without its end: "\n", or "\r\n" as an editor may leave.
struct Line {
  std::string text;
  std::string end;
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t newline = text.find('\n', at);
    Line line;
    if (newline == std::string::npos) {
      line.text = text.substr(at);
      at = text.size();
    } else {
      line.text = text.substr(at, newline - at);
      line.end = "\n";
      at = newline + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.end.insert(0, "\r");
    }
    lines.push_back(line);
  }
  return lines;
}

bool IsFlag(const std::string& text) { return text == "TRUE" || text == "FALSE"; }

// The seven fields of a "cookies.txt" record: six end at a tab, the value at
// the end of the line. An empty value is allowed here, so that a cookie
// emptied by an earlier run is found again instead of written twice.
bool ParseCookiesTxtRecord(const std::string& line, std::vector<std::string>& fields) {
  if (line.empty() || line[0] == '#') return false;
  fields.clear();
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    const size_t tab = line.find('\t', at);
    if (tab == std::string::npos) return false;
    fields.push_back(line.substr(at, tab - at));
    at = tab + 1;
  }
  fields.push_back(line.substr(at));
  return !fields[0].empty() && IsFlag(fields[1]) && !fields[2].empty() && IsFlag(fields[3]) &&
         !fields[4].empty() && !fields[5].empty();
}

}  // namespace

std::string DecodeCookieValue(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  for (char& c : bytes) {
    if (c == '+') c = ' ';
  }
  return bytes;
}

std::string CookieHostOf(const std::string& siteAddress) {
  const size_t scheme = siteAddress.find("://");
  return scheme == std::string::npos ? siteAddress : siteAddress.substr(scheme + 3);
}

std::vector<InternetExplorerCookie> ParseInternetExplorerCookies(const std::string& text) {
  std::vector<InternetExplorerCookie> records;
  std::vector<std::string> block;
  for (const Line& line : SplitLines(text)) {
    if (line.text != "*") {
      block.push_back(line.text);
      continue;
    }
    if (block.size() >= 3) {
      InternetExplorerCookie record;
      record.name = block[0];
      record.value = DecodeCookieValue(block[1]);
      record.host = block[2];
      if (!record.host.empty() && record.host.back() == '/') record.host.pop_back();
      records.push_back(record);
    }
    block.clear();
  }
  return records;
}

std::string SetCookiesTxtCookie(const std::string& text, const std::string& siteAddress,
                                const std::string& name, const std::string& value,
                                long long expiry) {
  const std::string host = CookieHostOf(siteAddress);
  std::string result;
  bool set = false;
  std::vector<std::string> fields;
  for (const Line& line : SplitLines(text)) {
    if (!set && ParseCookiesTxtRecord(line.text, fields) &&
        (EqualNoCase(fields[0], siteAddress) || EqualNoCase(fields[0], host)) &&
        EqualNoCase(fields[5], name)) {
      for (int i = 0; i < 6; ++i) result += fields[i] + "\t";
      result += value;
      set = true;
    } else {
      result += line.text;
    }
    result += line.end;
  }
  if (!set) {
    if (!result.empty() && result.back() != '\n') result += "\n";
    result += host + "\tFALSE\t/\tFALSE\t" + std::to_string(expiry) + "\t" + name + "\t" +
              value + "\n";
  }
  return result;
}
