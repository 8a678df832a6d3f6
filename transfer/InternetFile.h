// A remote file on an HTTP server: the request handle of a GET whose answer
// was 200, read in chunks. Read-only (mode 1). The file owns the request
// handle; the connection handle belongs to its session.
#pragma once

#include "transfer/InternetHandle.h"
#include "transfer/TransferSession.h"

class InternetFile : public TransferFile {
 public:
  static constexpr DWORD kReadOnly = 1;

  // Takes over the request. The announced Content-Length, when there is one,
  // is what a complete read must add up to.
  InternetFile(HINTERNET request, HINTERNET connection, std::string path, DWORD mode,
               DWORD_PTR context);
  ~InternetFile() override;

  bool Seek(LONG distance, DWORD method) override;
  bool Read(void* buffer, DWORD size, DWORD* count) override;
  bool Write(const void* buffer, DWORD size, DWORD* count) override;
  void CloseIfOpen() override;
  bool Close() override;
  DWORD Available() override;

  // The announced body length; -1 when the server sent none.
  long long ContentLength() const { return contentLength_; }

 private:
  ScopedInternet request_;
  HINTERNET connection_;
  DWORD mode_;
  DWORD_PTR context_;
  long long contentLength_ = -1;
  unsigned long long position_ = 0;  // bytes delivered so far, or where Seek put us
};
