// A session with one HTTP server: a WinInet session handle and a connection
// handle to the host. Files are opened as GET requests that bypass the cache.
#pragma once

#include "transfer/InternetHandle.h"
#include "transfer/TransferSession.h"

// Whether a proxy may stand between the program and the server: the
// session's own setting names one, or the system leaves the choice to an
// automatic configuration script or to detection (INTERNET_PER_CONN_FLAGS).
bool ProxyMayBeInUse(DWORD sessionAccessType, DWORD connectionFlags);

class InternetSession : public TransferSession {
 public:
  // Times a request is sent again for an answer other than 200, 401 and 407
  // before the open fails.
  static constexpr int kStatusRetries = 2;
  // Requests of one open in all, every resend after a credential dialog
  // included: a user who keeps typing wrong credentials, or a server that
  // keeps asking, ends the open with the last status.
  static constexpr int kMostRequests = 4;
  // DownloadToFile's chunk. Nothing is shown during this copy and a cancel
  // ends a read at once, so it can wait for large reads (InternetReadFile
  // returns only with a full buffer or at the end); small ones cost a socket
  // call each (measured: 100 MB took 2-6 s in 2000-byte reads under Wine,
  // 0.1-0.2 s in 1 MiB ones).
  static constexpr DWORD kDownloadChunk = 1024 * 1024;

  InternetSession() = default;
  ~InternetSession() override;

  bool Open(const std::string& host, DWORD service, WORD port, const char* user,
            const char* password) override;
  DWORD Close() override;
  std::unique_ptr<TransferFile> OpenFile(HWND parent, const std::string& url,
                                         const CancelFlag* cancel = nullptr,
                                         const ResumePoint* resume = nullptr) override;
  DWORD DownloadToFile(HWND parent, const std::string& url, const std::string& localPath,
                       bool failIfExists, const CancelFlag* cancel = nullptr) override;

 private:
  SharedInternetPtr session_;
  SharedInternetPtr connection_;
  DWORD_PTR context_ = 0;
};
