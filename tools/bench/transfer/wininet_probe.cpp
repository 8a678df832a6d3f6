// What WinINet does with the reads a download could make, under the Wine it
// runs on (Windows builds; run by wininet_probe.sh, not a test). Each case
// fetches one body and prints one line of facts:
//
//   wininet_probe fast URL
//     URL (a large file on a fast server), read in each of these ways:
//     sync-available  InternetQueryDataAvailable, then a read of that much
//     sync-256k       InternetReadFile of 256 KiB
//     sync-nowait     InternetReadFileEx of 256 KiB with IRF_NO_WAIT
//     async-available INTERNET_FLAG_ASYNC, InternetQueryDataAvailable sizes
//     async-nowait    INTERNET_FLAG_ASYNC, InternetReadFileEx of 256 KiB with
//                     IRF_ASYNC | IRF_NO_WAIT; ERROR_IO_PENDING waits for
//                     INTERNET_STATUS_REQUEST_COMPLETE
//     async-wait      the same without IRF_NO_WAIT
//   wininet_probe slow
//     A body of 100,000 bytes from a server of this process, in 2000-byte
//     pieces 20 ms apart, read as sync-available, sync-nowait (64 KiB),
//     async-nowait and async-wait; the longest call and the longest wait.
//   wininet_probe stall
//     A body that stops after 10,000 bytes for 8 s, the request's receive
//     time-out 3 s: async-nowait's pending read left to WinINet's time-out
//     (when does it complete, with what), then the same closed 300 ms into
//     the wait (how long the close takes, which callbacks come after it).
//
// Per case: seconds, reads (calls), pending calls, bytes per successful read
// (largest and median), the longest call and the longest wait for a
// completion, and the status callbacks seen with their counts.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/HttpServer.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

// What the status callback saw for one case; the callback gets its address
// as the context of every handle of the case.
struct Seen {
  std::mutex lock;
  std::map<DWORD, int> statuses;
  HANDLE complete = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD result = 0;
  DWORD error = 0;
  DWORD callingThread = 0;
  int completesOnCaller = 0;
  double closingAt = 0;  // when INTERNET_STATUS_HANDLE_CLOSING came for the request
  double completeAt = 0;
  HINTERNET request = nullptr;
  ~Seen() { ::CloseHandle(complete); }
};

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                       DWORD length) {
  Seen* seen = reinterpret_cast<Seen*>(context);
  if (!seen) return;
  std::lock_guard<std::mutex> guard(seen->lock);
  ++seen->statuses[status];
  if (status == INTERNET_STATUS_HANDLE_CLOSING && handle == seen->request)
    seen->closingAt = Now();
  if (status == INTERNET_STATUS_REQUEST_COMPLETE && info &&
      length >= sizeof(INTERNET_ASYNC_RESULT)) {
    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    seen->result = static_cast<DWORD>(result->dwResult);
    seen->error = result->dwError;
    seen->completeAt = Now();
    if (::GetCurrentThreadId() == seen->callingThread) ++seen->completesOnCaller;
    ::SetEvent(seen->complete);
  }
}

struct Stats {
  double seconds = 0;
  unsigned long calls = 0;
  unsigned long pending = 0;
  unsigned long long bytes = 0;
  std::vector<DWORD> sizes;  // bytes of each read that gave some
  double longestCallMs = 0;
  double longestWaitMs = 0;
  DWORD failure = 0;
  std::string note;
};

enum class Way { kSyncAvailable, kSync256k, kSyncNoWait, kAsyncAvailable, kAsyncNoWait, kAsyncWait };

bool IsAsync(Way way) {
  return way == Way::kAsyncAvailable || way == Way::kAsyncNoWait || way == Way::kAsyncWait;
}

// Waits for the callback's completion: false after `limitMs`.
bool AwaitComplete(Seen& seen, Stats& stats, DWORD limitMs) {
  ++stats.pending;
  const double start = Now();
  const bool done = ::WaitForSingleObject(seen.complete, limitMs) == WAIT_OBJECT_0;
  stats.longestWaitMs = std::max(stats.longestWaitMs, 1000 * (Now() - start));
  return done;
}

struct Handles {
  HINTERNET session = nullptr, connection = nullptr, request = nullptr;
  ~Handles() {
    if (request) ::InternetCloseHandle(request);
    if (connection) ::InternetCloseHandle(connection);
    if (session) ::InternetCloseHandle(session);
  }
};

// Opens and sends the GET; false on failure (stats.failure says why).
bool Open(const std::string& url, Way way, Seen& seen, Handles& h, Stats& stats,
          DWORD receiveTimeoutMs) {
  URL_COMPONENTSA parts = {};
  char host[256] = "", path[2048] = "";
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof(path);
  if (!::InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return false;
  const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&seen);
  h.session = ::InternetOpenA("wininet_probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                              IsAsync(way) ? INTERNET_FLAG_ASYNC : 0);
  if (!h.session) return false;
  if (IsAsync(way)) ::InternetSetStatusCallbackA(h.session, &OnStatus);
  h.connection = ::InternetConnectA(h.session, host, parts.nPort, nullptr, nullptr,
                                    INTERNET_SERVICE_HTTP, 0, context);
  if (!h.connection) return false;
  h.request = ::HttpOpenRequestA(h.connection, "GET", path, nullptr, nullptr, nullptr,
                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                     INTERNET_FLAG_KEEP_CONNECTION,
                                 context);
  if (!h.request) return false;
  seen.request = h.request;
  ::InternetSetOptionA(h.request, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeoutMs,
                       sizeof(receiveTimeoutMs));
  if (!::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      stats.failure = error;
      return false;
    }
    stats.note += "send pending;";
    if (!AwaitComplete(seen, stats, 10000) || !seen.result) {
      stats.failure = seen.error ? seen.error : WAIT_TIMEOUT;
      return false;
    }
    stats.pending = 0;
    stats.longestWaitMs = 0;
  } else if (IsAsync(way)) {
    stats.note += "send returned at once;";
  }
  return true;
}

// One read of the way's kind: TRUE/FALSE as the call gave it.
BOOL ReadOnce(Way way, HINTERNET request, char* buffer, DWORD size, DWORD* got, Seen& seen,
              Stats& stats, DWORD limitMs) {
  *got = 0;
  ++stats.calls;
  const double start = Now();
  BOOL ok = FALSE;
  DWORD error = 0;
  if (way == Way::kSyncAvailable || way == Way::kAsyncAvailable) {
    DWORD available = 0;
    ok = ::InternetQueryDataAvailable(request, &available, 0, 0);
    error = ok ? 0 : ::GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
      stats.longestCallMs = std::max(stats.longestCallMs, 1000 * (Now() - start));
      if (!AwaitComplete(seen, stats, limitMs)) return FALSE;
      if (!seen.result) {
        ::SetLastError(seen.error);
        return FALSE;
      }
      available = seen.error;  // the completion carries the size
      ok = TRUE;
    }
    if (!ok) {
      ::SetLastError(error);
      return FALSE;
    }
    const DWORD want = std::max<DWORD>(1, std::min(available, size));
    ok = ::InternetReadFile(request, buffer, want, got);
  } else if (way == Way::kSync256k) {
    ok = ::InternetReadFile(request, buffer, size, got);
  } else {
    INTERNET_BUFFERSA buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpvBuffer = buffer;
    buffers.dwBufferLength = size;
    const DWORD flags = way == Way::kSyncNoWait   ? IRF_NO_WAIT
                        : way == Way::kAsyncWait ? IRF_ASYNC
                                                 : IRF_ASYNC | IRF_NO_WAIT;
    ok = ::InternetReadFileExA(request, &buffers, flags, reinterpret_cast<DWORD_PTR>(&seen));
    error = ok ? 0 : ::GetLastError();
    stats.longestCallMs = std::max(stats.longestCallMs, 1000 * (Now() - start));
    if (!ok && error == ERROR_IO_PENDING) {
      if (!AwaitComplete(seen, stats, limitMs)) return FALSE;
      if (!seen.result) {
        ::SetLastError(seen.error);
        return FALSE;
      }
      // A completed wait-read filled the buffer; a no-wait one only says
      // that something has arrived (0 read, try again).
      *got = way == Way::kAsyncWait ? buffers.dwBufferLength : 0;
      return TRUE;
    }
    *got = ok ? buffers.dwBufferLength : 0;
    if (!ok) ::SetLastError(error);
    return ok;
  }
  stats.longestCallMs = std::max(stats.longestCallMs, 1000 * (Now() - start));
  return ok;
}

Stats Fetch(const std::string& url, Way way, DWORD size, DWORD receiveTimeoutMs,
            long long expected) {
  Stats stats;
  Seen seen;
  seen.callingThread = ::GetCurrentThreadId();
  Handles h;
  const double start = Now();
  if (!Open(url, way, seen, h, stats, receiveTimeoutMs)) {
    if (!stats.failure) stats.failure = ::GetLastError();
  } else {
    std::vector<char> buffer(size);
    for (;;) {
      DWORD got = 0;
      if (!ReadOnce(way, h.request, buffer.data(), size, &got, seen, stats, 20000)) {
        stats.failure = ::GetLastError();
        break;
      }
      if (got > 0) {
        stats.sizes.push_back(got);
        stats.bytes += got;
        continue;
      }
      // No-wait reads give 0 both at the end and (after a completion) when
      // the data went to WinINet's own buffer: only the length tells.
      if (stats.bytes >= static_cast<unsigned long long>(expected)) break;
      if (way != Way::kAsyncNoWait && way != Way::kSyncNoWait) break;
    }
  }
  stats.seconds = Now() - start;
  ::InternetCloseHandle(h.request);
  h.request = nullptr;
  std::lock_guard<std::mutex> guard(seen.lock);
  for (const auto& status : seen.statuses)
    stats.note += " " + std::to_string(status.first) + "x" + std::to_string(status.second);
  if (seen.completesOnCaller) stats.note += " completions-on-caller " + std::to_string(seen.completesOnCaller);
  return stats;
}

void Print(const char* name, const Stats& s) {
  std::vector<DWORD> sizes = s.sizes;
  std::sort(sizes.begin(), sizes.end());
  const DWORD largest = sizes.empty() ? 0 : sizes.back();
  const DWORD median = sizes.empty() ? 0 : sizes[sizes.size() / 2];
  std::printf("%-16s seconds %.3f bytes %llu reads %lu pending %lu read_max %lu read_median %lu "
              "longest_call_ms %.1f longest_wait_ms %.1f error %lu |%s\n",
              name, s.seconds, s.bytes, s.calls, s.pending, static_cast<unsigned long>(largest),
              static_cast<unsigned long>(median), s.longestCallMs, s.longestWaitMs,
              static_cast<unsigned long>(s.failure), s.note.c_str());
  std::fflush(stdout);
}

long long ContentLengthOf(const std::string& url) {
  HINTERNET session = ::InternetOpenA("wininet_probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET file = session ? ::InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                           : nullptr;
  char text[32] = "";
  DWORD length = sizeof(text);
  long long value = -1;
  if (file && ::HttpQueryInfoA(file, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr))
    value = std::atoll(text);
  if (file) ::InternetCloseHandle(file);
  if (session) ::InternetCloseHandle(session);
  return value;
}

int Fast(const std::string& url) {
  const long long length = ContentLengthOf(url);
  if (length <= 0) return 1;
  const DWORD k256 = 256 * 1024;
  Print("sync-available", Fetch(url, Way::kSyncAvailable, k256, 60000, length));
  Print("sync-256k", Fetch(url, Way::kSync256k, k256, 60000, length));
  Print("sync-nowait", Fetch(url, Way::kSyncNoWait, k256, 60000, length));
  Print("async-available", Fetch(url, Way::kAsyncAvailable, k256, 60000, length));
  Print("async-nowait", Fetch(url, Way::kAsyncNoWait, k256, 60000, length));
  Print("async-wait", Fetch(url, Way::kAsyncWait, k256, 60000, length));
  return 0;
}

int Slow() {
  testing_support::HttpServer server;
  testing_support::HttpRoute route;
  route.body.assign(100000, 'x');
  route.pieceSize = 2000;
  route.pieceDelayMs = 20;
  server.SetRoute("/slow", route);
  if (!server.Start()) return 1;
  const std::string url = server.Url("/slow");
  Print("slow sync-avail", Fetch(url, Way::kSyncAvailable, 256 * 1024, 60000, 100000));
  Print("slow sync-nowait", Fetch(url, Way::kSyncNoWait, 64 * 1024, 60000, 100000));
  Print("slow async-nowait", Fetch(url, Way::kAsyncNoWait, 256 * 1024, 60000, 100000));
  Print("slow async-wait", Fetch(url, Way::kAsyncWait, 64 * 1024, 60000, 100000));
  server.Stop();
  return 0;
}

// A read left pending on a silent server: to WinINet's own receive time-out,
// or closed while it waits.
int Stall() {
  testing_support::HttpServer server;
  testing_support::HttpRoute route;
  route.body.assign(40000, 's');
  route.stallAfter = 10000;
  route.stallMs = 8000;
  server.SetRoute("/stall", route);
  if (!server.Start()) return 1;
  const std::string url = server.Url("/stall");
  for (const bool close : {false, true}) {
    Stats stats;
    Seen seen;
    seen.callingThread = ::GetCurrentThreadId();
    Handles h;
    const double start = Now();
    if (!Open(url, Way::kAsyncNoWait, seen, h, stats, 3000)) {
      std::printf("stall: open failed %lu\n", static_cast<unsigned long>(stats.failure));
      return 1;
    }
    std::vector<char> buffer(256 * 1024);
    INTERNET_BUFFERSA buffers = {};
    unsigned long long bytes = 0;
    BOOL ok = TRUE;
    DWORD error = 0;
    while (ok) {
      buffers.dwStructSize = sizeof(buffers);
      buffers.lpvBuffer = buffer.data();
      buffers.dwBufferLength = static_cast<DWORD>(buffer.size());
      ok = ::InternetReadFileExA(h.request, &buffers, IRF_ASYNC | IRF_NO_WAIT,
                                 reinterpret_cast<DWORD_PTR>(&seen));
      error = ok ? 0 : ::GetLastError();
      if (ok) bytes += buffers.dwBufferLength;
      if (!ok && error == ERROR_IO_PENDING && bytes < 10000) {
        ::WaitForSingleObject(seen.complete, 5000);
        ok = TRUE;
      }
    }
    const double pendingAt = Now();
    if (error != ERROR_IO_PENDING) {
      std::printf("stall: read failed at once, error %lu after %llu bytes\n",
                  static_cast<unsigned long>(error), bytes);
      continue;
    }
    if (!close) {
      const bool done = ::WaitForSingleObject(seen.complete, 15000) == WAIT_OBJECT_0;
      std::printf("stall, left to the receive time-out (3 s): %llu bytes, then pending; "
                  "completed %s after %.2f s, result %lu error %lu\n",
                  bytes, done ? "yes" : "no", (done ? seen.completeAt : Now()) - pendingAt,
                  static_cast<unsigned long>(seen.result), static_cast<unsigned long>(seen.error));
    } else {
      ::Sleep(300);
      const double closeStart = Now();
      const BOOL closed = ::InternetCloseHandle(h.request);
      const double closeMs = 1000 * (Now() - closeStart);
      h.request = nullptr;
      seen.completeAt = 0;
      const bool done = ::WaitForSingleObject(seen.complete, 12000) == WAIT_OBJECT_0;
      ::Sleep(200);
      std::lock_guard<std::mutex> guard(seen.lock);
      std::printf("stall, closed 300 ms into the wait: close %s in %.1f ms; completion %s "
                  "%.2f s after the close (result %lu error %lu); handle closing %s %.2f s "
                  "after the close\n",
                  closed ? "ok" : "failed", closeMs, done ? "came" : "did not come",
                  done ? seen.completeAt - closeStart : 0.0,
                  static_cast<unsigned long>(seen.result), static_cast<unsigned long>(seen.error),
                  seen.closingAt > 0 ? "came" : "did not come",
                  seen.closingAt > 0 ? seen.closingAt - closeStart : 0.0);
    }
    std::lock_guard<std::mutex> guard(seen.lock);
    std::string statuses;
    for (const auto& status : seen.statuses)
      statuses += " " + std::to_string(status.first) + "x" + std::to_string(status.second);
    std::printf("  statuses:%s (whole case %.2f s)\n", statuses.c_str(), Now() - start);
  }
  server.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "fast" && argc == 3) return Fast(argv[2]);
  if (mode == "slow") return Slow();
  if (mode == "stall") return Stall();
  std::fprintf(stderr, "usage: wininet_probe fast URL | slow | stall\n");
  return 2;
}
