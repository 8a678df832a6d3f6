// A remote file on an HTTP server: the request handle of a GET whose answer
// was 200, read in chunks. Read-only (mode 1). The file holds the request
// handle (which holds its connection); a call left behind holds it too.
//
// A WinInet call that may wait (the wait for data, and a read when nothing is
// known to have arrived) runs on the request's call thread, so that the
// user's Cancel or the silence limit ends it at once. A call that cannot
// wait is made on the caller's thread: a read of no more than has arrived,
// the question of how much has arrived while some of it is still unread, and
// both at the end of the announced body. A read never asks WinInet for more
// than has already arrived (a read of n bytes returns only once n have come,
// which on a slow line could take hours), so every wait is bounded by the
// network's silence limit. A read that was cancelled or timed out leaves
// the file failed: every later read fails the same way.
#pragma once

#include <memory>
#include <vector>

#include "transfer/CallThread.h"
#include "transfer/InternetHandle.h"
#include "transfer/TransferSession.h"

class CancelFlag;

// A header of the answer as text (HttpQueryInfo); "" when it has none.
std::string QueryHeaderText(HINTERNET request, DWORD info);
// The answer's validator: its ETag, else its Last-Modified; "" when neither.
std::string QueryValidator(HINTERNET request);

class InternetFile : public TransferFile {
 public:
  static constexpr DWORD kReadOnly = 1;

  // Takes over the request. The announced Content-Length, when there is one,
  // is what a complete read must add up to.
  InternetFile(SharedInternetPtr request, std::string path, DWORD mode, DWORD_PTR context,
               std::unique_ptr<CallThread> calls = nullptr, const CancelFlag* cancel = nullptr,
               unsigned long long bodyOffset = 0);
  ~InternetFile() override;

  bool Seek(LONG distance, DWORD method) override;
  // Up to `size` bytes of what has arrived; waits (bounded) only while
  // nothing has.
  bool Read(void* buffer, DWORD size, DWORD* count) override;
  bool Write(const void* buffer, DWORD size, DWORD* count) override;
  void CloseIfOpen() override;
  bool Close() override;
  // Waits, bounded, until something has arrived; 0 at the end.
  DWORD Available() override;

  // How long one call may keep the caller: WinInet's silence limit, and a
  // little more before the call is left behind.
  static DWORD CallLimitMs();

  // The announced body length; -1 when the server sent none.
  long long ContentLength() const { return contentLength_; }
  long long BodyLength() const override { return contentLength_; }
  std::string Validator() const override { return validator_; }
  unsigned long long BodyOffset() const override { return bodyOffset_; }

 private:
  struct Job {
    std::vector<char> bytes;
    BOOL ok = FALSE;
    DWORD count = 0;
    DWORD error = 0;
  };
  // Runs a call on the call thread; false when it was left behind (the file
  // has then failed and let go of its request: the call closes it).
  bool Call(std::function<void()> call, DWORD limitMs, const char* what, int line);
  // After a failed call: its error, a time-out made plain; the file fails.
  DWORD Failed(DWORD error, DWORD elapsedMs, const char* what, int line);
  // Asks WinInet what has arrived, here when the answer cannot wait, else
  // on the call thread; false on failure.
  bool QueryAvailable(DWORD* available);
  // Before a call made here: false (the file failed as cancelled) after the
  // user's Cancel, which such a call would not otherwise see.
  bool Direct(const char* what, int line);
  // The announced body has all been read.
  bool AtEnd() const;

  SharedInternetPtr request_;
  DWORD ready_ = 0;  // bytes known to have arrived and not read yet
  DWORD mode_;
  DWORD_PTR context_;
  long long contentLength_ = -1;
  std::string validator_;
  unsigned long long bodyOffset_ = 0;
  unsigned long long position_ = 0;  // bytes delivered so far, or where Seek put us
  std::unique_ptr<CallThread> calls_;
  const CancelFlag* cancel_;
  std::shared_ptr<Job> job_ = std::make_shared<Job>();
  DWORD failure_ = 0;  // set once a call was cancelled, timed out or left the request unusable
};
