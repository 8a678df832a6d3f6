// One session per host for the whole process, shared by reference count:
// the catalogue fetch and the worker acquire a host's session and release it
// when done. Sessions still held at process end are left to the process end.
#pragma once

#include <windows.h>

#include <string>

#include "transfer/TransferSession.h"

class ConnectionManager {
 public:
  // The host's session with one more reference; a new one is opened for
  // HTTP (kServiceHttp) or file URLs (kServiceFile). An existing session is
  // returned whatever the service, port and credentials of this call. Null on
  // failure, with the layer's last error set; FTP has no session kind.
  static TransferSession* Acquire(const std::string& host, DWORD service, WORD port,
                                  const char* user = nullptr, const char* password = nullptr);
  // Drops one reference: the references left, 0 when the session was closed
  // and destroyed, -1 for a host without a session.
  static int Release(const std::string& host);
};
