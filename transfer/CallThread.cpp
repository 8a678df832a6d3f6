#include "transfer/CallThread.h"

#include <utility>

#include "core/Log.h"
#include "transfer/CancelFlag.h"
#include "transfer/TransferError.h"
#include "transfer/WinInetApi.h"

namespace {

// A cancel flag whose event could not be made is looked at this often.
constexpr DWORD kCancelPollMs = 100;

// Who has the current call: the thread takes it up (pending -> running), or
// the owner gives up on it first (pending -> abandoned) and it is not made.
constexpr LONG kIdle = 0;
constexpr LONG kPending = 1;
constexpr LONG kRunning = 2;
constexpr LONG kAbandoned = 3;

}  // namespace

struct CallThread::Shared {
  frame::ScopedHandle wake{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  frame::ScopedHandle done{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  std::function<void()> call;
  volatile LONG quit = 0;
  volatile LONG state = kIdle;
  HMODULE pinned = nullptr;  // WinInet, held for as long as the thread may call it
};

CallThread::CallThread() = default;

CallThread::~CallThread() {
  if (!thread_) return;
  ::InterlockedExchange(&shared_->quit, 1);
  ::SetEvent(shared_->wake.get());
  if (!leftBehind_) ::WaitForSingleObject(thread_.get(), kJoinMs);
}

bool CallThread::Start() {
  if (thread_) return true;
  if (startFailed_) return false;
  startFailed_ = true;
  auto shared = std::make_shared<Shared>();
  if (!shared->wake || !shared->done) return false;
  if (WinInet().InternetReadFile &&
      !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(WinInet().InternetReadFile),
                            &shared->pinned))
    shared->pinned = nullptr;
  auto* handover = new std::shared_ptr<Shared>(shared);
  DWORD id = 0;
  thread_.reset(::CreateThread(nullptr, 0, &CallThread::ThreadProc, handover, 0, &id));
  if (!thread_) {
    LogFormat("Failed to create thread. Error 0x0%x.", static_cast<unsigned>(::GetLastError()));
    if (shared->pinned) ::FreeLibrary(shared->pinned);
    delete handover;
    return false;
  }
  shared_ = std::move(shared);
  startFailed_ = false;
  return true;
}

DWORD WINAPI CallThread::ThreadProc(void* parameter) {
  HMODULE pinned = nullptr;
  {
    std::shared_ptr<Shared> shared = std::move(*static_cast<std::shared_ptr<Shared>*>(parameter));
    delete static_cast<std::shared_ptr<Shared>*>(parameter);
    pinned = shared->pinned;
    for (;;) {
      // Idle until the owner has a call or leaves. Not a wait of a transfer:
      // the owner's destructor always wakes it, and the process end takes it.
      ::WaitForSingleObject(shared->wake.get(), INFINITE);
      if (::InterlockedCompareExchange(&shared->quit, 0, 0)) break;
      const bool taken =
          ::InterlockedCompareExchange(&shared->state, kRunning, kPending) == kPending;
      try {
        if (taken && shared->call) shared->call();
      } catch (...) {
        LogFormat("Unhandled exception in file %s, line %d\n", kTransferSource, __LINE__);
      }
      // What the call held (a handle left to it) goes here, on this thread.
      shared->call = nullptr;
      ::InterlockedExchange(&shared->state, kIdle);
      ::SetEvent(shared->done.get());
    }
  }
  if (pinned) ::FreeLibraryAndExitThread(pinned, 0);
  return 0;
}

CallThread::Outcome CallThread::Run(std::function<void()> call, const CancelFlag* cancel,
                                    DWORD limitMs) {
  if (leftBehind_ || (cancel && cancel->IsSet())) return Outcome::kCancelled;
  if (!Start()) {
    call();
    return Outcome::kReturned;
  }
  shared_->call = std::move(call);
  ::InterlockedExchange(&shared_->state, kPending);
  ::SetEvent(shared_->wake.get());
  // A call given up before the thread took it up is never made.
  auto leave = [this](Outcome outcome) {
    leftBehind_ = true;
    ::InterlockedCompareExchange(&shared_->state, kAbandoned, kPending);
    return outcome;
  };

  HANDLE waits[2] = {shared_->done.get(), cancel ? cancel->Event() : nullptr};
  const DWORD count = waits[1] ? 2 : 1;
  const bool poll = cancel && !waits[1];
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD spent = ::GetTickCount() - start;
    DWORD slice = spent >= limitMs ? 0 : limitMs - spent;
    if (poll && slice > kCancelPollMs) slice = kCancelPollMs;
    const DWORD wait = ::WaitForMultipleObjects(count, waits, FALSE, slice);
    if (wait == WAIT_OBJECT_0) return Outcome::kReturned;
    if (wait == WAIT_OBJECT_0 + 1 || (cancel && cancel->IsSet())) return leave(Outcome::kCancelled);
    if (wait == WAIT_TIMEOUT && ::GetTickCount() - start >= limitMs)
      return leave(Outcome::kOverdue);
    if (wait == WAIT_FAILED) {
      // The cancel's event is unusable: only the call's own end is waited
      // for, for what is left of the limit.
      const DWORD used = ::GetTickCount() - start;
      if (::WaitForSingleObject(shared_->done.get(), used >= limitMs ? 0 : limitMs - used) ==
          WAIT_OBJECT_0)
        return Outcome::kReturned;
      return leave(Outcome::kOverdue);
    }
  }
}
