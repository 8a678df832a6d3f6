#include "tests/unit/transfer/TransferTestSupport.h"

#include <utility>

#include "core/Switches.h"
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

void HttpTransferTest::SetUp() {
  ASSERT_TRUE(BindWinInet());
  ASSERT_TRUE(server_.Start());
}

void HttpTransferTest::TearDown() { server_.Stop(); }

}  // namespace transfer_test
