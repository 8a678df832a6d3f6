// Shared pieces of the transfer tests: a log capture, an HTTP server with a
// catalogue URL on it, and sessions that are released however a test ends.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/HttpServer.h"
#include "transfer/ConnectionManager.h"

namespace transfer_test {

// Collects the logged lines while it lives.
using LogCapture = testing_support::CapturedLog;

// Sets the process's switches for the length of a test (restored after).
class ScopedArguments {
 public:
  explicit ScopedArguments(std::vector<std::string> args);
  ~ScopedArguments();

 private:
  std::vector<std::string> previous_;
};

// Acquires a host's session; releases it on destruction.
class HeldSession {
 public:
  HeldSession(const std::string& host, DWORD service, WORD port);
  ~HeldSession();
  TransferSession* get() const { return session_; }
  TransferSession* operator->() const { return session_; }
  explicit operator bool() const { return session_ != nullptr; }

 private:
  std::string host_;
  TransferSession* session_;
};

// Deterministic bytes of every value, for comparing downloads.
std::string TestBytes(size_t size, unsigned seed);

// Binds WinInet and captures the log; the HTTP server runs on a free port.
class HttpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  testing_support::HttpServer server_;
  LogCapture log_;
};

}  // namespace transfer_test
