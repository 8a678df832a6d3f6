// The session for file URLs: no connection to make, files opened or copied
// straight from disk or the network.
#pragma once

#include "transfer/TransferSession.h"

class FileSession : public TransferSession {
 public:
  bool Open(const std::string& host, DWORD service, WORD port, const char* user,
            const char* password) override;
  DWORD Close() override;
  std::unique_ptr<TransferFile> OpenFile(HWND parent, const std::string& url,
                                         const CancelFlag* cancel = nullptr,
                                         const ResumePoint* resume = nullptr) override;
  DWORD DownloadToFile(HWND parent, const std::string& url, const std::string& localPath,
                       bool failIfExists, const CancelFlag* cancel = nullptr) override;
};

// Two names of one file: the same file index on the same volume, or, when
// either cannot be opened, the same full path.
bool SameFile(const std::string& a, const std::string& b);

// Where a file URL points on disk; false when it cannot be cracked.
bool LocalPathForUrl(const std::string& url, std::string& path);
