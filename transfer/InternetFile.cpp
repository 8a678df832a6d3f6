#include "transfer/InternetFile.h"

#include <cctype>
#include <string>

#include "core/Log.h"
#include "transfer/TransferError.h"

namespace {

// "12345" -> 12345; anything else (absent, signs, junk, overflow) -> -1.
long long ParseContentLength(const char* text) {
  if (!*text) return -1;
  unsigned long long value = 0;
  for (const char* p = text; *p; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return -1;
    if (value > (~0ull >> 1) / 10) return -1;
    value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  return static_cast<long long>(value);
}

long long QueryContentLength(HINTERNET request) {
  char text[32] = "";
  DWORD length = sizeof(text);
  if (!WinInet().HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr))
    return -1;
  text[length < sizeof(text) ? length : sizeof(text) - 1] = '\0';
  return ParseContentLength(text);
}

}  // namespace

InternetFile::InternetFile(HINTERNET request, HINTERNET connection, std::string path, DWORD mode,
                           DWORD_PTR context)
    : TransferFile(std::move(path)),
      request_(request),
      connection_(connection),
      mode_(mode),
      context_(context) {
  if (request_) contentLength_ = QueryContentLength(request_.get());
}

InternetFile::~InternetFile() { CloseIfOpen(); }

bool InternetFile::Seek(LONG distance, DWORD method) {
  if (!request_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return false;
  }
  const DWORD position =
      WinInet().InternetSetFilePointer(request_.get(), distance, nullptr, method, context_);
  if (position == INVALID_SET_FILE_POINTER) {
    LogFormat("InternetSetFilePointer failed. Error 0x0%x, File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return false;
  }
  position_ = position;
  return true;
}

bool InternetFile::Read(void* buffer, DWORD size, DWORD* count) {
  *count = 0;
  if (mode_ == 0 || !request_) {
    SetLastTransferError(request_ ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD got = 0;
  if (!WinInet().InternetReadFile(request_.get(), buffer, size, &got)) {
    LogFormat("InternetReadFile failed. Error 0x0%x. File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return false;
  }
  position_ += got;
  // WinInet reports a connection closed before the announced length as an
  // ordinary end (0 bytes, success): that end is checked here.
  if (got == 0 && size > 0 && contentLength_ >= 0 &&
      position_ != static_cast<unsigned long long>(contentLength_)) {
    SetLastTransferError(ERROR_INTERNET_CONNECTION_ABORTED);
    LogFormat("InternetReadFile ended after %s of %s bytes. Error 0x0%x. File %s, Line %d.",
              std::to_string(position_).c_str(), std::to_string(contentLength_).c_str(),
              static_cast<unsigned>(ERROR_INTERNET_CONNECTION_ABORTED), kTransferSource,
              __LINE__);
    return false;
  }
  *count = got;
  return true;
}

bool InternetFile::Write(const void* buffer, DWORD size, DWORD* count) {
  *count = 0;
  if (mode_ == kReadOnly || !request_) {
    SetLastTransferError(request_ ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD written = 0;
  if (!WinInet().InternetWriteFile(request_.get(), buffer, size, &written)) {
    LogFormat("InternetWriteFile failed. Error 0x0%x. File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return false;
  }
  *count = written;
  if (written != size) {
    SetLastTransferError(ERROR_WRITE_FAULT);
    return false;
  }
  return true;
}

void InternetFile::CloseIfOpen() {
  if (request_) Close();
}

bool InternetFile::Close() {
  if (!request_) return true;
  return CloseInternetHandle(request_, __LINE__) == 0;
}

DWORD InternetFile::Available() {
  if (!request_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return 0;
  }
  DWORD available = 0;
  if (!WinInet().InternetQueryDataAvailable(request_.get(), &available, 0, context_)) {
    LogFormat("InternetQueryDataAvailable failed. Error 0x0%x. File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return 0;
  }
  return available;
}
