// The download-and-install worker of one installation run. Phase 1 fetches
// every cabinet the chosen components need (once each), runs packages as they
// arrive, writes each component's registry lines and version record, and
// unpacks every cabinet into a folder of its own; a cabinet that will not
// unpack ends the run there, before anything installed is touched. Phase 2
// deletes the files marked for deleting, puts every pending file into place
// (deferring locked ones to the restart), registers servers, runs hooks and
// ends with the completion sequence.
//
// The progress dialog belongs to the thread that made the object; the worker
// reaches it only through window messages and its cancel flag.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Component.h"
#include "frame/Handle.h"
#include "install/CabinetUnpacker.h"
#include "install/InstallRun.h"
#include "install/InstallState.h"
#include "install/RunJournal.h"
#include "transfer/ProgressDialog.h"

class CompletionDialog;
class TransferFile;
class TransferSession;

class CDownloadThread {
 public:
  // Creates the progress dialog on the calling thread: shown, or hidden in
  // Setup mode with the quiet option.
  explicit CDownloadThread(std::vector<Component> components);
  // Deletes the downloads of a cancelled run; destroys the progress dialog.
  ~CDownloadThread();
  CDownloadThread(const CDownloadThread&) = delete;
  CDownloadThread& operator=(const CDownloadThread&) = delete;

  bool HasProgressWindow() const;
  // The worker's main procedure: 0 or an error code; flags and error text
  // stay in state.
  DWORD Run();

  frame::ScopedHandle thread;
  DWORD threadId = 0;
  ProgressDialog progress;
  InstallState state;
  // A download location (sFile) -> the temporary file that holds it.
  std::map<std::string, std::string> downloadedCabinets;

 private:
  struct Connection {
    std::string host;
    TransferSession* session = nullptr;
  };

  bool Cancelled();
  DWORD DownloadPhase(bool& restartHost);
  DWORD DownloadComponent(const Component& component, std::vector<std::string>& handled,
                          std::vector<std::string>& markedForDeleting,
                          std::vector<Connection>& connections, uint32_t& bytesDone,
                          uint32_t total, bool& restartHost);
  DWORD ReceiveBody(TransferFile& remote, HANDLE local, unsigned long long& held,
                    uint32_t& bytesDone, uint32_t total, bool& retry);
  DWORD DownloadFile(TransferSession& session, const ComponentFile& file,
                     const std::string& destination, uint32_t& bytesDone, uint32_t total);
  DWORD PrepareFolder(const std::string& cabinet);
  DWORD UnpackDownloads();
  DWORD InstallPhase(bool restartHost);
  DWORD InstallFiles(CompletionDialog& completion);
  bool PackageRan(const ComponentFile& file) const;
  void FailForPackage(const Component& component, const ComponentFile& file);
  void FinishFailedRun(CompletionDialog& completion, DWORD error, const ManagerState& manager);
  void DeleteMarkedFiles(const std::vector<std::string>& markedForDeleting);
  void CloseProgressWindow();

  // Puts back what the run changed when it fails or is cancelled; says
  // whether everything was put back (what was not goes to the log, and the
  // user's sentence to restoreText_).
  bool RestoreInstallation();
  void SummarizeRun();

  HWND progressWindow_ = nullptr;
  RunJournal journal_;
  // What the restore of a failed run did, for the user (empty: no restore).
  std::string restoreText_;
  // Files put in place (false) or left for the restart (true), in order.
  std::vector<std::pair<std::string, bool>> installedFiles_;
  std::vector<std::string> markedForDeleting_;
  std::vector<std::string> unpacked_;  // cabinets unpacked into their folders
  CabinetUnpacker unpacker_;
};

// The folder a downloaded cabinet is unpacked into: its own, so that members
// of two cabinets that share a name never meet.
std::string CabinetFolder(const std::string& cabinet);

// The worker thread's procedure: CDownloadThread::Run under the exception
// guards (a fault is logged, shown unless quiet, and gives -1).
DWORD WINAPI StartDownloadThread(void* downloadThread);
