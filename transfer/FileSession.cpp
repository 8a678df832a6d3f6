#include "transfer/FileSession.h"

#include "core/Log.h"
#include "core/Switches.h"
#include "transfer/CrackUrl.h"
#include "transfer/LocalFile.h"
#include "transfer/TransferError.h"
#include "transfer/UrlResolution.h"

namespace {

void ClearReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// The full form of a path, for telling two spellings of one file apart.
std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = "";
  const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

}  // namespace

bool LocalPathForUrl(const std::string& url, std::string& path) {
  std::string host, urlPath;
  if (!CrackUrl(url, host, urlPath)) return false;
  // The folder the "URL" switch names holds files given by a relative path.
  std::string baseFolder;
  const std::string catalogue = GetSwitchValue("URL");
  std::string catalogueHost, cataloguePath;
  if (!catalogue.empty() && !IsAbsoluteLocalPath(urlPath) &&
      CrackUrl(catalogue, catalogueHost, cataloguePath))
    baseFolder = FolderPart(cataloguePath);
  path = LocalPathForUrlPath(urlPath, baseFolder);
  return true;
}

bool FileSession::Open(const std::string&, DWORD, WORD, const char*, const char*) { return true; }

DWORD FileSession::Close() { return 0; }

// Local files are not waited for: the cancel flag has nothing to end.
std::unique_ptr<TransferFile> FileSession::OpenFile(HWND /*parent*/, const std::string& url,
                                                    const CancelFlag* /*cancel*/) {
  std::string path;
  if (!LocalPathForUrl(url, path)) return nullptr;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogFormat("Failed to open file '%s' for reading. Error 0x0%x.", path.c_str(),
              static_cast<unsigned>(TakeSystemError()));
    return nullptr;
  }
  return std::make_unique<LocalFile>(path, file);
}

DWORD FileSession::DownloadToFile(HWND /*parent*/, const std::string& url,
                                  const std::string& localPath, bool failIfExists,
                                  const CancelFlag* /*cancel*/) {
  std::string source;
  if (!LocalPathForUrl(url, source)) return GetLastTransferError();
  ClearReadOnly(source);
  // Fetching a file onto itself: it is already there, and deleting the target
  // first would destroy it.
  if (::lstrcmpiA(FullPath(source).c_str(), FullPath(localPath).c_str()) == 0) return 0;
  if (!failIfExists) {
    ClearReadOnly(localPath);
    ::DeleteFileA(localPath.c_str());
  }
  if (!::CopyFileA(source.c_str(), localPath.c_str(), failIfExists)) {
    const DWORD error = TakeSystemError();
    LogFormat("CopyFile failed to copy file '%s' to file '%s'. Error 0x0%x. File %s, Line %d.",
              source.c_str(), localPath.c_str(), static_cast<unsigned>(error), kTransferSource,
              __LINE__);
    return error;
  }
  ClearReadOnly(localPath);
  return 0;
}
