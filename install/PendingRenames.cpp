#include <iterator>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/Platform.h"
#include "core/TextConvert.h"
#include "frame/RegKey.h"
#include "install/RestartWork.h"

namespace {

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";
// The value holds a few lines per waiting operation; far more is not one.
constexpr DWORD kLargestPendingRenames = 16 * 1024 * 1024;

// The session manager's list of operations for the next start: pairs of a
// source ("\??\C:\path") and a target ("" deletes the source, a leading "!"
// replaces what is there). Read and written as Unicode, so that the other
// programs' entries go back exactly as they came.
class PendingRenames {
 public:
  // False when there is nothing to look at (no value, or no access).
  bool Load() {
    if (key_.Open(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_QUERY_VALUE | KEY_SET_VALUE) !=
        ERROR_SUCCESS)
      return false;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key_.get(), kPendingRenamesValue, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size > kLargestPendingRenames)
      return false;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key_.get(), kPendingRenamesValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(&text[0]), &size) != ERROR_SUCCESS)
      return false;
    text.resize(size / sizeof(wchar_t));
    // The strings, terminators apart; an empty string is a target.
    std::vector<std::wstring> strings;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find(L'\0', at);
      if (end == std::wstring::npos) end = text.size();
      strings.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    // A list ends with an extra terminator: the last empty string goes.
    while (strings.size() % 2 != 0 && !strings.empty() && strings.back().empty())
      strings.pop_back();
    if (strings.size() % 2 != 0) return false;  // not a list of pairs: left alone
    for (size_t i = 0; i < strings.size(); i += 2) pairs_.push_back({strings[i], strings[i + 1]});
    return true;
  }

  // Takes out the last pair the predicate names; whether there was one.
  template <class Predicate>
  bool RemoveLast(Predicate match) {
    for (auto pair = pairs_.rbegin(); pair != pairs_.rend(); ++pair) {
      if (match(pair->first, pair->second)) {
        pairs_.erase(std::next(pair).base());
        return true;
      }
    }
    return false;
  }

  // Takes out the pairs the predicate names; how many went.
  template <class Predicate>
  int Remove(Predicate drop) {
    int removed = 0;
    for (auto pair = pairs_.begin(); pair != pairs_.end();) {
      if (drop(pair->first, pair->second)) {
        pair = pairs_.erase(pair);
        ++removed;
      } else {
        ++pair;
      }
    }
    return removed;
  }

  // 0 or the registry's error code; the value goes once it is empty.
  LONG Save() {
    if (pairs_.empty()) {
      const LONG rc = ::RegDeleteValueW(key_.get(), kPendingRenamesValue);
      return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    }
    std::wstring text;
    for (const auto& pair : pairs_) {
      text += pair.first;
      text += L'\0';
      text += pair.second;
      text += L'\0';
    }
    text += L'\0';
    return ::RegSetValueExW(key_.get(), kPendingRenamesValue, 0, REG_MULTI_SZ,
                            reinterpret_cast<const BYTE*>(text.data()),
                            static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  }

 private:
  frame::RegKey key_;
  std::vector<std::pair<std::wstring, std::wstring>> pairs_;
};

bool SamePath(const std::wstring& entry, const std::wstring& path) {
  const std::wstring prefix = L"\\??\\";
  const std::wstring bare =
      entry.compare(0, prefix.size(), prefix) == 0 ? entry.substr(prefix.size()) : entry;
  return !path.empty() && ::lstrcmpiW(bare.c_str(), path.c_str()) == 0;
}

}  // namespace

int WithdrawPendingDeletes(const std::string& path) {
  int withdrawn = 0;
  if (IsNT()) {
    PendingRenames pending;
    if (!pending.Load()) return 0;
    // Entries name files as the system does (see NativePathForSystem).
    const std::wstring wide = AnsiToWide(NativePathForSystem(path));
    withdrawn = pending.Remove([&](const std::wstring& source, const std::wstring& target) {
      return target.empty() && SamePath(source, wide);
    });
    if (withdrawn == 0) return 0;
    if (const LONG rc = pending.Save()) {
      LogFormat("Failed to withdraw the delete of '%s' that waits for the next start of "
                "Windows. Error 0x0%x.",
                path.c_str(), static_cast<unsigned>(rc));
      return 0;
    }
  } else {
    withdrawn = WithdrawWininitDeletes(path);
  }
  if (withdrawn > 0)
    LogFormat("A delete of '%s' that waited for the next start of Windows is withdrawn: this run "
              "installs the file.",
              path.c_str());
  return withdrawn;
}

bool WithdrawPendingRename(const std::string& source, const std::string& target) {
  PendingRenames pending;
  if (!pending.Load()) return false;
  const std::wstring wideSource = AnsiToWide(source), wideTarget = AnsiToWide(target);
  const bool found =
      pending.RemoveLast([&](const std::wstring& from, const std::wstring& to) {
        if (!SamePath(from, wideSource)) return false;
        if (wideTarget.empty()) return to.empty();
        return !to.empty() && SamePath(to[0] == L'!' ? to.substr(1) : to, wideTarget);
      });
  if (!found) {
    LogFormat("The operation on '%s' that waits for the next start of Windows is not found.",
              source.c_str());
    return false;
  }
  if (const LONG rc = pending.Save()) {
    LogFormat("Failed to withdraw the operation on '%s' that waits for the next start of "
              "Windows. Error 0x0%x.",
              source.c_str(), static_cast<unsigned>(rc));
    return false;
  }
  LogFormat("The operation on '%s' that waited for the next start of Windows is withdrawn.",
            source.c_str());
  return true;
}
