#include "catalog/IniFile.h"

#include <climits>
#include <cstring>

#include "core/Platform.h"

namespace {

const char kNotFoundValue[] = "<NOT FOUND VALUE>";
const char kNotFoundInt[] = "<<Not found>>";

bool IsIniSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Builds the section list from finished lines; keeps the current section.
class SectionBuilder {
 public:
  SectionBuilder(std::vector<IniSection>& sections, IniParseObserver* observer)
      : sections_(sections), observer_(observer) {}

  void FinishLine(const std::string& raw, size_t offset) {
    const size_t marker = raw.find_first_of("[=");
    if (marker == std::string::npos) {
      Note(IniLineEvent::kDroppedNoMarker, offset, raw, "");
      return;
    }
    std::string line = raw;
    if (line[marker] == '[' && marker > 0) {
      line.erase(0, marker);
      Note(IniLineEvent::kTextBeforeBracket, offset, raw, line);
    }
    const size_t comment = line.find("//");
    if (comment != std::string::npos) {
      line.erase(comment);
      Note(IniLineEvent::kCommentCut, offset, raw, line);
    }
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && IsIniSpace(line[begin])) ++begin;
    while (end > begin && IsIniSpace(line[end - 1])) --end;
    line = line.substr(begin, end - begin);

    if (!line.empty() && line[0] == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string::npos) {
        Note(IniLineEvent::kHeaderWithoutClose, offset, raw, line);
        return;
      }
      if (close != line.size() - 1) Note(IniLineEvent::kHeaderTrailingText, offset, raw, line);
      if (current_) sections_.push_back(std::move(section_));
      section_ = IniSection();
      section_.name = line.substr(1, line.size() - 2);
      section_.offset = offset;
      current_ = true;
      return;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      // Only the cut can have taken the "=" away: the marker search found one.
      Note(IniLineEvent::kNoEqualsAfterCut, offset, raw, line);
      return;
    }
    IniEntry entry;
    entry.key = line.substr(0, equals);
    entry.value.reserve(line.size() - equals - 1);
    bool dropped = false;
    for (size_t i = equals + 1; i < line.size(); ++i) {
      if (line[i] == '=') {
        dropped = true;
        continue;
      }
      entry.value.push_back(line[i]);
    }
    if (dropped) Note(IniLineEvent::kExtraEqualsDropped, offset, raw, line);
    entry.offset = offset;
    if (!current_) {
      Note(IniLineEvent::kKeyOutsideSection, offset, raw, line);
      return;
    }
    section_.entries.push_back(std::move(entry));
  }

  void Finish() {
    if (current_) sections_.push_back(std::move(section_));
    current_ = false;
  }

  void Note(IniLineEvent event, size_t offset, const std::string& raw, const std::string& kept) {
    if (observer_) observer_->OnLine(event, offset, raw, kept);
  }

 private:
  std::vector<IniSection>& sections_;
  IniParseObserver* observer_;
  IniSection section_;
  bool current_ = false;
};

}  // namespace

bool IsUtf16Text(const char* data, size_t size) {
  return size >= 2 && static_cast<unsigned char>(data[0]) == 0xFF &&
         static_cast<unsigned char>(data[1]) == 0xFE;
}

std::string DecodeIniText(const char* data, size_t size) {
  if (!IsUtf16Text(data, size)) return std::string(data, size);
  // One character per code unit, its low byte; an odd last byte is no unit.
  std::string text(size / 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = data[2 * i];
  return text;
}

bool IniNameEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

int IniToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsIniSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return static_cast<int>(-n);
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

std::string IniLanguageTag(uint16_t langId, bool withSublanguage) {
  return GetLanguageTag(langId, withSublanguage);
}

#ifndef _WIN32
IniFile::IniFile() : langId_(0x0409) {}
#else
IniFile::IniFile() : langId_(GetUILanguageId()) {}
#endif

void IniFile::Parse(const char* data, size_t size, IniParseObserver* observer) {
  sections_.clear();
  const std::string text = DecodeIniText(data, size);
  SectionBuilder builder(sections_, observer);
  std::string line;
  size_t lineStart = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r') {
      line.push_back(c);
      continue;
    }
    builder.FinishLine(line, lineStart);
    line.clear();
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lineStart = i + 1;
  }
  // A last line without a carriage return does not exist for the reader.
  if (!line.empty()) builder.Note(IniLineEvent::kUnterminatedLastLine, lineStart, line, "");
  builder.Finish();
  BuildIndex();
}

static std::string LowerName(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

void IniFile::BuildIndex() {
  index_.clear();
  for (size_t i = 0; i < sections_.size(); ++i) index_[LowerName(sections_[i].name)].push_back(i);
}

const std::vector<size_t>* IniFile::SectionsNamed(const std::string& name) const {
  const auto found = index_.find(LowerName(name));
  return found == index_.end() ? nullptr : &found->second;
}

const IniEntry* IniFile::FindEntry(const std::string& section, const std::string& key) const {
  const std::vector<size_t>* named = SectionsNamed(section);
  if (!named) return nullptr;
  for (size_t i : *named) {
    for (const IniEntry& e : sections_[i].entries)
      if (IniNameEquals(e.key, key)) return &e;
  }
  return nullptr;
}

std::string IniFile::GetValue(const std::string& section, const std::string& key,
                              const char* defaultText) const {
  if (const IniEntry* entry = FindEntry(section, key)) return entry->value;
  return defaultText ? std::string(defaultText) : std::string();
}

const IniSection* IniFile::FindSection(const std::string& section) const {
  const std::vector<size_t>* named = SectionsNamed(section);
  return named ? &sections_[named->front()] : nullptr;
}

bool IniFile::GetSectionEntries(const std::string& section, std::vector<IniEntry>& out) const {
  const std::vector<size_t>* named = SectionsNamed(section);
  if (!named) return false;
  const IniSection& s = sections_[named->front()];
  out.insert(out.end(), s.entries.begin(), s.entries.end());
  return true;
}

bool IniFile::FindLocalized(const std::string& section, const std::string& key,
                            std::string& value) const {
  // The marker comparisons are exact: a value that happens to read
  // "<NOT FOUND VALUE>" counts as not found, as in the classic lookups.
  value = GetValue(section, key + " " + IniLanguageTag(langId_, true), kNotFoundValue);
  if (value != kNotFoundValue) return true;
  value = GetValue(section, key + " " + IniLanguageTag(langId_, false), kNotFoundValue);
  return value != kNotFoundValue;
}

std::string IniFile::GetString(const std::string& section, const std::string& key,
                               const std::string& defaultText) const {
  std::string value;
  if (FindLocalized(section, key, value)) return value;
  value = GetValue(section, key, "");
  return value.empty() ? defaultText : value;
}

int IniFile::GetInt(const std::string& section, const std::string& key, int defaultValue) const {
  const std::string text = GetString(section, key, kNotFoundInt);
  if (text == kNotFoundInt) return defaultValue;
  return IniToInt(text);
}

size_t IniFile::GetStringToBuffer(const std::string& section, const std::string& key,
                                  const std::string& defaultText, char* buffer,
                                  size_t capacity) const {
  std::string value;
  if (!FindLocalized(section, key, value)) value = GetValue(section, key, kNotFoundValue);
  const std::string& copy = value != kNotFoundValue ? value : defaultText;
  if (buffer && capacity > 0) {
    const size_t n = copy.size() < capacity - 1 ? copy.size() : capacity - 1;
    std::memcpy(buffer, copy.data(), n);
    buffer[n] = '\0';
  }
  return value.size();
}
