// The blocking WinInet calls of one request (the send, the wait for data, the
// reads) run on a thread of their own while the transferring thread waits for
// them, for the user's Cancel or for a limit, whichever comes first.
//
// Windows ends a blocked call when another thread closes its handle; Wine's
// WinInet does not (measured: a blocked receive stays until its own time-out
// or the server), so a call that is cancelled or overdue is left behind
// instead. Such a call owns everything it touches (shared state, never the
// caller's buffers, and the handle it was given: the caller lets go of it,
// and it is closed when the call returns, never while the call may still use
// it); its thread ends once it returns, and keeps WinInet loaded until then.
// A call left behind before its thread took it up is not made at all. The
// process end takes along a call still blocked. A call and its end are told
// by a word each side waits on where the system has such waits (Windows 8
// on, and Wine, where an event costs a round trip to its server per set and
// wait), by events elsewhere and for the long waits.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "frame/Handle.h"

class CancelFlag;

class CallThread {
 public:
  enum class Outcome {
    kReturned,   // the call ran to its end
    kCancelled,  // the flag was set first: the call is left behind (or never ran)
    kOverdue,    // the limit passed first: the call is left behind
  };

  CallThread();
  // An idle thread is ended and waited for (at most kJoinMs); a thread left
  // in a call is told to end when the call returns, and not waited for.
  ~CallThread();
  CallThread(const CallThread&) = delete;
  CallThread& operator=(const CallThread&) = delete;

  // Runs `call` on the thread and waits, at most limitMs. `cancel` may be
  // null. Once a call has been left behind the object runs no more calls.
  // Without a thread (it could not be made) the call runs here. The call is
  // destroyed on the thread, after it returned or was skipped, before Run
  // sees kReturned.
  Outcome Run(std::function<void()> call, const CancelFlag* cancel, DWORD limitMs);

  static constexpr DWORD kJoinMs = 5000;

 private:
  struct Shared;
  bool Start();
  static DWORD WINAPI ThreadProc(void* parameter);

  std::shared_ptr<Shared> shared_;
  frame::ScopedHandle thread_;
  bool startFailed_ = false;
  bool leftBehind_ = false;
};
