#include "transfer/TransferError.h"

#include "core/Error.h"

namespace {

DWORD g_lastError = 0;

}  // namespace

DWORD GetLastTransferError() { return g_lastError; }

void SetLastTransferError(DWORD code) { g_lastError = code; }

DWORD TakeSystemError() {
  const DWORD code = ::GetLastError();
  g_lastError = code != 0 ? code : ERROR_GEN_FAILURE;
  return g_lastError;
}

std::string GetLastResponseText() { return LastResponseText(); }
