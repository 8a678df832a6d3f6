#include "transfer/AsyncRequest.h"

#include <map>
#include <mutex>

#include "transfer/CancelFlag.h"

namespace {

// A cancel flag whose event could not be made is looked at this often.
constexpr DWORD kCancelPollMs = 100;

struct Registry {
  std::mutex lock;
  std::map<DWORD_PTR, std::shared_ptr<AsyncRequest>> requests;
  DWORD_PTR next = 0;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // callbacks may come while the process ends
  return *registry;
}

std::shared_ptr<AsyncRequest> Find(DWORD_PTR context) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  const auto found = registry.requests.find(context);
  return found == registry.requests.end() ? nullptr : found->second;
}

}  // namespace

std::shared_ptr<AsyncRequest> AsyncRequest::Make() {
  std::shared_ptr<AsyncRequest> request(new AsyncRequest);
  request->completed_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!request->completed_) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  // Never 0: WinInet makes no callbacks for a handle whose context is 0.
  if (++registry.next == 0) ++registry.next;
  request->context_ = registry.next;
  registry.requests[request->context_] = request;
  return request;
}

void AsyncRequest::Forget(DWORD_PTR context) {
  std::shared_ptr<AsyncRequest> gone;  // let go of outside the lock
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  const auto found = registry.requests.find(context);
  if (found == registry.requests.end()) return;
  gone = std::move(found->second);
  registry.requests.erase(found);
}

size_t AsyncRequest::RegisteredCount() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  return registry.requests.size();
}

void CALLBACK AsyncRequest::OnStatus(HINTERNET /*handle*/, DWORD_PTR context, DWORD status,
                                     LPVOID info, DWORD length) {
  if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    if (!info || length < sizeof(INTERNET_ASYNC_RESULT)) return;
    if (std::shared_ptr<AsyncRequest> request = Find(context))
      request->Complete(*static_cast<const INTERNET_ASYNC_RESULT*>(info));
  } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    // The last report for the handle: nothing writes here any more.
    Forget(context);
  }
}

void AsyncRequest::Complete(const INTERNET_ASYNC_RESULT& result) {
  result_ = result.dwResult;
  error_ = result.dwError;
  ::InterlockedIncrement(&completions_);
  ::SetEvent(completed_.get());
}

void AsyncRequest::Arm() {
  awaited_ = ::InterlockedCompareExchange(&completions_, 0, 0) + 1;
}

AsyncRequest::Outcome AsyncRequest::Await(const CancelFlag* cancel, DWORD limitMs) {
  auto completed = [this] { return ::InterlockedCompareExchange(&completions_, 0, 0) >= awaited_; };
  HANDLE waits[2] = {completed_.get(), cancel ? cancel->Event() : nullptr};
  DWORD count = waits[1] ? 2 : 1;
  bool poll = cancel && !waits[1];
  const DWORD start = ::GetTickCount();
  for (;;) {
    // The completion first: one that came with the cancel still counts.
    if (completed()) return Outcome::kCompleted;
    if (cancel && cancel->IsSet()) return Outcome::kCancelled;
    const DWORD spent = ::GetTickCount() - start;
    if (spent >= limitMs) return Outcome::kOverdue;
    DWORD slice = limitMs - spent;
    if (poll && slice > kCancelPollMs) slice = kCancelPollMs;
    if (::WaitForMultipleObjects(count, waits, FALSE, slice) == WAIT_FAILED && count == 2) {
      // The cancel's event is unusable: the completion alone, the flag polled.
      count = 1;
      poll = true;
    }
  }
}
