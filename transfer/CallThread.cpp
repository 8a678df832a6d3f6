#include "transfer/CallThread.h"

#include <utility>

#include "core/Log.h"
#include "transfer/CancelFlag.h"
#include "transfer/WinInetApi.h"

namespace {

// A cancel flag whose event could not be made is looked at this often.
constexpr DWORD kCancelPollMs = 100;

}  // namespace

struct CallThread::Shared {
  frame::ScopedHandle wake{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  frame::ScopedHandle done{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  std::function<void()> call;
  volatile LONG quit = 0;
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
      // Idle until the owner has a call or leaves; the owner always does one.
      ::WaitForSingleObject(shared->wake.get(), INFINITE);
      if (::InterlockedCompareExchange(&shared->quit, 0, 0)) break;
      try {
        if (shared->call) shared->call();
      } catch (...) {
        LogFormat("Unhandled exception in file %s, line %d\n", "Ftp", __LINE__);
      }
      shared->call = nullptr;
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
  ::SetEvent(shared_->wake.get());

  HANDLE waits[2] = {shared_->done.get(), cancel ? cancel->Event() : nullptr};
  const DWORD count = waits[1] ? 2 : 1;
  const bool poll = cancel && !waits[1];
  const DWORD start = ::GetTickCount();
  for (;;) {
    DWORD slice = limitMs;
    if (limitMs != INFINITE) {
      const DWORD spent = ::GetTickCount() - start;
      slice = spent >= limitMs ? 0 : limitMs - spent;
    }
    if (poll && slice > kCancelPollMs) slice = kCancelPollMs;
    const DWORD wait = ::WaitForMultipleObjects(count, waits, FALSE, slice);
    if (wait == WAIT_OBJECT_0) return Outcome::kReturned;
    if (wait == WAIT_OBJECT_0 + 1 || (cancel && cancel->IsSet())) {
      leftBehind_ = true;
      return Outcome::kCancelled;
    }
    if (wait == WAIT_TIMEOUT && limitMs != INFINITE && ::GetTickCount() - start >= limitMs) {
      leftBehind_ = true;
      return Outcome::kOverdue;
    }
    if (wait == WAIT_FAILED) {
      // The cancel's event is unusable: only the call's own end is waited for.
      if (::WaitForSingleObject(shared_->done.get(), limitMs) == WAIT_OBJECT_0)
        return Outcome::kReturned;
      leftBehind_ = true;
      return Outcome::kOverdue;
    }
  }
}
