// The completions of one request on an asynchronous WinInet session
// (INTERNET_FLAG_ASYNC). A call that cannot finish at once fails with
// ERROR_IO_PENDING and later reports INTERNET_STATUS_REQUEST_COMPLETE to the
// session's status callback; the caller waits for that report, for the
// user's Cancel or for a limit, whichever comes first, and nothing else ever
// blocks: no thread is needed to give up on a call.
//
// WinInet may still write after its caller gave up (the pending call's
// count, its INTERNET_BUFFERS, a read's bytes), and may report to the
// callback until the request's handle is gone. So everything a pending call
// may touch lives here, and the object stays registered (the callback finds
// it by the request's context value, never by a pointer) until WinInet says
// INTERNET_STATUS_HANDLE_CLOSING for the request.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <vector>

#include "frame/Handle.h"

class CancelFlag;

class AsyncRequest {
 public:
  enum class Outcome {
    kCompleted,  // the call's completion came
    kCancelled,  // the flag was set first
    kOverdue,    // the limit passed first
  };

  // A new registered object; null when its event could not be made.
  static std::shared_ptr<AsyncRequest> Make();
  // Takes it out of the registry when no handle was ever made for it (a
  // handle's closing does that otherwise).
  static void Forget(DWORD_PTR context);
  // The session's status callback (InternetSetStatusCallback).
  static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                DWORD length);
  // Registered objects: for tests of the registry's upkeep.
  static size_t RegisteredCount();

  AsyncRequest(const AsyncRequest&) = delete;
  AsyncRequest& operator=(const AsyncRequest&) = delete;

  // The request's context value: HttpOpenRequest's and every call's.
  DWORD_PTR Context() const { return context_; }

  // Right before a call that may pend: its completion is the next one.
  void Arm();
  // After the call failed with ERROR_IO_PENDING: waits for its completion,
  // at most limitMs; `cancel` (may be null) ends the wait at once.
  Outcome Await(const CancelFlag* cancel, DWORD limitMs);
  // The completion's INTERNET_ASYNC_RESULT, read after Await said kCompleted.
  bool Succeeded() const { return result_ != 0; }
  DWORD Error() const { return error_; }

  // What a pending call may still write after its caller has left.
  std::vector<char>& Bytes() { return bytes_; }
  INTERNET_BUFFERSA& Buffers() { return buffers_; }
  DWORD& Count() { return count_; }

 private:
  AsyncRequest() = default;
  void Complete(const INTERNET_ASYNC_RESULT& result);

  DWORD_PTR context_ = 0;
  frame::ScopedHandle completed_;  // auto-reset; set by each completion
  volatile LONG completions_ = 0;
  LONG awaited_ = 0;  // the completion Await waits for
  DWORD_PTR result_ = 0;
  DWORD error_ = 0;
  std::vector<char> bytes_;
  INTERNET_BUFFERSA buffers_ = {};
  DWORD count_ = 0;
};
