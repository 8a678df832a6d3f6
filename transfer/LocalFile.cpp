#include "transfer/LocalFile.h"

#include "core/Log.h"
#include "transfer/TransferError.h"

LocalFile::LocalFile(std::string path, HANDLE file) : TransferFile(std::move(path)), file_(file) {}

LocalFile::~LocalFile() { CloseIfOpen(); }

bool LocalFile::Seek(LONG distance, DWORD method) {
  if (!file_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return false;
  }
  ::SetLastError(NO_ERROR);
  // INVALID_SET_FILE_POINTER is also a valid low part of a large position:
  // only the last error tells a failure.
  if (::SetFilePointer(file_.get(), distance, nullptr, method) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR) {
    LogFormat("SetFilePointer failed to seek on the file %s. Error 0x0%x. File %s, Line %d.",
              Name().c_str(), static_cast<unsigned>(TakeSystemError()), kTransferSource,
              __LINE__);
    return false;
  }
  return true;
}

bool LocalFile::Read(void* buffer, DWORD size, DWORD* count) {
  *count = 0;
  if (!file_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!::ReadFile(file_.get(), buffer, size, count, nullptr)) {
    *count = 0;
    LogFormat("ReadFile failed to read from the file %s. Error 0x0%x. File %s, Line %d.",
              Name().c_str(), static_cast<unsigned>(TakeSystemError()), kTransferSource,
              __LINE__);
    return false;
  }
  return true;
}

bool LocalFile::Write(const void* buffer, DWORD size, DWORD* count) {
  *count = 0;
  if (!file_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return false;
  }
  const BOOL ok = ::WriteFile(file_.get(), buffer, size, count, nullptr);
  if (!ok || *count != size) {
    if (ok) ::SetLastError(ERROR_WRITE_FAULT);
    LogFormat("WriteFile failed to write to the file %s. Error 0x0%x. File %s, Line %d.",
              Name().c_str(), static_cast<unsigned>(TakeSystemError()), kTransferSource,
              __LINE__);
    return false;
  }
  return true;
}

void LocalFile::CloseIfOpen() {
  if (file_) Close();
}

bool LocalFile::Close() {
  if (!file_) return true;
  // Closed here rather than by the owner, so that a failed close is logged.
  if (::CloseHandle(file_.release())) return true;
  LogFormat("CloseHandle failed. Error 0x0%x. File %s, Line %d.",
            static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
  return false;
}

DWORD LocalFile::Available() {
  if (!file_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return 0;
  }
  ::SetLastError(NO_ERROR);
  const DWORD size = ::GetFileSize(file_.get(), nullptr);
  if (size == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
    LogFormat("GetFileSize failed on the file. Error 0x0%x. File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return 0;
  }
  return size;
}
