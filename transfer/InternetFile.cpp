#include "transfer/InternetFile.h"

#include <cctype>
#include <cstring>
#include <string>

#include "core/Log.h"
#include "transfer/CancelFlag.h"
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

std::string QueryValidator(HINTERNET request) {
  const std::string tag = QueryHeaderText(request, HTTP_QUERY_ETAG);
  return tag.empty() ? QueryHeaderText(request, HTTP_QUERY_LAST_MODIFIED) : tag;
}

std::string QueryHeaderText(HINTERNET request, DWORD info) {
  char text[512] = "";
  DWORD length = sizeof(text);
  if (!WinInet().HttpQueryInfoA(request, info, text, &length, nullptr) || length >= sizeof(text))
    return std::string();
  return std::string(text, length);
}

InternetFile::InternetFile(SharedInternetPtr request, std::string path, DWORD mode,
                           std::shared_ptr<AsyncRequest> events, const CancelFlag* cancel,
                           unsigned long long bodyOffset)
    : TransferFile(std::move(path)),
      request_(std::move(request)),
      mode_(mode),
      events_(std::move(events)),
      bodyOffset_(bodyOffset),
      cancel_(cancel) {
  if (request_ && request_->get()) {
    contentLength_ = QueryContentLength(request_->get());
    validator_ = QueryValidator(request_->get());
  }
}

DWORD InternetFile::WaitLimitMs() { return TransferTimeoutMs() + kWaitGraceMs; }

void InternetFile::Abandon(DWORD error) {
  failure_ = error;
  // WinInet keeps what a pending call uses until it ends (and the events
  // object until the handle's closing is reported), so the handle goes now.
  ReleaseInternetHandle(request_, __LINE__);
  SetLastTransferError(failure_);
}

bool InternetFile::AwaitCompletion(const char* what, int line) {
  const DWORD start = ::GetTickCount();
  const AsyncRequest::Outcome outcome = events_->Await(cancel_, WaitLimitMs());
  if (outcome == AsyncRequest::Outcome::kCancelled) {
    LogFormat("%s cancelled. File %s, Line %d.", what, kTransferSource, line);
    Abandon(ERROR_CANCELLED);
    return false;
  }
  if (outcome == AsyncRequest::Outcome::kOverdue) {
    LogFormat("%s timed out: nothing arrived for %u seconds. Error 0x0%x. File %s, Line %d.",
              what, static_cast<unsigned>(TransferTimeoutMs() / 1000),
              static_cast<unsigned>(ERROR_INTERNET_TIMEOUT), kTransferSource, line);
    Abandon(ERROR_INTERNET_TIMEOUT);
    return false;
  }
  if (!events_->Succeeded()) {
    Failed(events_->Error(), ::GetTickCount() - start, what, line);
    return false;
  }
  return true;
}

DWORD InternetFile::Failed(DWORD error, DWORD elapsedMs, const char* what, int line) {
  if (!error) error = ERROR_GEN_FAILURE;
  if (IsTimeoutFailure(error, elapsedMs)) {
    LogFormat("%s timed out: nothing arrived for %u seconds. Error 0x0%x. File %s, Line %d.",
              what, static_cast<unsigned>(TransferTimeoutMs() / 1000),
              static_cast<unsigned>(error), kTransferSource, line);
    error = ERROR_INTERNET_TIMEOUT;
  } else {
    LogFormat("%s failed. Error 0x0%x. File %s, Line %d.", what, static_cast<unsigned>(error),
              kTransferSource, line);
  }
  // The connection is of no use after a failed receive (Wine waits again).
  failure_ = error;
  SetLastTransferError(error);
  return error;
}

InternetFile::~InternetFile() { CloseIfOpen(); }

bool InternetFile::Seek(LONG distance, DWORD method) {
  if (!request_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return false;
  }
  const DWORD position = WinInet().InternetSetFilePointer(request_->get(), distance, nullptr,
                                                          method, events_->Context());
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
  if (failure_) {
    SetLastTransferError(failure_);
    return false;
  }
  if (mode_ == 0 || !request_) {
    SetLastTransferError(request_ ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return false;
  }
  if (size == 0) return true;
  // WinInet reads into bytes of the events object: a read that pends may
  // still write when its caller has gone.
  std::vector<char>& bytes = events_->Bytes();
  if (bytes.size() < size) bytes.resize(size);
  DWORD got = 0;
  for (;;) {
    if (!Direct("InternetReadFileEx", __LINE__)) return false;
    INTERNET_BUFFERSA& buffers = events_->Buffers();
    buffers = INTERNET_BUFFERSA{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpvBuffer = bytes.data();
    buffers.dwBufferLength = size;
    events_->Arm();
    // Everything that has arrived, up to `size`, without waiting for more.
    if (WinInet().InternetReadFileExA(request_->get(), &buffers, IRF_ASYNC | IRF_NO_WAIT,
                                      events_->Context())) {
      got = buffers.dwBufferLength < size ? buffers.dwBufferLength : size;
      if (got > 0 || AtEnd()) break;
      // Nothing, before the announced end: the body ended (or the connection
      // did), or nothing has arrived yet. Asking how much is there tells,
      // waiting (bounded) for the first byte.
      const DWORD available = Available();
      if (failure_) return false;
      if (available == 0) break;
      continue;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      Failed(error, 0, "InternetReadFileEx", __LINE__);
      return false;
    }
    // Nothing had arrived: the completion comes once something has (WinInet
    // then holds it), or with the failure at its own silence limit.
    if (!AwaitCompletion("InternetReadFileEx", __LINE__)) return false;
  }
  if (got > 0) std::memcpy(buffer, bytes.data(), got);
  position_ += got;
  // WinInet reports a connection closed before the announced length as an
  // ordinary end (0 bytes, success): that end is checked here.
  if (got == 0 && contentLength_ >= 0 &&
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
  if (!WinInet().InternetWriteFile(request_->get(), buffer, size, &written)) {
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
  return ReleaseInternetHandle(request_, __LINE__) == 0;
}

DWORD InternetFile::Available() {
  if (failure_) {
    SetLastTransferError(failure_);
    return 0;
  }
  if (!request_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!Direct("InternetQueryDataAvailable", __LINE__)) return 0;
  // The count is the events object's: a question that pends may still
  // answer when its caller has gone.
  DWORD& available = events_->Count();
  available = 0;
  events_->Arm();
  if (WinInet().InternetQueryDataAvailable(request_->get(), &available, 0, events_->Context()))
    return available;
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) {
    Failed(error, 0, "InternetQueryDataAvailable", __LINE__);
    return 0;
  }
  // Waits until something has arrived: no longer than the silence limit.
  if (!AwaitCompletion("InternetQueryDataAvailable", __LINE__)) return 0;
  // The completion carries the count too.
  return available ? available : events_->Error();
}

bool InternetFile::AtEnd() const {
  return contentLength_ >= 0 && position_ >= static_cast<unsigned long long>(contentLength_);
}

bool InternetFile::Direct(const char* what, int line) {
  if (!cancel_ || !cancel_->IsSet()) return true;
  LogFormat("%s cancelled. File %s, Line %d.", what, kTransferSource, line);
  Abandon(ERROR_CANCELLED);
  return false;
}
