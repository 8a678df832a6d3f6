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

// The first part of each wait for a call's end is made on the word the thread
// sets, which under Wine needs no round trip to its server (an event does,
// several per call: most of the cost of a read of 8 KiB). Cancel is looked at
// between its slices; after it the wait is on the events, as on systems
// without such waits (before Windows 8).
constexpr DWORD kWordWaitMs = 20;
constexpr DWORD kWordSliceMs = 5;

using WaitOnAddressFn = BOOL(WINAPI*)(volatile VOID*, PVOID, SIZE_T, DWORD);
using WakeByAddressFn = VOID(WINAPI*)(PVOID);

struct WordWaits {
  WaitOnAddressFn wait = nullptr;
  WakeByAddressFn wakeAll = nullptr;
};

const WordWaits& Words() {
  static const WordWaits words = [] {
    WordWaits found;
    if (HMODULE module = ::GetModuleHandleA("kernelbase.dll")) {
      found.wait = reinterpret_cast<WaitOnAddressFn>(
          reinterpret_cast<void*>(::GetProcAddress(module, "WaitOnAddress")));
      found.wakeAll = reinterpret_cast<WakeByAddressFn>(
          reinterpret_cast<void*>(::GetProcAddress(module, "WakeByAddressAll")));
    }
    if (!found.wait || !found.wakeAll) found = WordWaits{};
    return found;
  }();
  return words;
}

LONG Load(volatile LONG* word) { return ::InterlockedCompareExchange(word, 0, 0); }

// Counts one more change of the word and wakes whoever waits on it.
void Bump(volatile LONG* word) {
  ::InterlockedIncrement(word);
  if (Words().wakeAll) Words().wakeAll(const_cast<LONG*>(word));
}

}  // namespace

struct CallThread::Shared {
  frame::ScopedHandle wake{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  frame::ScopedHandle done{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  std::function<void()> call;
  volatile LONG quit = 0;
  volatile LONG state = kIdle;
  volatile LONG posts = 0;        // counts calls posted and the owner's leaving
  volatile LONG ends = 0;         // counts calls that returned or were skipped
  volatile LONG eventWanted = 0;  // the owner waits on `done`
  HMODULE pinned = nullptr;  // WinInet, held for as long as the thread may call it
};

CallThread::CallThread() = default;

CallThread::~CallThread() {
  if (!thread_) return;
  ::InterlockedExchange(&shared_->quit, 1);
  Bump(&shared_->posts);
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
    auto posted = [&shared] {
      const LONG state = Load(&shared->state);
      return state == kPending || state == kAbandoned || Load(&shared->quit) != 0;
    };
    for (;;) {
      // Idle until the owner has a call or leaves. Not a wait of a transfer:
      // the owner's destructor always wakes it, and the process end takes it.
      // The word's count is read before looking, so that a post after the
      // look ends the wait at once; a wake that finds nothing is harmless.
      if (Words().wait) {
        for (LONG seen = Load(&shared->posts); !posted(); seen = Load(&shared->posts))
          Words().wait(&shared->posts, &seen, sizeof(seen), INFINITE);
      } else {
        ::WaitForSingleObject(shared->wake.get(), INFINITE);
      }
      if (Load(&shared->quit)) break;
      if (!posted()) continue;
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
      Bump(&shared->ends);
      if (!Words().wait || ::InterlockedExchange(&shared->eventWanted, 0))
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
  ::InterlockedExchange(&shared_->eventWanted, 0);
  ::InterlockedExchange(&shared_->state, kPending);
  if (Words().wait)
    Bump(&shared_->posts);
  else
    ::SetEvent(shared_->wake.get());
  // A call given up before the thread took it up is never made.
  auto leave = [this](Outcome outcome) {
    leftBehind_ = true;
    ::InterlockedCompareExchange(&shared_->state, kAbandoned, kPending);
    return outcome;
  };

  // `done` may hold the signal of an earlier call seen to end on the word:
  // only the state says that this call has.
  auto returned = [this] { return Load(&shared_->state) == kIdle; };
  const DWORD start = ::GetTickCount();
  if (Words().wait) {
    const DWORD wordMs = limitMs < kWordWaitMs ? limitMs : kWordWaitMs;
    for (;;) {
      const LONG seen = Load(&shared_->ends);
      if (returned()) return Outcome::kReturned;
      if (cancel && cancel->IsSet()) return leave(Outcome::kCancelled);
      const DWORD spent = ::GetTickCount() - start;
      if (spent >= wordMs) break;
      const DWORD slice = wordMs - spent < kWordSliceMs ? wordMs - spent : kWordSliceMs;
      Words().wait(&shared_->ends, const_cast<LONG*>(&seen), sizeof(seen), slice);
    }
    // Said before the last look: the thread then either signals `done` or
    // had ended the call before that look.
    ::InterlockedExchange(&shared_->eventWanted, 1);
    if (returned()) return Outcome::kReturned;
  }

  HANDLE waits[2] = {shared_->done.get(), cancel ? cancel->Event() : nullptr};
  const DWORD count = waits[1] ? 2 : 1;
  const bool poll = cancel && !waits[1];
  for (;;) {
    const DWORD spent = ::GetTickCount() - start;
    DWORD slice = spent >= limitMs ? 0 : limitMs - spent;
    if (poll && slice > kCancelPollMs) slice = kCancelPollMs;
    const DWORD wait = ::WaitForMultipleObjects(count, waits, FALSE, slice);
    if (wait == WAIT_OBJECT_0 && returned()) return Outcome::kReturned;
    if (wait == WAIT_OBJECT_0 + 1 || (cancel && cancel->IsSet())) return leave(Outcome::kCancelled);
    if (wait == WAIT_TIMEOUT && ::GetTickCount() - start >= limitMs)
      return leave(Outcome::kOverdue);
    if (wait == WAIT_FAILED) {
      // The cancel's event is unusable: only the call's own end is waited
      // for, for what is left of the limit.
      for (;;) {
        const DWORD used = ::GetTickCount() - start;
        const DWORD done =
            ::WaitForSingleObject(shared_->done.get(), used >= limitMs ? 0 : limitMs - used);
        if (returned()) return Outcome::kReturned;
        if (done != WAIT_OBJECT_0) return leave(Outcome::kOverdue);
      }
    }
  }
}
