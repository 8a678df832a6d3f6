#include "tools/demo/DemoReport.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/Scratch.h"

using namespace testing_support;

namespace demo {
namespace {

std::string UserLogFolder() {
  char profile[MAX_PATH] = "";
  ::GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
  return std::string(profile) + "\\Documents\\Pellory\\Logs\\";
}

std::string FileVersionText(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (!size) return "";
  std::vector<char> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
      !::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
    return "";
  char text[64];
  std::snprintf(text, sizeof(text), "  version %u.%u.%u.%u",
                static_cast<unsigned>(HIWORD(info->dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(info->dwFileVersionMS)),
                static_cast<unsigned>(HIWORD(info->dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(info->dwFileVersionLS)));
  return text;
}

}  // namespace

void ListFiles(const std::string& dir, const std::string& shown) {
  WIN32_FIND_DATAA found{};
  frame::ScopedFind find(::FindFirstFileA((dir + "*").c_str(), &found));
  if (!find) return;
  std::vector<WIN32_FIND_DATAA> entries;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") entries.push_back(found);
  } while (::FindNextFileA(find.get(), &found));
  for (const WIN32_FIND_DATAA& entry : entries) {
    const std::string name = entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(dir + name + "\\", shown + name + "\\");
    } else {
      std::printf("  %-32s %9lu bytes%s\n", (shown + name).c_str(),
                  static_cast<unsigned long>(entry.nFileSizeLow),
                  FileVersionText(dir + name).c_str());
    }
  }
}

// Every value of a key, as "name = data".
void PrintKey(HKEY root, const std::string& rootName, const std::string& path) {
  std::printf("%s\\%s:\n", rootName.c_str(), path.c_str());
  frame::RegKey key;
  // Where the program wrote it: the 32-bit view for the shipped program.
  if (key.Open(root, path, KEY_READ | ProgramRegistryView()) != ERROR_SUCCESS) {
    std::printf("  (no such key)\n");
    return;
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof(name);
    BYTE data[1024];
    DWORD dataLength = sizeof(data) - 1;
    DWORD type = 0;
    if (::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data, &dataLength) !=
        ERROR_SUCCESS)
      break;
    if (type == REG_DWORD && dataLength == 4) {
      DWORD number = 0;
      std::memcpy(&number, data, 4);
      std::printf("  %-16s %lu (REG_DWORD)\n", name, static_cast<unsigned long>(number));
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      data[dataLength] = 0;
      std::printf("  %-16s %s\n", name, reinterpret_cast<char*>(data));
    } else {
      std::printf("  %-16s (type %lu, %lu bytes)\n", name, static_cast<unsigned long>(type),
                  static_cast<unsigned long>(dataLength));
    }
  }
}

const char* Meaning(int code) {
  switch (code) {
    case 0: return "normal end";
    case 36: return "files or a hook wait for the next start of Windows";
    case -1: return "failure or cancel";
    default: return "unexpected";
  }
}

void PrintLogTail(const std::string& logPath, size_t lines) {
  std::string log;
  if (!ReadFileBytes(logPath, log)) {
    std::printf("\n(no log at %s)\n", logPath.c_str());
    return;
  }
  size_t at = log.size();
  for (size_t seen = 0; at > 0 && seen <= lines;) {
    --at;
    if (log[at] == '\n') ++seen;
  }
  std::string tail = log.substr(at == 0 ? 0 : at + 1);
  for (char& c : tail)
    if (c == '\0') c = '?';  // a stray zero must not cut the print
  std::printf("\n%s, last %zu lines:\n", logPath.c_str(), lines);
  std::fwrite(tail.data(), 1, tail.size(), stdout);
  std::printf("\n");
}

// An update writes its log to Documents\Pellory\Logs.
void PrintLogTail(size_t lines) { PrintLogTail(UserLogFolder() + "Update.log", lines); }

void PrintRunSummary() {
  const std::string path = UserLogFolder() + "Update.json";
  std::string summary;
  if (!ReadFileBytes(path, summary)) {
    std::printf("\n(no run summary at %s)\n", path.c_str());
    return;
  }
  std::printf("\nThe run summary, %s:\n", path.c_str());
  std::fwrite(summary.data(), 1, summary.size(), stdout);
}

}  // namespace demo
