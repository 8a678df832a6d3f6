#include "tests/support/HttpServer.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace testing_support {
namespace {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

bool SendAll(SOCKET socket, const char* data, size_t size) {
  while (size > 0) {
    const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
    const int sent = ::send(socket, data, chunk, 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Resets instead of closing gracefully: the peer sees the connection fail.
void ResetSocket(SOCKET socket) {
  linger abort = {1, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
               sizeof(abort));
  ::closesocket(socket);
}

// The path of a request target: the query cut off; a proxy request's absolute
// form ("http://host:port/path") gives its path part.
std::string PathOf(const std::string& target) {
  std::string path = target.substr(0, target.find('?'));
  const size_t scheme = path.find("://");
  if (scheme != std::string::npos && path[0] != '/') {
    const size_t slash = path.find('/', scheme + 3);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  return path;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Parses "GET /path HTTP/1.1\r\nName: value\r\n..." (the blank line cut off).
bool ParseRequest(const std::string& head, HttpRequest& request) {
  const size_t lineEnd = head.find("\r\n");
  const std::string line = head.substr(0, lineEnd);
  const size_t space1 = line.find(' ');
  const size_t space2 = line.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
  if (space1 == std::string::npos || space2 == std::string::npos) return false;
  request.method = line.substr(0, space1);
  request.target = line.substr(space1 + 1, space2 - space1 - 1);
  request.headers = lineEnd == std::string::npos ? std::string() : head.substr(lineEnd + 2);
  return true;
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find("\r\n", start);
    if (end == std::string::npos) end = headers.size();
    const std::string line = headers.substr(start, end - start);
    const size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsNoCase(line.substr(0, colon), name)) {
      size_t value = colon + 1;
      while (value < line.size() && line[value] == ' ') ++value;
      return line.substr(value);
    }
    start = end + 2;
  }
  return std::string();
}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start() {
  if (listener_ != INVALID_SOCKET) return true;
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  wsaStarted_ = true;
  listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // the system picks a free port
  int length = sizeof(address);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, SOMAXCONN) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return false;
  }
  port_ = ntohs(address.sin_port);
  stopping_ = false;
  if (!stopEvent_) stopEvent_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(stopEvent_);
  acceptThread_ = std::thread(&HttpServer::AcceptLoop, this);
  return true;
}

void HttpServer::Stop() {
  if (listener_ != INVALID_SOCKET) {
    stopping_ = true;
    if (stopEvent_) ::SetEvent(stopEvent_);
    // Closing the listener ends the blocked accept.
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Wakes workers blocked in recv or send; they close their sockets.
      for (SOCKET client : clients_) ::shutdown(client, SD_BOTH);
      workers.swap(workers_);
    }
    for (auto& worker : workers) worker.join();
  }
  if (wsaStarted_) {
    ::WSACleanup();
    wsaStarted_ = false;
  }
  if (stopEvent_) {
    ::CloseHandle(stopEvent_);
    stopEvent_ = nullptr;
  }
}

bool HttpServer::Pause(DWORD ms) const {
  if (ms == 0) return !stopping_;
  return ::WaitForSingleObject(stopEvent_, ms) == WAIT_TIMEOUT;
}

std::string HttpServer::BaseUrl() const {
  char text[64];
  std::snprintf(text, sizeof(text), "http://127.0.0.1:%u", static_cast<unsigned>(port_));
  return text;
}

std::string HttpServer::Url(const std::string& path) const { return BaseUrl() + path; }

void HttpServer::SetRoute(const std::string& path, HttpRoute route) {
  auto shared = std::make_shared<const HttpRoute>(std::move(route));
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = std::move(shared);
}

void HttpServer::Serve(const std::string& path, std::string body) {
  HttpRoute route;
  route.body = std::move(body);
  SetRoute(path, std::move(route));
}

void HttpServer::ServeStatus(const std::string& path, int status) {
  HttpRoute route;
  route.status = status;
  route.body = std::to_string(status) + " " + ReasonPhrase(status) + "\n";
  SetRoute(path, std::move(route));
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t HttpServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(requests_.begin(), requests_.end(),
                                           [&](const HttpRequest& r) {
                                             return PathOf(r.target) == path;
                                           }));
}

void HttpServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

void HttpServer::AcceptLoop() {
  for (;;) {
    SOCKET client = ::accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) {
      if (stopping_) return;
      ::Sleep(10);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      ::closesocket(client);
      return;
    }
    clients_.push_back(client);
    workers_.emplace_back(&HttpServer::HandleConnection, this, client);
  }
}

void HttpServer::Forget(SOCKET client) {
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void HttpServer::HandleConnection(SOCKET client) {
  std::string received;
  char buffer[4096];
  size_t headEnd = std::string::npos;
  while (headEnd == std::string::npos && received.size() < 65536) {
    const int got = ::recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
    headEnd = received.find("\r\n\r\n");
  }
  HttpRequest request;
  if (headEnd != std::string::npos && ParseRequest(received.substr(0, headEnd + 2), request)) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    Answer(client, request);  // closes the socket
  } else {
    ::closesocket(client);
  }
  Forget(client);
}

void HttpServer::Answer(SOCKET client, const HttpRequest& request) {
  std::shared_ptr<const HttpRoute> route;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = routes_.find(PathOf(request.target));
    if (found != routes_.end()) route = found->second;
  }
  if (!route) {
    HttpRoute missing;
    missing.status = 404;
    missing.body = "404 Not Found\n";
    route = std::make_shared<const HttpRoute>(std::move(missing));
  }
  if ((route->status == 401 || route->status == 407) && !route->acceptedCredentials.empty()) {
    // The body is for the request that brings the credentials; the others
    // get the status with a short text.
    auto answer = std::make_shared<HttpRoute>(*route);
    const char* header = route->status == 401 ? "Authorization" : "Proxy-Authorization";
    if (request.Header(header) == route->acceptedCredentials)
      answer->status = 200;
    else
      answer->body = std::to_string(route->status) + " " + ReasonPhrase(route->status) + "\n";
    route = std::move(answer);
  }
  const size_t earlier = RequestCount(PathOf(request.target)) - 1;
  const bool faultsDone = route->faultTimes >= 0 && earlier >= size_t(route->faultTimes);
  if (!route->etag.empty() || faultsDone) {
    auto answer = std::make_shared<HttpRoute>(*route);
    if (faultsDone) {
      answer->dropAfter = answer->stallAfter = -1;
      answer->answerDelayMs = 0;
    }
    if (!route->changedBody.empty() && earlier > 0) {
      answer->body = route->changedBody;
      answer->etag = route->etag.substr(0, route->etag.size() - 1) + "-changed\"";
    }
    if (!answer->etag.empty()) answer->extraHeaders += "ETag: " + answer->etag + "\r\n";
    const std::string range = request.Header("Range");
    const std::string ifRange = request.Header("If-Range");
    unsigned long long first = 0;
    if (answer->status == 200 && !answer->etag.empty() && range.rfind("bytes=", 0) == 0 &&
        range.back() == '-' && (ifRange.empty() || ifRange == answer->etag) &&
        (first = std::strtoull(range.c_str() + 6, nullptr, 10)) < answer->body.size()) {
      answer->extraHeaders += "Content-Range: bytes " + std::to_string(first) + "-" +
                              std::to_string(answer->body.size() - 1) + "/" +
                              std::to_string(answer->body.size()) + "\r\n";
      answer->body = answer->body.substr(static_cast<size_t>(first));
      answer->status = 206;
    }
    route = std::move(answer);
  }
  const HttpRoute& r = *route;
  if (r.answerDelayMs > 0 && !Pause(r.answerDelayMs)) {
    ::closesocket(client);
    return;
  }
  const long long announced =
      r.contentLength >= 0 ? r.contentLength : static_cast<long long>(r.body.size());
  std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + ReasonPhrase(r.status) +
                     "\r\nContent-Length: " + std::to_string(announced) +
                     "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
  if (r.status == 401) head += "WWW-Authenticate: Basic realm=\"Test\"\r\n";
  if (r.status == 407) head += "Proxy-Authenticate: Basic realm=\"Test\"\r\n";
  head += r.extraHeaders + "\r\n";

  bool ok = SendAll(client, head.data(), head.size());
  size_t toSend = r.body.size();
  const bool drop = r.dropAfter >= 0 && static_cast<size_t>(r.dropAfter) < toSend;
  if (drop) toSend = static_cast<size_t>(r.dropAfter);
  if (request.method == "HEAD") toSend = 0;
  const size_t piece = r.pieceSize > 0 ? r.pieceSize : toSend;
  const size_t stallAt = r.stallAfter >= 0 ? static_cast<size_t>(r.stallAfter) : toSend + 1;
  if (ok && stallAt == 0) ok = Pause(r.stallMs);
  for (size_t offset = 0; ok && offset < toSend;) {
    if (offset > 0 && r.pieceDelayMs > 0) ok = Pause(r.pieceDelayMs);
    size_t size = std::min(piece, toSend - offset);
    if (offset < stallAt && offset + size > stallAt) size = stallAt - offset;
    ok = ok && SendAll(client, r.body.data() + offset, size);
    offset += size;
    if (ok && offset == stallAt) ok = Pause(r.stallMs);
  }
  if (drop) {
    ResetSocket(client);
    return;
  }
  // A graceful end: no more sending, let the client read what is on its way,
  // then close.
  ::shutdown(client, SD_SEND);
  DWORD timeout = 2000;
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
  char scratch[512];
  while (::recv(client, scratch, sizeof(scratch), 0) > 0) {
  }
  ::closesocket(client);
}

}  // namespace testing_support
