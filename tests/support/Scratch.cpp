#include "tests/support/Scratch.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "frame/RegKey.h"
#include "tests/support/TestProcess.h"

namespace testing_support {

ScratchDir::ScratchDir(const std::string& tag) {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  static LONG counter = 0;
  for (;;) {
    char name[MAX_PATH];
    wsprintfA(name, "%s%s-%lu-%ld\\", temp, tag.c_str(), ::GetCurrentProcessId(),
              ::InterlockedIncrement(&counter));
    if (::CreateDirectoryA(name, nullptr)) {
      path_ = name;
      break;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
}

ScratchDir::~ScratchDir() {
  if (!path_.empty()) RemoveTree(path_);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr) && written == bytes.size();
  ::CloseHandle(file);
  return ok;
}

std::string FileContent(const std::string& path) {
  std::string bytes;
  return ReadFileBytes(path, bytes) ? bytes : "<missing>";
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  ::GetFileSizeEx(file, &size);
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  const bool ok = bytes.empty() ||
                  (::ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                   read == bytes.size());
  ::CloseHandle(file);
  return ok;
}

bool FileExists(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string& path) {
  std::string folder = path;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = folder + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(child.c_str());
      }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryA(folder.c_str());
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  const HANDLE find = ::FindFirstFileA((folder + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(find, &found));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

REGSAM ProgramRegistryView() { return ShippedProgramUnderTest() ? KEY_WOW64_32KEY : 0; }

bool RegReadString(HKEY root, const std::string& key, const std::string& name,
                   std::string& value) {
  frame::RegKey k;
  if (k.Open(root, key, KEY_READ | ProgramRegistryView()) != ERROR_SUCCESS) return false;
  return k.QueryString(name, value, 4096) == ERROR_SUCCESS;
}

bool RegWriteString(HKEY root, const std::string& key, const std::string& name,
                    const std::string& value) {
  frame::RegKey k;
  if (k.Create(root, key, KEY_READ | KEY_WRITE | ProgramRegistryView()) != ERROR_SUCCESS)
    return false;
  return k.SetString(name, value) == ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, const std::string& key) {
  frame::RegKey k;
  return k.Open(root, key, KEY_READ | ProgramRegistryView()) == ERROR_SUCCESS;
}

void RegDeleteTree(HKEY root, const std::string& key) {
  const auto slash = key.find_last_of('\\');
  frame::RegKey parent;
  if (slash == std::string::npos) {
    parent.Open(root, "", KEY_READ | KEY_WRITE | ProgramRegistryView());
  } else if (parent.Open(root, key.substr(0, slash), KEY_READ | KEY_WRITE | ProgramRegistryView()) !=
             ERROR_SUCCESS) {
    return;
  }
  parent.DeleteSubKeyTree(slash == std::string::npos ? key : key.substr(slash + 1));
}

std::string WinePath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (auto& c : path)
    if (c == '/') c = '\\';
  return path;
}

namespace {

// VS_VERSIONINFO with the fixed part only: enough for VerQueryValue("\\").
std::vector<BYTE> VersionResource(WORD major, WORD minor, WORD build, WORD revision) {
  static const wchar_t kKey[] = L"VS_VERSION_INFO";
  const size_t header = 6 + sizeof(kKey);           // three WORDs and the key
  const size_t padded = (header + 3) & ~size_t(3);  // the value starts on 32 bits
  std::vector<BYTE> data(padded + sizeof(VS_FIXEDFILEINFO), 0);
  auto put16 = [&](size_t at, WORD v) { std::memcpy(&data[at], &v, 2); };
  put16(0, static_cast<WORD>(data.size()));
  put16(2, sizeof(VS_FIXEDFILEINFO));
  put16(4, 0);
  std::memcpy(&data[6], kKey, sizeof(kKey));
  VS_FIXEDFILEINFO info = {};
  info.dwSignature = 0xFEEF04BD;
  info.dwStrucVersion = 0x00010000;
  info.dwFileVersionMS = MAKELONG(minor, major);
  info.dwFileVersionLS = MAKELONG(revision, build);
  info.dwProductVersionMS = info.dwFileVersionMS;
  info.dwProductVersionLS = info.dwFileVersionLS;
  info.dwFileOS = VOS_NT_WINDOWS32;
  info.dwFileType = VFT_APP;
  std::memcpy(&data[padded], &info, sizeof(info));
  return data;
}

}  // namespace

bool CopyWithVersion(const std::string& sourceExe, const std::string& target, WORD major,
                     WORD minor, WORD build, WORD revision) {
  if (!::CopyFileA(sourceExe.c_str(), target.c_str(), FALSE)) return false;
  HANDLE update = ::BeginUpdateResourceA(target.c_str(), FALSE);
  if (!update) return false;
  std::vector<BYTE> data = VersionResource(major, minor, build, revision);
  const BOOL ok = ::UpdateResourceA(update, RT_VERSION, MAKEINTRESOURCEA(1),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data.data(),
                                    static_cast<DWORD>(data.size()));
  return ::EndUpdateResourceA(update, !ok) && ok;
}

std::string WindowsFile(const char* name) {
  char folder[MAX_PATH] = "";
  ::GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\" + name;
}

}  // namespace testing_support
