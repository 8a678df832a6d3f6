// A small HTTP/1.1 server on 127.0.0.1 for tests: a thread of the test process
// (Winsock), on a free port, serving fixed bodies by path. It can ask for
// credentials (401, 407), answer with any status, drop the connection in the
// middle of a body, send fewer bytes than its Content-Length says, and send
// slowly in small pieces, stall (send nothing for a while) before its answer
// or in the middle of a body, and trickle a body a byte at a time. It records
// every request it got.
//
// Every answer carries "Connection: close" and the connection is closed after
// it, so each request arrives on a connection of its own. Paths not set up are
// answered with 404. A proxy's request (an absolute target, "http://host/path")
// is served by its path, so the server can stand in for a proxy too (407).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// What the server answers for one path.
struct HttpRoute {
  int status = 200;
  std::string body;
  // With status 401 or 407: the Authorization (401) or Proxy-Authorization
  // (407) value, such as "Basic dXNlcjpwdw==", for which the answer is 200
  // with the body instead; empty = always the status.
  std::string acceptedCredentials;
  // More header lines, each ending in "\r\n".
  std::string extraHeaders;
  // The Content-Length to announce; -1 = the body's size. A larger value makes
  // a short body: the body is sent whole, then the connection is closed.
  long long contentLength = -1;
  // >= 0: after this many bytes of the body the connection is reset.
  long long dropAfter = -1;
  // A strong ETag ("\"v1\"", quotes included) sent with every answer: a request
  // with "Range: bytes=N-" (and an If-Range naming this tag, when it has one)
  // gets 206 with the rest of the body. With changedBody, every answer after
  // the first is for a changed file: that body under another tag.
  std::string etag;
  std::string changedBody;
  // > 0: the body goes out in pieces of this size, pieceDelayMs apart.
  size_t pieceSize = 0;
  DWORD pieceDelayMs = 0;
  // Stalls: nothing at all is sent for answerDelayMs after the request
  // arrived; after stallAfter bytes of the body (0: right after the header)
  // nothing is sent for stallMs, then the rest follows. Stop ends every wait.
  DWORD answerDelayMs = 0;
  long long stallAfter = -1;
  DWORD stallMs = 0;
  // >= 0: the cut and the stalls above come in the first faultTimes answers
  // for the path only; the later ones are whole and prompt.
  int faultTimes = -1;
};

struct HttpRequest {
  std::string method;
  std::string target;   // as sent, query included (absolute when sent to a proxy)
  std::string headers;  // the header lines as sent, "\r\n" after each
  // The value of a header (name compared without regard to case); "" if absent.
  std::string Header(const std::string& name) const;
};

class HttpServer {
 public:
  HttpServer() = default;
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on 127.0.0.1 (a free port) and starts serving; false on failure.
  bool Start();
  // Stops listening, resets open connections and waits for every thread.
  void Stop();

  unsigned short Port() const { return port_; }
  // "http://127.0.0.1:<port>" and that followed by a path ("/a/b.cab").
  std::string BaseUrl() const;
  std::string Url(const std::string& path) const;

  // Routes, by path (the target without its query). May change while serving.
  void SetRoute(const std::string& path, HttpRoute route);
  // 200 with the body.
  void Serve(const std::string& path, std::string body);
  // Any status with a short text body; 401 adds WWW-Authenticate, 407
  // Proxy-Authenticate (Basic).
  void ServeStatus(const std::string& path, int status);

  std::vector<HttpRequest> Requests() const;
  // Requests whose path (target without query) is this one.
  size_t RequestCount(const std::string& path) const;
  void ClearRequests();

 private:
  void AcceptLoop();
  void HandleConnection(SOCKET client);
  void Answer(SOCKET client, const HttpRequest& request);
  void Forget(SOCKET client);
  // Waits, or less when the server stops; false when it stopped.
  bool Pause(DWORD ms) const;

  bool wsaStarted_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stopping_{false};
  HANDLE stopEvent_ = nullptr;  // set while stopping: ends the stalls' waits
  std::thread acceptThread_;

  mutable std::mutex mutex_;  // guards everything below
  std::map<std::string, std::shared_ptr<const HttpRoute>> routes_;
  std::vector<HttpRequest> requests_;
  std::vector<SOCKET> clients_;
  std::vector<std::thread> workers_;
};

}  // namespace testing_support
