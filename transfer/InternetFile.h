// A remote file on an HTTP server: the request handle of a GET whose answer
// was 200, read in chunks. Read-only (mode 1). The file holds the request
// handle (which holds its connection).
//
// The request belongs to an asynchronous session: a read takes, at once,
// everything that has arrived, up to the size asked for (InternetReadFileEx
// with IRF_NO_WAIT: on a fast line that is as much as the buffer holds), and
// only when nothing has arrived does it wait, for the request's completion,
// which comes once something has. That wait ends at once on the user's
// Cancel and after the network's silence limit, so a read never waits for
// more than one arrival: a slow line still shows progress, a silent one
// times out, and a trickle is never cut off. A read that was cancelled or
// timed out leaves the file failed: every later read fails the same way.
#pragma once

#include <memory>
#include <vector>

#include "transfer/AsyncRequest.h"
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

  // Takes over the request, whose completions `events` receives (its context
  // is the request's). The announced Content-Length, when there is one, is
  // what a complete read must add up to.
  InternetFile(SharedInternetPtr request, std::string path, DWORD mode,
               std::shared_ptr<AsyncRequest> events, const CancelFlag* cancel = nullptr,
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

  // How long a wait for data may last: WinInet's silence limit, and a little
  // more, so that WinInet's own time-out normally comes first.
  static DWORD WaitLimitMs();

  // The announced body length; -1 when the server sent none.
  long long ContentLength() const { return contentLength_; }
  long long BodyLength() const override { return contentLength_; }
  std::string Validator() const override { return validator_; }
  unsigned long long BodyOffset() const override { return bodyOffset_; }

 private:
  // After a call failed with ERROR_IO_PENDING: waits for its completion;
  // false (the file failed, logged as `what`) when it was cancelled, timed
  // out or failed.
  bool AwaitCompletion(const char* what, int line);
  // After a failed call: its error, a time-out made plain; the file fails.
  DWORD Failed(DWORD error, DWORD elapsedMs, const char* what, int line);
  // Lets go of the request after a cancel or a time-out.
  void Abandon(DWORD error);
  // Before a call: false (the file failed as cancelled) after the user's
  // Cancel.
  bool Direct(const char* what, int line);
  // The announced body has all been read.
  bool AtEnd() const;

  SharedInternetPtr request_;
  DWORD mode_;
  std::shared_ptr<AsyncRequest> events_;
  long long contentLength_ = -1;
  std::string validator_;
  unsigned long long bodyOffset_ = 0;
  unsigned long long position_ = 0;  // bytes delivered so far, or where Seek put us
  const CancelFlag* cancel_;
  DWORD failure_ = 0;  // set once a call was cancelled, timed out or left the request unusable
};
