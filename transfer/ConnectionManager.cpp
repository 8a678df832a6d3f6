#include "transfer/ConnectionManager.h"

#include <map>
#include <memory>
#include <mutex>

#include "core/Log.h"
#include "transfer/FileSession.h"
#include "transfer/InternetSession.h"
#include "transfer/TransferError.h"

namespace {

struct SessionTable {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<TransferSession>> sessions;  // by exact host text
};

// Never destroyed: sessions left open at exit must not be closed after the
// WinInet binding has released the library.
SessionTable& Table() {
  static SessionTable* table = new SessionTable;
  return *table;
}

}  // namespace

TransferSession* ConnectionManager::Acquire(const std::string& host, DWORD service, WORD port,
                                            const char* user, const char* password) {
  SessionTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.sessions.find(host);
  if (found != table.sessions.end()) {
    found->second->AddRef();
    return found->second.get();
  }

  std::unique_ptr<TransferSession> session;
  if (service == kServiceHttp) {
    session = std::make_unique<InternetSession>();
  } else if (service == kServiceFile) {
    session = std::make_unique<FileSession>();
  } else {
    SetLastTransferError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    if (service == kServiceFtp) {
      LogFormat("FTP is not supported: no session for the server '%s'. Error 0x0%x. File %s, "
                "Line %d.",
                host.c_str(), static_cast<unsigned>(ERROR_INTERNET_UNRECOGNIZED_SCHEME),
                kTransferSource, __LINE__);
    } else {
      LogFormat("Unknown service %u: no session for the server '%s'. Error 0x0%x. File %s, "
                "Line %d.",
                static_cast<unsigned>(service), host.c_str(),
                static_cast<unsigned>(ERROR_INTERNET_UNRECOGNIZED_SCHEME), kTransferSource,
                __LINE__);
    }
    return nullptr;
  }
  if (!session->Open(host, service, port, user, password)) return nullptr;
  session->AddRef();
  TransferSession* result = session.get();
  table.sessions.emplace(host, std::move(session));
  return result;
}

int ConnectionManager::Release(const std::string& host) {
  SessionTable& table = Table();
  std::unique_ptr<TransferSession> closing;
  {
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.sessions.find(host);
    if (found == table.sessions.end()) return -1;
    const LONG left = found->second->ReleaseRef();
    if (left > 0) return static_cast<int>(left);
    closing = std::move(found->second);
    table.sessions.erase(found);
  }
  closing->Close();
  return 0;
}
