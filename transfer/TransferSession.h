// The transfer layer's two interfaces: a session is a reference-counted
// connection to one host, a file is an open source (or target) read in chunks.
// HTTP servers (InternetSession, InternetFile) and file URLs (FileSession,
// LocalFile) sit behind them; ConnectionManager hands out the sessions.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

class CancelFlag;

// Services, as the callers pick them from a URL's scheme.
constexpr DWORD kServiceFtp = 1;
constexpr DWORD kServiceHttp = 3;
constexpr DWORD kServiceFile = 5;

// Where a fetch cut short goes on: the bytes already held, the first answer's
// validator (its ETag, else its Last-Modified) and its body length (-1 when
// it announced none). A server that cannot continue exactly there, for the
// same file, answers with the whole file instead.
struct ResumePoint {
  unsigned long long offset = 0;
  std::string validator;
  long long total = -1;
};

class TransferFile {
 public:
  explicit TransferFile(std::string name) : name_(std::move(name)) {}
  virtual ~TransferFile() = default;
  TransferFile(const TransferFile&) = delete;
  TransferFile& operator=(const TransferFile&) = delete;

  // Moves the read position; false on failure.
  virtual bool Seek(LONG distance, DWORD method) = 0;
  // Reads up to `size` bytes; *count is 0 first. A read that gives 0 bytes
  // and succeeds is the end of the source; a source that ended early fails.
  virtual bool Read(void* buffer, DWORD size, DWORD* count) = 0;
  // True only when all `size` bytes were written.
  virtual bool Write(const void* buffer, DWORD size, DWORD* count) = 0;
  virtual void CloseIfOpen() = 0;
  virtual bool Close() = 0;
  // Bytes that can be read now (HTTP: without waiting; files: the size).
  virtual DWORD Available() = 0;

  // The answer's validator: its ETag, else its Last-Modified; "" when none.
  virtual std::string Validator() const { return std::string(); }
  // Where the body starts in the whole file: the resume point's offset when
  // the server continues there, else 0 (the whole file).
  virtual unsigned long long BodyOffset() const { return 0; }
  // The announced body length; -1 when none was announced.
  virtual long long BodyLength() const { return -1; }

  // The URL path or the file path.
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
};

class TransferSession {
 public:
  TransferSession() = default;
  virtual ~TransferSession() = default;
  TransferSession(const TransferSession&) = delete;
  TransferSession& operator=(const TransferSession&) = delete;

  // user and password may be null.
  virtual bool Open(const std::string& host, DWORD service, WORD port, const char* user,
                    const char* password) = 0;
  // 0, or the code of the last close that failed.
  virtual DWORD Close() = 0;
  // The URL may be relative to the catalogue URL; null on failure (the
  // layer's last error says why). Once `cancel` (may be null) is set, the
  // open and the file's reads end at once and fail with ERROR_CANCELLED; the
  // flag must outlive the file. With a resume point that has a validator, an
  // HTTP server is asked for the rest of the file only; the file's
  // BodyOffset says what came.
  virtual std::unique_ptr<TransferFile> OpenFile(HWND parent, const std::string& url,
                                                 const CancelFlag* cancel = nullptr,
                                                 const ResumePoint* resume = nullptr) = 0;
  // 0 or an error code (ERROR_CANCELLED after `cancel` was set). A file
  // that did not arrive whole is not left behind.
  virtual DWORD DownloadToFile(HWND parent, const std::string& url, const std::string& localPath,
                               bool failIfExists, const CancelFlag* cancel = nullptr) = 0;

  // The connection manager's count of holders.
  LONG AddRef() { return ++refCount_; }
  LONG ReleaseRef() { return --refCount_; }
  LONG RefCount() const { return refCount_; }

 private:
  LONG refCount_ = 0;
};
