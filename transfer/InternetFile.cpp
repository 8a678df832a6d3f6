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
                           DWORD_PTR context, std::unique_ptr<CallThread> calls,
                           const CancelFlag* cancel, unsigned long long bodyOffset)
    : TransferFile(std::move(path)),
      request_(std::move(request)),
      mode_(mode),
      context_(context),
      bodyOffset_(bodyOffset),
      calls_(calls ? std::move(calls) : std::make_unique<CallThread>()),
      cancel_(cancel) {
  if (request_ && request_->get()) {
    contentLength_ = QueryContentLength(request_->get());
    validator_ = QueryValidator(request_->get());
  }
}

DWORD InternetFile::CallLimitMs() { return TransferTimeoutMs() + kCallGraceMs; }

bool InternetFile::Call(std::function<void()> call, DWORD limitMs, const char* what, int line) {
  const CallThread::Outcome outcome = calls_->Run(std::move(call), cancel_, limitMs);
  if (outcome == CallThread::Outcome::kReturned) return true;
  if (outcome == CallThread::Outcome::kCancelled) {
    failure_ = ERROR_CANCELLED;
    LogFormat("%s cancelled. File %s, Line %d.", what, kTransferSource, line);
  } else {
    failure_ = ERROR_INTERNET_TIMEOUT;
    LogFormat("%s timed out: nothing arrived for %u seconds. Error 0x0%x. File %s, Line %d.",
              what, static_cast<unsigned>(TransferTimeoutMs() / 1000),
              static_cast<unsigned>(failure_), kTransferSource, line);
  }
  // The call left behind closes the request when it returns: closed here,
  // its handle value could be reused by the next request before the call
  // has even reached WinInet.
  request_.reset();
  ready_ = 0;
  SetLastTransferError(failure_);
  return false;
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
  const DWORD position =
      WinInet().InternetSetFilePointer(request_->get(), distance, nullptr, method, context_);
  if (position == INVALID_SET_FILE_POINTER) {
    LogFormat("InternetSetFilePointer failed. Error 0x0%x, File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return false;
  }
  position_ = position;
  ready_ = 0;
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
  // Only what has arrived: first learn how much that is. At the end that is
  // 0, and a read of one byte returns the end at once.
  if (size > ready_) {
    DWORD available = 0;
    if (!QueryAvailable(&available)) return false;
    ready_ = available;
  }
  if (size > ready_) size = ready_ > 0 ? ready_ : 1;
  BOOL ok = FALSE;
  DWORD got = 0;
  DWORD error = 0;
  if (ready_ > 0 || AtEnd()) {
    // What has arrived is read here: the read waits for nothing, and handing
    // it to the call thread costs more than the read itself under Wine.
    if (!Direct("InternetReadFile", __LINE__)) return false;
    ok = WinInet().InternetReadFile(request_->get(), buffer, size, &got);
    error = ok ? 0 : ::GetLastError();
  } else {
    // The call reads into the job's buffer, never into the caller's: a call
    // left behind may still write when it returns.
    std::shared_ptr<Job> job = job_;
    if (job->bytes.size() < size) job->bytes.resize(size);
    SharedInternetPtr request = request_;
    if (!Call(
            [job, request, size] {
              job->count = 0;
              job->ok =
                  WinInet().InternetReadFile(request->get(), job->bytes.data(), size, &job->count);
              job->error = job->ok ? 0 : ::GetLastError();
            },
            CallLimitMs(), "InternetReadFile", __LINE__))
      return false;
    ok = job->ok;
    error = job->error;
    got = job->count;
    if (ok && got > 0) std::memcpy(buffer, job->bytes.data(), got < size ? got : size);
  }
  if (!ok) {
    // Only WinInet's own word makes a read's failure a time-out: a read of
    // what had arrived does not wait for the network.
    Failed(error, 0, "InternetReadFile", __LINE__);
    return false;
  }
  if (got > size) got = size;
  position_ += got;
  ready_ = got < ready_ ? ready_ - got : 0;
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
  ready_ = 0;
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
  // What an earlier answer announced and no read has taken yet is there.
  if (ready_ > 0) return ready_;
  DWORD available = 0;
  if (!QueryAvailable(&available)) return 0;
  ready_ = available;
  return available;
}

bool InternetFile::AtEnd() const {
  return contentLength_ >= 0 && position_ >= static_cast<unsigned long long>(contentLength_);
}

bool InternetFile::Direct(const char* what, int line) {
  if (!cancel_ || !cancel_->IsSet()) return true;
  failure_ = ERROR_CANCELLED;
  LogFormat("%s cancelled. File %s, Line %d.", what, kTransferSource, line);
  ready_ = 0;
  SetLastTransferError(failure_);
  return false;
}

bool InternetFile::QueryAvailable(DWORD* available) {
  *available = 0;
  if (ready_ > 0 || AtEnd()) {
    // Bytes that arrived and are not read yet, or the end of the announced
    // body: WinINet answers at once, so the question is asked here. (Under
    // Wine the answer is then what its buffer holds, never more: the next
    // 8 KiB come only with a question asked of an empty buffer, which waits
    // for them.)
    if (!Direct("InternetQueryDataAvailable", __LINE__)) return false;
    DWORD count = 0;
    if (!WinInet().InternetQueryDataAvailable(request_->get(), &count, 0, context_)) {
      Failed(::GetLastError(), 0, "InternetQueryDataAvailable", __LINE__);
      return false;
    }
    *available = count;
    return true;
  }
  // Waits until something has arrived: for no longer than the silence limit
  // (WinInet's receive time-out, and this wait's own bound after it).
  std::shared_ptr<Job> job = job_;
  SharedInternetPtr request = request_;
  const DWORD_PTR context = context_;
  const DWORD start = ::GetTickCount();
  if (!Call(
          [job, request, context] {
            job->count = 0;
            job->ok =
                WinInet().InternetQueryDataAvailable(request->get(), &job->count, 0, context);
            job->error = job->ok ? 0 : ::GetLastError();
          },
          CallLimitMs(), "InternetQueryDataAvailable", __LINE__))
    return false;
  if (!job->ok) {
    Failed(job->error, ::GetTickCount() - start, "InternetQueryDataAvailable", __LINE__);
    return false;
  }
  *available = job->count;
  return true;
}
