#include "install/RunJournal.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "catalog/RegistryEntry.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "install/RestartWork.h"
#include "install/SideCopy.h"

namespace {

// One value per entry, named by its number; "Committed" once the run ended well.
const char kJournalKey[] = "Software\\Pellory\\Upgrade\\Run Journal";
const char kCommittedValue[] = "Committed";
// Bounds on what one run records: a registry tree larger than this is not
// kept (its delete is named as not restorable), and a journal never grows
// past the second.
constexpr unsigned kMostTreeEntries = 10000;
constexpr unsigned kMostEntries = 200000;
constexpr DWORD kLargestValue = 1024 * 1024;

std::vector<std::string> Fields(const std::string& entry) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = entry.find('\t', start);
    fields.push_back(entry.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string Hex(const std::vector<BYTE>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const BYTE byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

bool FromHex(const std::string& text, std::vector<BYTE>& bytes) {
  if (text.size() % 2) return false;
  bytes.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) return false;
    bytes.push_back(static_cast<BYTE>(value));
  }
  return true;
}

struct Root {
  const char* name;
  HKEY key;
};
const Root kRoots[] = {{"HKLM", HKEY_LOCAL_MACHINE},
                       {"HKCU", HKEY_CURRENT_USER},
                       {"HKCR", HKEY_CLASSES_ROOT},
                       {"HKU", HKEY_USERS}};

const char* RootName(HKEY key) {
  for (const Root& root : kRoots)
    if (root.key == key) return root.name;
  return "";
}

HKEY RootKey(const std::string& name) {
  for (const Root& root : kRoots)
    if (name == root.name) return root.key;
  return nullptr;
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The entries in the order they were written.
std::vector<std::string> ReadEntries(const frame::RegKey& key, bool& committed) {
  std::vector<std::pair<unsigned long, std::string>> numbered;
  committed = false;
  for (DWORD index = 0;; ++index) {
    char name[64] = "";
    DWORD nameLength = sizeof(name);
    DWORD type = 0;
    if (::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    if (::lstrcmpiA(name, kCommittedValue) == 0) {
      committed = true;
      continue;
    }
    std::string value;
    char* end = nullptr;
    const unsigned long number = std::strtoul(name, &end, 10);
    if (type != REG_SZ || *end || key.QueryString(name, value, kLargestValue) != ERROR_SUCCESS)
      continue;
    numbered.push_back({number, value});
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> entries;
  for (auto& entry : numbered) entries.push_back(std::move(entry.second));
  return entries;
}

// A key with neither values nor subkeys.
bool KeyIsEmpty(HKEY root, const std::string& subkey) {
  frame::RegKey key;
  if (key.Open(root, subkey, KEY_READ) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  return ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

// The side copies a run makes on the way ("~up?????.tmp") that a killed run
// left in a folder it wrote to.
void CleanSideCopies(const std::string& folder) {
  WIN32_FIND_DATAA found = {};
  frame::ScopedFind find(::FindFirstFileA((folder + "~up?????.tmp").c_str(), &found));
  if (!find) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string path = folder + found.cFileName;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileA(path.c_str()))
      LogFormat("The side copy '%s' of an earlier run is deleted.", path.c_str());
  } while (::FindNextFileA(find.get(), &found));
}

// A kept file back in its place.
bool PutBack(const std::string& kept, const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (IsNT()) return ::MoveFileExA(kept.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (Exists(path) && !::DeleteFileA(path.c_str())) return false;
  return ::MoveFileA(kept.c_str(), path.c_str()) != 0;
}

// Undoes one entry; "" when done, else what was not put back.
std::string Undo(const std::vector<std::string>& f) {
  const std::string& kind = f[0];
  if (kind == "K" && f.size() == 3) {
    if (!Exists(f[2])) return std::string();  // the run stopped before it moved the file
    if (PutBack(f[2], f[1])) {
      LogFormat("The file '%s' is put back.", f[1].c_str());
      return std::string();
    }
    LogFormat("The file '%s' cannot be put back: it is kept as '%s'. Error 0x0%x.", f[1].c_str(),
              f[2].c_str(), static_cast<unsigned>(LastErrorCode()));
    return f[1];
  }
  if (kind == "A" && f.size() == 2) {
    if (!Exists(f[1])) return std::string();
    ::SetFileAttributesA(f[1].c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileA(f[1].c_str())) {
      LogFormat("The file '%s' this run added is deleted.", f[1].c_str());
      return std::string();
    }
    const DWORD error = LastErrorCode();
    // In use (a program's image the system still holds): it goes at the
    // next start of Windows instead.
    if (DeleteFileDelayReboot(f[1]) == 0)
      LogFormat("The file '%s' this run added is in use (error 0x0%x); it is deleted at the "
                "next start of Windows.",
                f[1].c_str(), static_cast<unsigned>(error));
    else
      LogFormat("The file '%s' this run added cannot be deleted. Error 0x0%x.", f[1].c_str(),
                static_cast<unsigned>(error));
    return f[1];
  }
  if (kind == "P" && f.size() == 3) {
    if (WithdrawPendingRename(f[1], f[2])) return std::string();
    return f[2].empty() ? f[1] : f[2].substr(f[2].find_first_not_of('!'));
  }
  if (kind == "W" && f.size() == 2) return WithdrawWininitLine(f[1]) ? std::string() : f[1];
  if (kind == "O" && f.size() == 2) {
    frame::RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kRunOnceKey, KEY_SET_VALUE) == ERROR_SUCCESS)
      key.DeleteValue(f[1]);
    return std::string();
  }
  const HKEY root = f.size() >= 3 ? RootKey(f[1]) : nullptr;
  const std::string where = f.size() >= 3 ? f[1] + "\\" + f[2] : std::string();
  if (kind == "N" && f.size() == 3 && root) {
    if (KeyIsEmpty(root, f[2])) ::RegDeleteKeyA(root, f[2].c_str());
    return std::string();
  }
  if (kind == "Y" && f.size() == 3 && root) {
    frame::RegKey key;
    return key.Create(root, f[2], KEY_WRITE) == ERROR_SUCCESS ? std::string() : where;
  }
  if (kind == "R" && f.size() == 7 && root) {
    frame::RegKey key;
    if (f[4] == "0") {
      if (key.Open(root, f[2], KEY_SET_VALUE) == ERROR_SUCCESS) {
        const LONG rc = ::RegDeleteValueA(key.get(), f[3].c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return where + "\\" + f[3];
      }
      return std::string();
    }
    std::vector<BYTE> data;
    if (!FromHex(f[6], data) || key.Create(root, f[2], KEY_WRITE) != ERROR_SUCCESS ||
        ::RegSetValueExA(key.get(), f[3].c_str(), 0, std::strtoul(f[5].c_str(), nullptr, 10),
                         data.data(), static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
      return where + "\\" + f[3];
    return std::string();
  }
  if (kind == "X" && f.size() == 2) return f[1];  // recorded as not restorable
  return std::string();
}

// The kept copies go and the journal with them: the end of a run that ended well.
void Discard(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    const std::vector<std::string> f = Fields(entry);
    if (f[0] == "K" && f.size() == 3 && Exists(f[2])) {
      ::SetFileAttributesA(f[2].c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!::DeleteFileA(f[2].c_str()) && DeleteFileDelayReboot(f[2]) == 0)
        LogFormat("The old copy '%s' is in use; it goes at the next start of Windows.",
                  f[2].c_str());
    } else if (f[0] == "F" && f.size() == 2) {
      CleanSideCopies(f[1]);
    }
  }
}

std::vector<std::string> RestoreEntries(const std::vector<std::string>& entries) {
  std::vector<std::string> missed;
  std::set<std::string> folders;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const std::vector<std::string> f = Fields(*entry);
    const std::string what = Undo(f);
    if (!what.empty() && std::find(missed.begin(), missed.end(), what) == missed.end())
      missed.push_back(what);
    if (f[0] == "F" && f.size() == 2) folders.insert(f[1]);
  }
  // Once every kept copy is back: what is left under a side name is debris.
  for (const std::string& folder : folders) CleanSideCopies(folder);
  return missed;
}

void DeleteJournal() {
  frame::RegKey parent;
  if (parent.Open(HKEY_LOCAL_MACHINE, "Software\\Pellory\\Upgrade", KEY_ALL_ACCESS) ==
      ERROR_SUCCESS)
    parent.DeleteSubKeyTree("Run Journal");
}

}  // namespace

bool RunJournal::Begin() {
  // An earlier run's journal is never thrown away unfinished.
  FinishEarlierRun();
  frame::RegKey key;
  const LONG rc = key.Create(HKEY_LOCAL_MACHINE, kJournalKey, KEY_WRITE);
  if (rc != ERROR_SUCCESS) {
    LogFormat("The journal of this run cannot be kept in 'HKLM\\%s'. Error 0x0%x. A failure "
              "cannot put the installation back.",
              kJournalKey, static_cast<unsigned>(rc));
    return false;
  }
  active_ = true;
  count_ = 0;
  return true;
}

void RunJournal::Add(const std::string& entry) {
  if (!active_) return;
  frame::RegKey key;
  LONG rc = count_ >= kMostEntries ? ERROR_FILE_TOO_LARGE
                                   : key.Open(HKEY_LOCAL_MACHINE, kJournalKey, KEY_SET_VALUE);
  char name[16] = "";
  std::snprintf(name, sizeof(name), "%08u", ++count_);
  if (rc == ERROR_SUCCESS) rc = key.SetString(name, entry);
  if (rc != ERROR_SUCCESS)
    LogFormat("The journal entry '%s' cannot be written. Error 0x0%x.", entry.c_str(),
              static_cast<unsigned>(rc));
}

DWORD RunJournal::KeepFile(const std::string& path, std::string& kept) {
  kept.clear();
  const std::string folder = SplitFolder(path).first;
  for (unsigned attempt = 0; attempt < kSideNameAttempts && kept.empty(); ++attempt) {
    const std::string name = SideName(folder, attempt);
    if (!Exists(name)) kept = name;
  }
  if (kept.empty()) return ERROR_FILE_EXISTS;
  // Written first: a run killed right after the rename still finds it.
  Add("F\t" + folder);
  Add("K\t" + path + "\t" + kept);
  if (!::MoveFileA(path.c_str(), kept.c_str())) {
    const DWORD error = LastErrorCode();
    kept.clear();
    return error;
  }
  return 0;
}

void RunJournal::AddedFile(const std::string& path) {
  Add("F\t" + SplitFolder(path).first);
  Add("A\t" + path);
}

void RunJournal::PendingRename(const std::string& source, const std::string& target) {
  Add("P\t" + source + "\t" + target);
}

void RunJournal::WininitLine(const std::string& line) { Add("W\t" + line); }

void RunJournal::NotRestorable(const std::string& what) { Add("X\t" + what); }

void RunJournal::RunOnceValue(const std::string& name) {
  frame::RegKey key;
  std::string old;
  if (key.Open(HKEY_LOCAL_MACHINE, kRunOnceKey, KEY_READ) == ERROR_SUCCESS &&
      key.QueryString(name, old) == ERROR_SUCCESS)
    RegistryValue(HKEY_LOCAL_MACHINE, kRunOnceKey, name);
  else
    Add("O\t" + name);
}

void RunJournal::RegistryValue(HKEY root, const std::string& subkey, const std::string& name) {
  const std::string head = std::string(RootName(root)) + "\t" + subkey;
  frame::RegKey key;
  if (key.Open(root, subkey, KEY_READ) != ERROR_SUCCESS) {
    Add("N\t" + head);
    Add("R\t" + head + "\t" + name + "\t0\t0\t");
    return;
  }
  DWORD type = 0, size = 0;
  if (::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) !=
      ERROR_SUCCESS) {
    Add("R\t" + head + "\t" + name + "\t0\t0\t");
    return;
  }
  std::vector<BYTE> data(size);
  if (size > kLargestValue ||
      ::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, data.data(), &size) !=
          ERROR_SUCCESS) {
    Add("X\t" + std::string(RootName(root)) + "\\" + subkey + "\\" + name);
    return;
  }
  data.resize(size);
  Add("R\t" + head + "\t" + name + "\t1\t" + std::to_string(type) + "\t" + Hex(data));
}

void RunJournal::RegistryTree(HKEY root, const std::string& subkey) {
  // Every key and value below, walked breadth first, within the bound.
  std::vector<std::string> keys = {subkey};
  std::vector<std::string> entries;
  for (size_t i = 0; i < keys.size() && entries.size() <= kMostTreeEntries; ++i) {
    frame::RegKey key;
    if (key.Open(root, keys[i], KEY_READ) != ERROR_SUCCESS) {
      if (i == 0) return;  // nothing to delete
      continue;
    }
    entries.push_back("Y\t" + std::string(RootName(root)) + "\t" + keys[i]);
    char name[256] = "";
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof(name);
      if (::RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
        break;
      keys.push_back(keys[i] + "\\" + name);
    }
    for (DWORD index = 0; entries.size() <= kMostTreeEntries; ++index) {
      DWORD length = sizeof(name), type = 0, size = 0;
      if (::RegEnumValueA(key.get(), index, name, &length, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS)
        break;
      std::vector<BYTE> data(size);
      if (size > kLargestValue ||
          ::RegQueryValueExA(key.get(), name, nullptr, &type, data.data(), &size) !=
              ERROR_SUCCESS) {
        entries.push_back("X\t" + std::string(RootName(root)) + "\\" + keys[i] + "\\" + name);
        continue;
      }
      data.resize(size);
      entries.push_back("R\t" + std::string(RootName(root)) + "\t" + keys[i] + "\t" + name +
                        "\t1\t" + std::to_string(type) + "\t" + Hex(data));
    }
  }
  if (entries.size() > kMostTreeEntries) {
    Add("X\t" + std::string(RootName(root)) + "\\" + subkey);
    return;
  }
  for (const std::string& entry : entries) Add(entry);
}

void RunJournal::Commit() {
  if (!active_) return;
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kJournalKey, KEY_READ | KEY_SET_VALUE) == ERROR_SUCCESS) {
    key.SetString(kCommittedValue, "1");
    bool committed = false;
    Discard(ReadEntries(key, committed));
  }
  DeleteJournal();
  active_ = false;
}

std::vector<std::string> RunJournal::Restore() {
  if (!active_) return {};
  std::vector<std::string> missed;
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kJournalKey, KEY_READ) == ERROR_SUCCESS) {
    bool committed = false;
    missed = RestoreEntries(ReadEntries(key, committed));
  }
  key.Close();
  DeleteJournal();
  active_ = false;
  return missed;
}

bool RunJournal::EarlierRunWaits() {
  frame::RegKey key;
  return key.Open(HKEY_LOCAL_MACHINE, kJournalKey, KEY_READ) == ERROR_SUCCESS;
}

void RunJournal::FinishEarlierRun() {
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kJournalKey, KEY_READ) != ERROR_SUCCESS) return;
  bool committed = false;
  const std::vector<std::string> entries = ReadEntries(key, committed);
  key.Close();
  if (committed) {
    LogWrite("An earlier run ended well but did not finish its cleanup: its old copies go now.");
    Discard(entries);
  } else if (!entries.empty()) {
    LogWrite("An earlier run did not end: what it changed is put back now.");
    const std::vector<std::string> missed = RestoreEntries(entries);
    for (const std::string& what : missed)
      LogFormat("Not put back from the earlier run: '%s'.", what.c_str());
  }
  DeleteJournal();
}
