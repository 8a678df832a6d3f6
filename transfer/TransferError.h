// The transfer layer's last error and the server's last response text. One
// of each for the process: the catalogue fetch and the worker never transfer
// at the same time, and the fetch's caller reads them on another thread.
#pragma once

#include <windows.h>

#include <string>

// The source name that every log line of this layer carries ("File Ftp, Line n").
constexpr char kTransferSource[] = "Ftp";

// 32-bit code (system or WinInet) of the layer's latest failure.
DWORD GetLastTransferError();
void SetLastTransferError(DWORD code);
// ::GetLastError() as the failure's code; a failure that left 0 behind still
// counts as one (ERROR_GEN_FAILURE), so no caller mistakes it for success.
DWORD TakeSystemError();

// The server's extended error text of the latest failure that reported one.
std::string GetLastResponseText();
