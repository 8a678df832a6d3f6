#include "tests/unit/transfer/TransferTestSupport.h"

#include <utility>

#include "core/Switches.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"
#include "transfer/WinInetApi.h"

namespace transfer_test {

ScopedArguments::ScopedArguments(std::vector<std::string> args)
    : previous_(ProcessArguments()) {
  SetProcessArguments(std::move(args));
}

ScopedArguments::~ScopedArguments() { SetProcessArguments(previous_); }

HeldSession::HeldSession(const std::string& host, DWORD service, WORD port)
    : host_(host), session_(ConnectionManager::Acquire(host, service, port)) {}

HeldSession::~HeldSession() {
  if (session_) ConnectionManager::Release(host_);
}

std::string TestBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 23);
  }
  return bytes;
}

DialogAnswerer::DialogAnswerer(int button, std::string user, std::string password) {
  thread_ = std::thread([this, button, user, password] {
    ui::WindowQuery query;
    query.className = "#32770";
    query.processId = ::GetCurrentProcessId();
    HWND dialog = ui::WaitForWindow(query, 15000);
    if (!dialog) return;
    caption_ = ui::WindowText(dialog);
    if (!user.empty()) {
      std::vector<HWND> edits;
      for (HWND child = ::GetWindow(dialog, GW_CHILD); child;
           child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ui::ClassName(child) == "Edit") edits.push_back(child);
      }
      if (edits.size() < 2) return;
      ::SendMessageA(edits[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(user.c_str()));
      ::SendMessageA(edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password.c_str()));
    }
    answered_ = ui::PressButton(dialog, button);
  });
}

DialogAnswerer::~DialogAnswerer() { Join(); }

void DialogAnswerer::Join() {
  if (thread_.joinable()) thread_.join();
}

void HttpTransferTest::SetUp() {
  ASSERT_TRUE(BindWinInet());
  ASSERT_TRUE(server_.Start());
}

void HttpTransferTest::TearDown() { server_.Stop(); }

}  // namespace transfer_test
