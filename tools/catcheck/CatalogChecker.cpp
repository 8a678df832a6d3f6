#include "tools/catcheck/CatalogChecker.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "catalog/Component.h"
#include "catalog/ComponentCatalog.h"
#include "catalog/IniFile.h"
#include "catalog/RegistryEntry.h"
#include "catalog/TargetPath.h"

namespace {

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "'";
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\n\v\f\r") == std::string::npos;
}

std::string Trimmed(const std::string& text) {
  const size_t b = text.find_first_not_of(" \t\n\v\f\r");
  if (b == std::string::npos) return "";
  const size_t e = text.find_last_not_of(" \t\n\v\f\r");
  return text.substr(b, e - b + 1);
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && IniNameEquals(text.substr(0, prefix.size()), prefix);
}

// Maps offsets of the decoded text to the line numbers a text editor shows.
class LineMap {
 public:
  explicit LineMap(const std::string& text) {
    starts_.push_back(0);
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r') {
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        starts_.push_back(i + 1);
      } else if (text[i] == '\n') {
        starts_.push_back(i + 1);
      }
    }
  }
  size_t LineOf(size_t offset) const {
    return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                               starts_.begin());
  }

 private:
  std::vector<size_t> starts_;
};

class Checker : public IniParseObserver {
 public:
  Checker(const std::string& bytes, const CatcheckOptions& options)
      : options_(options),
        text_(DecodeIniText(bytes.data(), bytes.size())),
        lines_(text_),
        ini_(options.langId) {
    ini_.Parse(bytes.data(), bytes.size(), this);
    CheckLineEnds(bytes);
    CheckCatalogue();
    CheckDuplicates();
  }

  std::vector<CatcheckFinding> Findings() {
    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const CatcheckFinding& a, const CatcheckFinding& b) {
                       return a.line < b.line;
                     });
    return findings_;
  }

  void OnLine(IniLineEvent event, size_t offset, const std::string& raw,
              const std::string& kept) override {
    const size_t line = lines_.LineOf(offset);
    switch (event) {
      case IniLineEvent::kDroppedNoMarker: {
        const std::string t = Trimmed(raw);
        // Blank lines and ";" or "#" comments are meant to vanish.
        if (!t.empty() && t[0] != ';' && t[0] != '#' && t.compare(0, 2, "//") != 0)
          Add(line, "line dropped: it holds neither '[' nor '=': " + Quote(t));
        break;
      }
      case IniLineEvent::kTextBeforeBracket: {
        std::string removed = raw.substr(0, raw.find('['));
        if (offset == 0 && !removed.empty() && static_cast<unsigned char>(removed[0]) == 0xFF)
          removed.erase(0, 1);  // the UTF-16 mark
        if (offset == 0 && removed.compare(0, 3, "\xEF\xBB\xBF") == 0) removed.erase(0, 3);
        if (!IsBlank(removed))
          Add(line, "text before '[' is removed, the line reads " + Quote(Trimmed(kept)) +
                        (removed.find("//") != std::string::npos
                             ? ": a header behind '//' is not commented out"
                             : ""));
        break;
      }
      case IniLineEvent::kCommentCut: {
        if (IsBlank(kept)) break;  // a comment line
        Add(line, "'//' cuts the line, what stays is " + Quote(Trimmed(kept)) +
                      (kept.size() && kept.back() == ':' ? " (a URL keeps only its scheme)" : ""));
        break;
      }
      case IniLineEvent::kNoEqualsAfterCut:
        if (!IsBlank(kept)) Add(line, "line dropped: its '=' stands after '//'");
        break;
      case IniLineEvent::kHeaderWithoutClose:
        Add(line, "section header without ']' is ignored; the lines after it belong to the "
                  "section before: " + Quote(kept));
        break;
      case IniLineEvent::kHeaderTrailingText:
        Add(line, "text after ']' is part of the section name: the section is " +
                      Quote(kept.substr(1, kept.size() - 2)));
        break;
      case IniLineEvent::kExtraEqualsDropped: {
        std::string value = kept.substr(kept.find('=') + 1);
        value.erase(std::remove(value.begin(), value.end(), '='), value.end());
        Add(line, "every '=' after the first is removed: the value reads " + Quote(value));
        break;
      }
      case IniLineEvent::kKeyOutsideSection:
        Add(line, "key line before the first section header: no lookup finds it");
        break;
      case IniLineEvent::kUnterminatedLastLine:
        if (!IsBlank(raw))
          Add(line, "the last line has no carriage return and is lost: " + Quote(Trimmed(raw)));
        break;
    }
  }

 private:
  void Add(size_t line, const std::string& text) { findings_.push_back({line, text}); }

  size_t LineOfSection(const std::string& name) const {
    const IniSection* s = ini_.FindSection(name);
    return s ? lines_.LineOf(s->offset) : 0;
  }
  const IniSection* FindSection(const std::string& name) const { return ini_.FindSection(name); }
  const IniEntry* FindEntry(const std::string& section, const std::string& key) const {
    return ini_.FindEntry(section, key);
  }
  // The line of a key as the language-aware lookup finds it; else the section's.
  size_t LineOfKey(const std::string& section, const std::string& key) const {
    for (const std::string& k : {key + " " + IniLanguageTag(ini_.LanguageId(), true),
                                 key + " " + IniLanguageTag(ini_.LanguageId(), false), key}) {
      if (const IniEntry* e = FindEntry(section, k)) return lines_.LineOf(e->offset);
    }
    return LineOfSection(section);
  }

  void CheckLineEnds(const std::string& bytes) {
    if (text_.empty()) return;
    if (text_.find('\r') == std::string::npos) {
      Add(0, text_.find('\n') != std::string::npos
                 ? "the file has no carriage return (LF line ends): the reader sees no line "
                   "at all and the catalogue is empty"
                 : "the file has no carriage return: its only line is lost");
      return;
    }
    for (size_t i = 0; i < text_.size(); ++i) {
      if (text_[i] == '\n' && (i == 0 || text_[i - 1] != '\r'))
        Add(lines_.LineOf(i), "line feed without carriage return: the reader joins the next "
                              "line to this one");
    }
    if (IsUtf16Text(bytes.data(), bytes.size())) {
      std::set<size_t> reported;
      for (size_t unit = 1; 2 * unit + 1 < bytes.size(); ++unit) {
        if (bytes[2 * unit + 1] == 0) continue;
        const size_t line = lines_.LineOf(unit);
        if (reported.insert(line).second)
          Add(line, "a character beyond 8 bits is cut to its low byte");
      }
    }
  }

  // Booleans are true only for the exact text "Yes".
  void CheckBool(const std::string& section, const char* key) {
    const IniSection* s = FindSection(section);
    if (!s) return;
    for (const IniEntry& e : s->entries) {
      if (!IniNameEquals(e.key, key) && !StartsWithNoCase(e.key, std::string(key) + " LANGID "))
        continue;
      if (e.value.empty() || e.value == "Yes" || e.value == "No") continue;
      Add(lines_.LineOf(e.offset), std::string(key) + "=" + e.value +
                                       " is not exactly \"Yes\": it reads as false");
    }
  }

  void CheckPlatform(const std::string& section) {
    const std::string text = ini_.GetString(section, "Platform", "");
    if (text.empty()) return;
    const size_t line = LineOfKey(section, "Platform");
    const std::string t = Trimmed(text);
    const bool clean = !t.empty() && t.find_first_not_of("+-0123456789") == std::string::npos;
    const int value = IniToInt(text);
    if (!clean) Add(line, "Platform=" + text + " is not a plain number: it reads as " +
                              std::to_string(value));
    if ((value & 0x1F) == 0)
      Add(line, "Platform=" + text + " matches no system (only bits 0 to 4 of the low byte "
                                     "name systems)");
  }

  void CheckSize(const std::string& section) {
    const std::string text = ini_.GetString(section, "Size", "");
    if (text.empty()) return;
    std::string rest = Upper(Trimmed(text));
    size_t i = (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) ? 1 : 0;
    const size_t digits = i;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
    const std::string unit = Trimmed(rest.substr(i));
    if (i == digits || (unit != "" && unit != "KB" && unit != "MB" && unit != "B"))
      Add(LineOfKey(section, "Size"),
          "Size=" + text + " reads as " + std::to_string(ParseSizeText(text)) + " bytes");
  }

  void CheckDestination(const std::string& section, const std::string& name, size_t line) {
    const std::string destDir = ParseDestDir(ini_, section);
    const bool ldid = IniNameEquals(destDir, "LDID_SYS") || IniNameEquals(destDir, "LDID_WIN");
    if (name.empty()) {
      Add(line, "an empty file name: the program skips the entry");
      return;
    }
    if (!IsContainedRelativePath(name))
      Add(line, "file name " + Quote(name) +
                    " is absolute or climbs out of its folder: the program skips it");
    if (!ldid && !IsContainedRelativePath(destDir))
      Add(LineOfKey(section, "DestDir"),
          "DestDir=" + destDir +
              " is absolute or climbs out of the installation folder: the program skips the file");
    else if (!ldid && StartsWithNoCase(destDir, "LDID_"))
      Add(LineOfKey(section, "DestDir"),
          "DestDir=" + destDir + " is no known folder (LDID_SYS, LDID_WIN): it is taken as a "
                                 "subfolder of the installation folder");
    else if (destDir.find('%') != std::string::npos)
      Add(LineOfKey(section, "DestDir"),
          "DestDir=" + destDir + ": variables are not expanded, it is a subfolder named so");
  }

  void CheckAddLine(const std::string& text, size_t line) {
    const RegistryEntry e = RegistryEntry::ParseAdd(text);
    if (e.root == RegistryRoot::kNone)
      Add(line, "registry line " + Quote(text) + " names no root (HKCR, HKCU, HKLM, HKU; case "
                                                 "matters): it writes nothing");
    if (e.type == RegistryEntry::kTypeNone)
      Add(line, "registry line " + Quote(text) +
                    " has no known flag (FLG_ADDREG_TYPE_SZ, _DWORD, _BINARY): it does nothing");
    if (e.type == RegistryEntry::kTypeDword) {
      std::string rest = text;
      for (int i = 0; i < 4; ++i) TakeRegistryField(rest);
      const std::string data = Trimmed(TakeRegistryField(rest));
      if (data.empty() || data.find_first_not_of("+-0123456789") != std::string::npos)
        Add(line, "DWORD data " + Quote(data) + " reads as " + std::to_string(e.number));
    }
    if (e.type == RegistryEntry::kTypeBinary)
      Add(line, "a FLG_ADDREG_TYPE_BINARY line always writes an empty value");
  }

  void CheckDeleteLine(const std::string& text, size_t line) {
    const RegistryEntry e = RegistryEntry::ParseDelete(text);
    if (e.root == RegistryRoot::kNone)
      Add(line, "registry line " + Quote(text) + " names no root (HKCR, HKCU, HKLM, HKU; case "
                                                 "matters): it deletes nothing");
    if (e.name.empty())
      Add(line, "delete line " + Quote(text) +
                    " has no name: only the key's default value is removed, never the key");
  }

  // Numbered keys prefix1, prefix2, ...: the walk stops at the first missing or
  // empty one; report every numbered key past that point.
  int CheckNumbered(const std::string& section, const std::string& prefix, int first) {
    int end = first;
    while (!ini_.GetString(section, prefix + std::to_string(end), "").empty()) ++end;
    const IniSection* s = FindSection(section);
    if (!s) return end;
    for (const IniEntry& e : s->entries) {
      if (!StartsWithNoCase(e.key, prefix) || e.key.size() == prefix.size()) continue;
      const std::string digits = e.key.substr(prefix.size());
      if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
      const int n = IniToInt(digits);
      const bool canonical = std::to_string(n) == digits;
      if (canonical && n < end) continue;
      Add(lines_.LineOf(e.offset),
          e.key + " is never read: " +
              (canonical ? "the list ends at " + prefix + std::to_string(end) +
                               " (missing or empty)"
                         : std::string("the number is looked up without leading zeros")));
    }
    return end;
  }

  void CheckListSection(const std::string& section, const std::string& key, size_t line,
                        std::vector<IniEntry>& entries) {
    if (!ini_.GetSectionEntries(section, entries))
      Add(line, key + "=" + section + " names a section that does not exist");
  }

  void NoteCabinet(const std::string& cabinet, const std::string& sizeSection, size_t line) {
    if (!options_.cabinetSize || cabinet.empty() || !cabinets_.insert(Upper(cabinet)).second)
      return;  // sizes count once per cabinet, from its first entry
    if (!IsContainedRelativePath(cabinet)) {
      Add(line, "File=" + cabinet + " is not a name relative to the catalogue's folder");
      return;
    }
    uint64_t actual = 0;
    if (!options_.cabinetSize(cabinet, actual)) {
      Add(line, "cabinet " + Quote(cabinet) + " is not in the cabinet folder");
      return;
    }
    const std::string text = Upper(ini_.GetString(sizeSection, "Size", ""));
    const uint64_t declared = ParseSizeText(text);
    const uint64_t unit = text.find("MB") != std::string::npos   ? (1u << 20)
                          : text.find("KB") != std::string::npos ? (1u << 10)
                                                                 : 1;
    const uint64_t diff = actual > declared ? actual - declared : declared - actual;
    if (diff >= unit)
      Add(LineOfKey(sizeSection, "Size"),
          "Size of " + Quote(cabinet) + " says " + std::to_string(declared) +
              " bytes, the cabinet has " + std::to_string(actual) + " bytes");
  }

  void CheckFiles(const std::string& component, const std::string& list, size_t listLine,
                  bool& dropped) {
    std::vector<IniEntry> entries;
    CheckListSection(list, "SourceDisksFiles", listLine, entries);
    for (const IniEntry& entry : entries) {
      const size_t line = lines_.LineOf(entry.offset);
      const std::string& s = entry.value;
      listSections_.insert(Upper(list));
      const bool exists = FindSection(s) != nullptr;
      const std::string file = ini_.GetString(s, "File", "");
      const std::string version = ini_.GetString(s, "FileVersion", "");
      if (!dropped && (file.empty() || version.empty())) {
        dropped = true;
        Add(line, "component " + Quote(component) + " is dropped: the file section " + Quote(s) +
                      (exists ? (file.empty() ? " has no \"File\"" : " has no \"FileVersion\"")
                              : " does not exist") +
                      "; the files after it are not read");
      }
      if (!exists) continue;
      VersionQuad v;
      if (!version.empty() && ParseVersionQuad(version, v) < 4)
        Add(LineOfKey(s, "FileVersion"),
            "FileVersion=" + version + " is not four numbers a,b,c,d: it reads as " +
                v.CatalogText());
      const std::string clsid = ini_.GetString(s, "CLSID", "");
      ClassId id;
      if (!clsid.empty() && !ParseClassIdText(clsid, id))
        Add(LineOfKey(s, "CLSID"), "CLSID=" + clsid +
                                       " is not of the form {XXXXXXXX-XXXX-XXXX-XXXX-"
                                       "XXXXXXXXXXXX}");
      CheckBool(s, "OLESelfRegistered");
      CheckPlatform(s);
      CheckSize(s);
      CheckDestination(s, s, line);
      NoteCabinet(file, s, LineOfKey(s, "File"));
    }
  }

  void CheckComponent(const IniEntry& entry) {
    const std::string& name = entry.key;
    const size_t line = lines_.LineOf(entry.offset);
    int32_t id;
    VersionQuad version;
    const bool withId = entry.value.find(';') != std::string::npos;
    if (ParseComponentsEntry(entry.value, id, version) < (withId ? 5 : 4))
      Add(line, "component " + Quote(name) + ": " + Quote(entry.value) +
                    " is not 'a,b,c,d' or 'n;a,b,c,d'; the missing numbers read as 0");
    const IniSection* section = FindSection(name);
    if (!section) {
      Add(line, "component " + Quote(name) +
                    " has no section of its own: it gets every default and no files");
      return;
    }
    for (const char* key : {"Initially Selected", "ForceInstall", "RequiresPMClosed"})
      CheckBool(name, key);
    CheckPlatform(name);

    bool dropped = false;
    const std::string files = ini_.GetValue(name, "SourceDisksFiles");
    if (!files.empty()) CheckFiles(name, files, LineOfKey(name, "SourceDisksFiles"), dropped);

    const std::string deletes = ini_.GetValue(name, "DeleteFiles");
    if (!deletes.empty()) {
      std::vector<IniEntry> entries;
      CheckListSection(deletes, "DeleteFiles", LineOfKey(name, "DeleteFiles"), entries);
      listSections_.insert(Upper(deletes));
      for (const IniEntry& e : entries) {
        if (!FindSection(e.value))
          Add(lines_.LineOf(e.offset), "the section " + Quote(e.value) +
                                           " is missing: the file is deleted from the "
                                           "installation folder itself");
        CheckDestination(e.value, e.value, lines_.LineOf(e.offset));
      }
    }
    for (const char* key : {"Add Registry", "Delete Registry"}) {
      const std::string list = ini_.GetValue(name, key);
      if (list.empty()) continue;
      std::vector<IniEntry> entries;
      CheckListSection(list, key, LineOfKey(name, key), entries);
      listSections_.insert(Upper(list));
      for (const IniEntry& e : entries) {
        if (key[0] == 'A')
          CheckAddLine(e.value, lines_.LineOf(e.offset));
        else
          CheckDeleteLine(e.value, lines_.LineOf(e.offset));
      }
    }

    const int hooks = CheckNumbered(name, "Hook", 1);
    for (int n = 1; n < hooks; ++n) {
      const std::string key = "Hook" + std::to_string(n);
      const std::string hook = ini_.GetString(name, key, "");
      const size_t hookLine = LineOfKey(name, key);
      if (ini_.GetString(hook, "File", "").empty()) {
        Add(hookLine, "hook " + Quote(hook) +
                          (FindSection(hook) ? " has no \"File\"" : " has no section") +
                          ": the hook list ends here, it and the hooks after it never run");
        break;
      }
      CheckBool(hook, "DeleteAfterExec");
      CheckBool(hook, "OLESelfRegistered");
      CheckPlatform(hook);
      CheckSize(hook);
      const std::string v = ini_.GetString(hook, "FileVersion", "");
      VersionQuad version2;
      if (!v.empty() && ParseVersionQuad(v, version2) < 4)
        Add(LineOfKey(hook, "FileVersion"),
            "FileVersion=" + v + " is not four numbers a,b,c,d: it reads as " +
                version2.CatalogText());
      if (!IsContainedRelativePath(hook))
        Add(hookLine, "hook name " + Quote(hook) +
                          " is absolute or climbs out of the installation folder: it is skipped");
      NoteCabinet(ini_.GetString(hook, "File", ""), hook, LineOfKey(hook, "File"));
    }
    const int adds = CheckNumbered(name, "Add Registry", 0);
    for (int n = 0; n < adds; ++n) {
      const std::string key = "Add Registry" + std::to_string(n);
      CheckAddLine(ini_.GetString(name, key, ""), LineOfKey(name, key));
    }
    const int dels = CheckNumbered(name, "Delete Registry", 0);
    for (int n = 0; n < dels; ++n) {
      const std::string key = "Delete Registry" + std::to_string(n);
      CheckDeleteLine(ini_.GetString(name, key, ""), LineOfKey(name, key));
    }
  }

  void CheckCatalogue() {
    std::vector<IniEntry> components;
    if (!ini_.GetSectionEntries("Components", components) || components.empty()) {
      if (ini_.Sections().empty() && text_.find('\r') == std::string::npos) return;
      Add(LineOfSection("Components"),
          "no component: the section [Components] is missing or empty");
      return;
    }
    for (const IniEntry& entry : components) CheckComponent(entry);
  }

  void CheckDuplicates() {
    std::map<std::string, size_t> sections;
    for (const IniSection& s : ini_.Sections()) {
      const size_t line = lines_.LineOf(s.offset);
      auto first = sections.emplace(Upper(s.name), line);
      if (!first.second)
        Add(line, "section [" + s.name + "] appears again (first on line " +
                      std::to_string(first.first->second) +
                      "): only keys missing from the first are found here, and lists read "
                      "only the first");
      const bool isList = listSections_.count(Upper(s.name)) != 0;
      std::map<std::string, size_t> keys;
      for (const IniEntry& e : s.entries) {
        const size_t entryLine = lines_.LineOf(e.offset);
        if (Trimmed(e.key) != e.key)
          Add(entryLine, "key " + Quote(e.key) + " has blanks around it: a lookup of " +
                             Quote(Trimmed(e.key)) + " does not find it");
        if (!e.value.empty() && (e.value[0] == ' ' || e.value[0] == '\t') && !isList)
          Add(entryLine, "value of " + Quote(e.key) + " begins with a blank, which stays part "
                                                       "of the value");
        if (isList) continue;  // list keys are not looked up
        auto k = keys.emplace(Upper(e.key), entryLine);
        if (!k.second)
          Add(entryLine, "key " + Quote(e.key) + " appears again in [" + s.name +
                             "] (first on line " + std::to_string(k.first->second) +
                             "): lookups find the first" +
                             (IniNameEquals(s.name, "Components")
                                  ? ", and the component is parsed twice"
                                  : ""));
      }
    }
  }

  const CatcheckOptions& options_;
  std::string text_;
  LineMap lines_;
  IniFile ini_;
  std::vector<CatcheckFinding> findings_;
  std::set<std::string> listSections_;
  std::set<std::string> cabinets_;
};

}  // namespace

std::vector<CatcheckFinding> CheckCatalog(const std::string& bytes,
                                          const CatcheckOptions& options) {
  Checker checker(bytes, options);
  return checker.Findings();
}
