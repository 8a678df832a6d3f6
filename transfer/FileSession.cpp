#include "transfer/FileSession.h"

#include "core/Log.h"
#include "core/Switches.h"
#include "frame/Handle.h"
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

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  frame::ScopedFile file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  return file && ::GetFileInformationByHandle(file.get(), &info);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION infoA = {}, infoB = {};
  if (FileIdentity(a, infoA) && FileIdentity(b, infoB))
    return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
           infoA.nFileIndexLow == infoB.nFileIndexLow;
  char fullA[MAX_PATH] = "", fullB[MAX_PATH] = "";
  const DWORD lengthA = ::GetFullPathNameA(a.c_str(), MAX_PATH, fullA, nullptr);
  const DWORD lengthB = ::GetFullPathNameA(b.c_str(), MAX_PATH, fullB, nullptr);
  return lengthA > 0 && lengthA < MAX_PATH && lengthB > 0 && lengthB < MAX_PATH &&
         ::lstrcmpiA(fullA, fullB) == 0;
}

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
                                                    const CancelFlag* /*cancel*/,
                                                    const ResumePoint* /*resume*/) {
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
  // Fetching a file onto itself, however the two are spelled (short names, a
  // substituted drive, a share of this machine): it is already there, and
  // deleting the target first would destroy it.
  if (SameFile(source, localPath)) return 0;
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
