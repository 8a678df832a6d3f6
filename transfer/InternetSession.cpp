#include "transfer/InternetSession.h"

#include <mutex>
#include <vector>

#include "core/Error.h"
#include "core/Log.h"
#include "frame/Handle.h"
#include "transfer/CallThread.h"
#include "transfer/CancelFlag.h"
#include "transfer/CrackUrl.h"
#include "transfer/InternetFile.h"
#include "transfer/ResumeAnswer.h"
#include "transfer/TransferError.h"

namespace {

constexpr char kAgent[] = "PelloryManager";
constexpr DWORD kResponseChars = 800;
// Winsock's WSAETIMEDOUT: Wine's WinInet fails a receive that timed out with it.
constexpr DWORD kSocketTimedOut = 10060;
// A dropped connection counts as a time-out when it came this close to the limit.
constexpr DWORD kTimeoutSlackMs = 250;

DWORD g_timeoutForTests = 0;

// The server's extended error (after ERROR_INTERNET_EXTENDED_ERROR): its code
// and up to 800 characters of its text. WinInet keeps it per thread, so it is
// read on the thread whose call failed.
std::string ReadResponseInfo(DWORD* code) {
  *code = 0;
  std::vector<char> text(kResponseChars + 1, '\0');
  DWORD length = static_cast<DWORD>(text.size());
  if (!WinInet().InternetGetLastResponseInfoA(code, text.data(), &length)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    text.assign(length + 1, '\0');
    length = static_cast<DWORD>(text.size());
    if (!WinInet().InternetGetLastResponseInfoA(code, text.data(), &length)) return std::string();
  }
  std::string response(text.data(), length < text.size() ? length : 0);
  if (response.size() > kResponseChars) response.resize(kResponseChars);
  return response;
}

// The same, kept as the layer's last response text.
std::string TakeResponseText(DWORD* code) {
  std::string response = ReadResponseInfo(code);
  SetLastResponseText(response);
  return response;
}

DWORD QueryStatus(HINTERNET request, DWORD* status) {
  DWORD length = sizeof(*status);
  if (WinInet().HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status,
                               &length, nullptr))
    return 0;
  return TakeSystemError();
}

// Whether a 407 can have come from a proxy (the system's credential dialog
// for a proxy needs one; Wine's faults without). When the settings cannot be
// read, a proxy is taken to be there, so that the dialog still comes up.
bool ProxyMayBeInUse(HINTERNET session) {
  union {
    INTERNET_PROXY_INFO info;
    char bytes[4096];
  } buffer = {};
  DWORD length = sizeof(buffer);
  if (!WinInet().InternetQueryOptionA(session, INTERNET_OPTION_PROXY, &buffer, &length))
    return true;
  // A proxy the session names answers it. Only a direct session needs the
  // connection's flags, whose query makes WinInet look for an automatic
  // configuration on the network first (DHCP, then DNS); Wine's 32-bit half
  // faults in that probe under WoW64 here.
  if (buffer.info.dwAccessType != INTERNET_OPEN_TYPE_DIRECT) return true;
  INTERNET_PER_CONN_OPTIONA option = {};
  option.dwOption = INTERNET_PER_CONN_FLAGS;
  INTERNET_PER_CONN_OPTION_LISTA list = {};
  list.dwSize = sizeof(list);
  list.dwOptionCount = 1;
  list.pOptions = &option;
  DWORD listLength = sizeof(list);
  if (!WinInet().InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list,
                                      &listLength))
    option.Value.dwValue = PROXY_TYPE_AUTO_DETECT;
  return ::ProxyMayBeInUse(buffer.info.dwAccessType, option.Value.dwValue);
}

std::string StatusText(HINTERNET request) {
  char text[256] = "";
  DWORD length = sizeof(text);
  if (!WinInet().HttpQueryInfoA(request, HTTP_QUERY_STATUS_TEXT, text, &length, nullptr))
    return std::string();
  return std::string(text, length < sizeof(text) ? length : 0);
}

// The proxy's name and password as the user gave them in this run. Windows
// keeps what its credential dialog was given for the whole process; Wine
// keeps it with the WinInet session handle only, so the next session (the
// downloads after the catalogue fetch) asked for them again (measured). They
// go with every later request; a proxy that refuses them gets the dialog.
class KeptProxyCredentials {
 public:
  void Keep(HINTERNET request) {
    const std::string name = Query(request, INTERNET_OPTION_PROXY_USERNAME);
    const std::string password = Query(request, INTERNET_OPTION_PROXY_PASSWORD);
    if (name.empty() || password.empty()) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (name == name_ && password == password_) return;
    name_ = name;
    password_ = password;
    LogWrite("The proxy accepted the credentials; they are kept for the rest of the run.");
  }
  void Offer(HINTERNET request) {
    std::lock_guard<std::mutex> guard(lock_);
    if (name_.empty()) return;
    // The password first: Wine faults on a proxy challenge when a request
    // has the name without the password (measured).
    if (!Set(request, INTERNET_OPTION_PROXY_PASSWORD, password_)) return;
    Set(request, INTERNET_OPTION_PROXY_USERNAME, name_);
  }

 private:
  static std::string Query(HINTERNET request, DWORD option) {
    char text[256] = "";
    DWORD length = sizeof(text);
    if (!WinInet().InternetQueryOptionA(request, option, text, &length) || length >= sizeof(text))
      return std::string();
    return std::string(text, length);
  }
  static bool Set(HINTERNET request, DWORD option, const std::string& value) {
    return WinInet().InternetSetOptionA(request, option, const_cast<char*>(value.c_str()),
                                        static_cast<DWORD>(value.size())) != FALSE;
  }

  std::mutex lock_;
  std::string name_;
  std::string password_;
};

KeptProxyCredentials& ProxyCredentials() {
  static KeptProxyCredentials kept;
  return kept;
}

// Copies a file object into a new local file until a read gives 0 bytes.
// 0 or the error code; on failure the local file is removed, so that a partial
// download is never taken for a whole one.
DWORD CopyToLocalFile(TransferFile& source, const std::string& localPath, DWORD chunk) {
  frame::ScopedFile target(::CreateFileA(localPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) {
    const DWORD error = TakeSystemError();
    LogFormat("Failed to create file '%s'. Error 0x0%x. File %s, Line %d.", localPath.c_str(),
              static_cast<unsigned>(error), kTransferSource, __LINE__);
    return error;
  }
  std::vector<char> buffer(chunk);
  DWORD result = 0;
  for (;;) {
    DWORD got = 0;
    if (!source.Read(buffer.data(), chunk, &got)) {
      result = GetLastTransferError();
      break;
    }
    // Only a read of nothing is the end: a short read is not (the server may
    // just be slow), and a source that ended early has failed its Read.
    if (got == 0) break;
    DWORD written = 0;
    if (!::WriteFile(target.get(), buffer.data(), got, &written, nullptr) || written != got) {
      result = TakeSystemError();
      LogFormat("WriteFile failed to write to the file %s. Error 0x0%x. File %s, Line %d.",
                localPath.c_str(), static_cast<unsigned>(result), kTransferSource, __LINE__);
      break;
    }
  }
  source.CloseIfOpen();
  target.reset();
  if (result != 0) ::DeleteFileA(localPath.c_str());
  return result;
}

}  // namespace

DWORD TransferTimeoutMs() { return g_timeoutForTests ? g_timeoutForTests : kTransferTimeoutMs; }

void SetTransferTimeoutForTests(DWORD ms) { g_timeoutForTests = ms; }

bool SetInternetTimeouts(HINTERNET handle) {
  DWORD limit = TransferTimeoutMs();
  bool all = true;
  for (DWORD option : {static_cast<DWORD>(INTERNET_OPTION_CONNECT_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_SEND_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_RECEIVE_TIMEOUT)})
    all = WinInet().InternetSetOptionA(handle, option, &limit, sizeof(limit)) && all;
  return all;
}

bool IsTimeoutFailure(DWORD error, DWORD elapsedMs) {
  if (error == ERROR_INTERNET_TIMEOUT || error == kSocketTimedOut) return true;
  return (error == ERROR_INTERNET_CONNECTION_ABORTED ||
          error == ERROR_INTERNET_CONNECTION_RESET) &&
         elapsedMs + kTimeoutSlackMs >= TransferTimeoutMs();
}

bool ProxyMayBeInUse(DWORD sessionAccessType, DWORD connectionFlags) {
  if (sessionAccessType != INTERNET_OPEN_TYPE_DIRECT) return true;
  return (connectionFlags & (PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_PROXY_URL |
                             PROXY_TYPE_AUTO_DETECT)) != 0;
}

DWORD CloseInternetHandle(ScopedInternet& handle, int line) {
  if (!handle) return 0;
  HINTERNET raw = handle.release();
  if (WinInet().InternetCloseHandle && WinInet().InternetCloseHandle(raw)) return 0;
  const DWORD error = TakeSystemError();
  LogFormat("InternetCloseHandle failed. Error 0x0%x. File %s, Line %d.",
            static_cast<unsigned>(error), kTransferSource, line);
  return error;
}

DWORD ReleaseInternetHandle(SharedInternetPtr& handle, int line) {
  if (!handle) return 0;
  DWORD result = 0;
  if (handle.use_count() == 1) result = CloseInternetHandle(handle->handle, line);
  handle.reset();
  return result;
}

InternetSession::~InternetSession() { Close(); }

bool InternetSession::Open(const std::string& host, DWORD service, WORD port, const char* user,
                           const char* password) {
  session_ = std::make_shared<SharedInternet>();
  if (IsWinInetBound()) {
    session_->handle.reset(WinInet().InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                                   nullptr, 0));
    if (!session_->handle) TakeSystemError();
  } else {
    SetLastTransferError(ERROR_PROC_NOT_FOUND);
  }
  if (!session_->handle) {
    session_.reset();
    LogFormat("Failed to open Internet session on the server '%s'. Error 0x0%x. File %s, Line %d.",
              host.c_str(), static_cast<unsigned>(GetLastTransferError()), kTransferSource,
              __LINE__);
    return false;
  }
  // Windows hands them down to every request; each request sets them again.
  SetInternetTimeouts(session_->get());

  connection_ = std::make_shared<SharedInternet>();
  connection_->parent = session_;
  connection_->handle.reset(WinInet().InternetConnectA(session_->get(), host.c_str(), port, user,
                                                       password, service, 0, context_));
  if (connection_->handle) return true;
  connection_.reset();
  const DWORD error = TakeSystemError();
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    DWORD extended = 0;
    const std::string text = TakeResponseText(&extended);
    LogFormat("Failed to connect to server '%s'. Error 0x0%x. Extended error 0x0%x %s. File %s, "
              "Line %d.",
              host.c_str(), static_cast<unsigned>(error), static_cast<unsigned>(extended),
              text.c_str(), kTransferSource, __LINE__);
  } else {
    LogFormat("Failed to connect to server '%s'. Error 0x0%x. File %s, Line %d", host.c_str(),
              static_cast<unsigned>(error), kTransferSource, __LINE__);
  }
  ReleaseInternetHandle(session_, __LINE__);
  SetLastTransferError(error);  // the connect's failure, not the close's
  return false;
}

DWORD InternetSession::Close() {
  DWORD result = 0;
  // A request whose call was left behind keeps both open until it returns.
  if (connection_ && session_) {
    if (const DWORD error = ReleaseInternetHandle(connection_, __LINE__)) result = error;
    if (const DWORD error = ReleaseInternetHandle(session_, __LINE__)) result = error;
  }
  return result;
}

std::unique_ptr<TransferFile> InternetSession::OpenFile(HWND /*parent*/, const std::string& url,
                                                        const CancelFlag* cancel,
                                                        const ResumePoint* resume) {
  std::string host, path;
  if (!CrackUrl(url, host, path)) return nullptr;
  if (!connection_) {
    SetLastTransferError(ERROR_INVALID_HANDLE);
    return nullptr;
  }

  const DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY;
  // Shared with the send's call: one left behind keeps it (see InternetHandle.h).
  auto request = std::make_shared<SharedInternet>();
  request->parent = connection_;
  request->handle.reset(WinInet().HttpOpenRequestA(connection_->get(), "GET", path.c_str(),
                                                   "HTTP/1.1", "", nullptr, flags, 0));
  if (!request->handle) {
    const DWORD error = TakeSystemError();
    if (error == ERROR_INTERNET_EXTENDED_ERROR) {
      DWORD extended = 0;
      const std::string text = TakeResponseText(&extended);
      LogFormat("Failed to open HTTP request for URL '%s'. Error 0x0%x. Extended error 0x0%x %s. "
                "File %s, Line %d.",
                url.c_str(), static_cast<unsigned>(error), static_cast<unsigned>(extended),
                text.c_str(), kTransferSource, __LINE__);
    } else {
      LogFormat("Failed to open HTTP request for URL '%s'. Error 0x0%x. File %s, Line %d.",
                url.c_str(), static_cast<unsigned>(error), kTransferSource, __LINE__);
    }
    return nullptr;
  }

  // Wine takes the time-outs only from the request itself (measured).
  SetInternetTimeouts(request->get());
  // The rest of a cut download, if the server still has the same file; one
  // that changed since comes whole (If-Range).
  const std::string range = resume ? RangeRequestHeaders(*resume) : std::string();
  if (!range.empty() &&
      !WinInet().HttpAddRequestHeadersA(request->get(), range.c_str(),
                                        static_cast<DWORD>(range.size()),
                                        HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
    LogFormat("HttpAddRequestHeaders failed. Error 0x0%x. File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return nullptr;
  }
  ProxyCredentials().Offer(request->get());
  auto calls = std::make_unique<CallThread>();
  // What the send's call writes. Read only after it returned: a call left
  // behind may still write it.
  struct SendJob {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD extended = 0;
    std::string response;
  };
  auto job = std::make_shared<SendJob>();

  DWORD status = 0;
  int repeats = 0;  // sends again for statuses other than 200, 401 and 407
  int requests = 0;
  bool proxyAsked = false;
  for (;;) {
    // The connect, the request and the answer's header: each may take the
    // limit before WinInet gives up, and this wait allows a little more.
    const DWORD start = ::GetTickCount();
    const CallThread::Outcome outcome = calls->Run(
        [job, request] {
          job->ok = WinInet().HttpSendRequestA(request->get(), nullptr, 0, nullptr, 0);
          job->error = job->ok ? 0 : ::GetLastError();
          if (job->error == ERROR_INTERNET_EXTENDED_ERROR)
            job->response = ReadResponseInfo(&job->extended);
        },
        cancel, 3 * TransferTimeoutMs() + kCallGraceMs);
    ++requests;
    // A send left behind keeps the request (and its calls): no file comes
    // of it, and its job is not looked at again.
    if (outcome == CallThread::Outcome::kCancelled) {
      SetLastTransferError(ERROR_CANCELLED);
      LogFormat("Sending the HTTP request for URL '%s' cancelled. File %s, Line %d.", url.c_str(),
                kTransferSource, __LINE__);
      return nullptr;
    }
    const bool returned = outcome == CallThread::Outcome::kReturned;
    if (!returned || !job->ok) {
      const DWORD error =
          !returned ? static_cast<DWORD>(ERROR_INTERNET_TIMEOUT)
                    : job->error ? job->error : static_cast<DWORD>(ERROR_GEN_FAILURE);
      if (IsTimeoutFailure(error, ::GetTickCount() - start)) {
        SetLastTransferError(ERROR_INTERNET_TIMEOUT);
        LogFormat("Failed to send HTTP request for URL '%s': no answer for %u seconds. "
                  "Error 0x0%x. File %s, Line %d.",
                  url.c_str(), static_cast<unsigned>(TransferTimeoutMs() / 1000),
                  static_cast<unsigned>(error), kTransferSource, __LINE__);
        return nullptr;
      }
      SetLastTransferError(error);
      if (error == ERROR_INTERNET_EXTENDED_ERROR) {
        SetLastResponseText(job->response);
        LogFormat("Failed to send HTTP request. Error 0x0%x. Extended error 0x0%x %s. File %s, "
                  "Line %d.",
                  static_cast<unsigned>(error), static_cast<unsigned>(job->extended),
                  job->response.c_str(), kTransferSource, __LINE__);
      } else {
        LogFormat("Failed to send HTTP request. Error 0x0%x. File %s, Line %d.",
                  static_cast<unsigned>(error), kTransferSource, __LINE__);
      }
      return nullptr;
    }
    if (const DWORD error = QueryStatus(request->get(), &status)) {
      LogFormat("HttpQueryInfo failed. Error 0x0%x. File %s, Line %d.",
                static_cast<unsigned>(error), kTransferSource, __LINE__);
      return nullptr;
    }
    if (status == HTTP_STATUS_OK || (status == HTTP_STATUS_PARTIAL_CONTENT && !range.empty())) {
      if (proxyAsked) ProxyCredentials().Keep(request->get());
      break;
    }
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) proxyAsked = true;
    const bool credentials = status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ;
    if (requests >= kMostRequests || (!credentials && repeats++ >= kStatusRetries)) {
      // The server keeps refusing: give up with its status as the response text.
      const std::string answer = std::to_string(status) + " " + StatusText(request->get());
      SetLastResponseText(answer);
      SetLastTransferError(credentials ? ERROR_INTERNET_INCORRECT_PASSWORD
                           : status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_GONE
                               ? ERROR_FILE_NOT_FOUND
                               : ERROR_INTERNET_EXTENDED_ERROR);
      LogFormat("HTTP status %d for URL '%s' after %d requests. Error 0x0%x. File %s, Line %d.",
                static_cast<int>(status), url.c_str(), requests,
                static_cast<unsigned>(GetLastTransferError()), kTransferSource, __LINE__);
      return nullptr;
    }
    if (credentials) {
      LogFormat("Proxy authentication required, dwCode = %d. File %s, Line %d.",
                static_cast<int>(status), kTransferSource, __LINE__);
      // A 407 comes from a proxy, one named in the settings or one that an
      // automatic configuration chose. With neither configured there is no
      // proxy to ask credentials for (and WinInet's proxy dialog then faults
      // under Wine): the open fails instead.
      if (status == HTTP_STATUS_PROXY_AUTH_REQ && !ProxyMayBeInUse(session_->get())) {
        SetLastTransferError(ERROR_INTERNET_INCORRECT_PASSWORD);
        LogFormat("Proxy authentication asked for without a proxy, URL '%s'. Error 0x0%x. "
                  "File %s, Line %d.",
                  url.c_str(), static_cast<unsigned>(ERROR_INTERNET_INCORRECT_PASSWORD),
                  kTransferSource, __LINE__);
        return nullptr;
      }
      // The system's own credential dialog; it stores what the user typed in
      // the request, so sending again carries the credentials.
      const DWORD prompt = WinInet().InternetErrorDlg(
          ::GetDesktopWindow(), request->get(), ERROR_INTERNET_INCORRECT_PASSWORD,
          FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
              FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
          nullptr);
      LogFormat("InternetErrorDlg returned dwPrompt = %d. File %s, Line %d.",
                static_cast<int>(prompt), kTransferSource, __LINE__);
      // Cancelled, or success with nothing to retry (Wine's dialog answers
      // Cancel with 0): no credentials came, so there is nothing to send again.
      if (prompt == ERROR_CANCELLED || prompt == ERROR_SUCCESS) {
        SetLastTransferError(ERROR_CANCELLED);
        return nullptr;
      }
    }
  }

  LogWrite("Point 1");
  DWORD type = 0;
  DWORD typeLength = sizeof(type);
  if (!WinInet().InternetQueryOptionA(request->get(), INTERNET_OPTION_HANDLE_TYPE, &type,
                                      &typeLength)) {
    LogFormat("InternetQueryOption failed. Error 0x0%x. File %s, Line %d.",
              static_cast<unsigned>(TakeSystemError()), kTransferSource, __LINE__);
    return nullptr;
  }
  if (type != INTERNET_HANDLE_TYPE_FTP_FILE && type != INTERNET_HANDLE_TYPE_HTTP_REQUEST) {
    SetLastTransferError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    LogFormat("Error: Unidentified service type: %8.8X.", static_cast<unsigned>(type));
    return nullptr;
  }
  unsigned long long bodyOffset = 0;
  if (status == HTTP_STATUS_PARTIAL_CONTENT) {
    // Only the exact continuation of the same file will do; anything else is
    // fetched whole by the caller.
    const std::string contentRange = QueryHeaderText(request->get(), HTTP_QUERY_CONTENT_RANGE);
    const std::string validator = QueryValidator(request->get());
    if (!ContinuesDownload(contentRange, validator, *resume)) {
      SetLastTransferError(ERROR_INVALID_DATA);
      LogFormat("The partial answer for URL '%s' ('%s', '%s') does not continue the download at "
                "byte %s. File %s, Line %d.",
                url.c_str(), contentRange.c_str(), validator.c_str(),
                std::to_string(resume->offset).c_str(), kTransferSource, __LINE__);
      return nullptr;
    }
    bodyOffset = resume->offset;
  }
  return std::make_unique<InternetFile>(std::move(request), path, InternetFile::kReadOnly, 0,
                                        std::move(calls), cancel, bodyOffset);
}

DWORD InternetSession::DownloadToFile(HWND parent, const std::string& url,
                                      const std::string& localPath, bool /*failIfExists*/,
                                      const CancelFlag* cancel) {
  std::unique_ptr<TransferFile> file = OpenFile(parent, url, cancel);
  if (!file) return GetLastTransferError();
  return CopyToLocalFile(*file, localPath, kDownloadChunk);
}
