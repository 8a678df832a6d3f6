// IniFile: the reader of the INF files (the components catalogue and its kept
// copy). The file is split into an ordered list of sections, each an ordered
// list of key/value pairs; nothing is merged, nothing is trimmed inside a pair.
// The grammar is this program's own and differs from the usual INI rules:
// lines end only at a carriage return, "//" cuts the rest of any line, every
// "=" after the first is dropped. Parse() is pure; Load() adds the file I/O.
//
// Lookups compare section names and keys without regard to ASCII case; an
// index by section name keeps them from scanning the whole file. The
// language-aware lookups add the user's language tag to the key; the language
// is a value the reader is given, so the grammar stays free of system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct IniEntry {
  std::string key;
  std::string value;
  size_t offset = 0;  // where the entry's line starts in the decoded text
};

struct IniSection {
  std::string name;
  std::vector<IniEntry> entries;
  size_t offset = 0;  // where the header line starts in the decoded text
};

// What happened to one line on its way through the reader. Only a checker
// listens; the program itself never asks.
enum class IniLineEvent {
  kDroppedNoMarker,      // no "[" and no "=": the line is gone
  kTextBeforeBracket,    // text in front of the first "[" was removed
  kCommentCut,           // "//" and everything after it were removed
  kHeaderWithoutClose,   // "[" without "]": ignored
  kHeaderTrailingText,   // text after the last "]" is part of the name
  kNoEqualsAfterCut,     // its "=" stood after "//": the line is gone
  kExtraEqualsDropped,   // every "=" after the first was removed
  kKeyOutsideSection,    // a pair before the first header: no lookup finds it
  kUnterminatedLastLine, // text after the last carriage return: lost
};

class IniParseObserver {
 public:
  virtual ~IniParseObserver() = default;
  // `offset` is the start of the reader's line in the decoded text, `raw` the
  // line as the reader saw it (CR removed), `kept` what it kept of it.
  virtual void OnLine(IniLineEvent event, size_t offset, const std::string& raw,
                      const std::string& kept) = 0;
};

class IniFile {
 public:
  // The language identifier picks "Key LANGID p SUBLANGID s" and "Key LANGID p"
  // variants. The default is the user's interface language in the Windows build
  // and US English (0x0409) elsewhere.
  IniFile();
  explicit IniFile(uint16_t langId) : langId_(langId) {}
  virtual ~IniFile() = default;

  // Reads the whole file and splits it. False when it cannot be opened (logged:
  // "Failed to open INI file '%s'. Error %d\n"), is empty or cannot be read
  // whole (not logged).
  bool Load(const std::string& path);

  // Splits bytes as Load does after reading them; replaces earlier contents.
  void Parse(const char* data, size_t size, IniParseObserver* observer = nullptr);

  // Raw value of the first matching entry, searching every section of the name
  // in file order; else `defaultText`, else "".
  std::string GetValue(const std::string& section, const std::string& key,
                       const char* defaultText = nullptr) const;
  // Appends the pairs of the first section of that name; false when none exists.
  bool GetSectionEntries(const std::string& section, std::vector<IniEntry>& out) const;
  // Long tag, short tag, then the plain key; a plain key that is empty gives the default.
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultText) const;
  // GetString, then a decimal conversion ("12KB" -> 12, "abc" -> 0); missing
  // or empty gives the default.
  int GetInt(const std::string& section, const std::string& key, int defaultValue) const;
  // As GetString, but a present empty plain key is returned empty. Copies at
  // most capacity-1 characters, always terminated; returns the length of the
  // text found (17 when nothing was found).
  size_t GetStringToBuffer(const std::string& section, const std::string& key,
                           const std::string& defaultText, char* buffer,
                           size_t capacity) const;

  // The entry GetValue would return, or null.
  const IniEntry* FindEntry(const std::string& section, const std::string& key) const;
  // The first section of that name, or null.
  const IniSection* FindSection(const std::string& section) const;

  uint16_t LanguageId() const { return langId_; }
  void SetLanguageId(uint16_t langId) { langId_ = langId; }
  const std::vector<IniSection>& Sections() const { return sections_; }

 private:
  // Steps 1 and 2 of the language-aware lookups; false when neither tag is there.
  bool FindLocalized(const std::string& section, const std::string& key,
                     std::string& value) const;

  // Sections of one name, in file order, under the lower-case name: keeps a
  // catalogue's parse linear in its size however many sections it has.
  const std::vector<size_t>* SectionsNamed(const std::string& name) const;
  void BuildIndex();

  uint16_t langId_;
  std::vector<IniSection> sections_;
  std::unordered_map<std::string, std::vector<size_t>> index_;
};

// The reader's text: UTF-16LE (first bytes FF FE) narrowed to the low byte of
// each code unit, the mark included; anything else as it is.
std::string DecodeIniText(const char* data, size_t size);

// True when the file starts with the UTF-16LE mark.
bool IsUtf16Text(const char* data, size_t size);

// Case-insensitive equality for ASCII letters; other bytes compare exactly.
bool IniNameEquals(const std::string& a, const std::string& b);

// The reader's integer conversion: leading white space, one sign, digits up to
// the first other character; no digits give 0. Saturates instead of overflowing.
int IniToInt(const std::string& text);

// "LANGID <primary>" or "LANGID <primary> SUBLANGID <sub>".
std::string IniLanguageTag(uint16_t langId, bool withSublanguage);
