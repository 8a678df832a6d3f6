#include "install/DownloadThread.h"

#include <utility>
#include <vector>

#include "core/Error.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/RunSummary.h"
#include "frame/Handle.h"
#include "install/ExtractCabinet.h"
#include "install/WorkerCommon.h"
#include "resources/StringIds.h"

namespace {

// How often the worker looks whether the progress window has gone.
constexpr DWORD kWindowPollMs = 20;
// Where faults of the worker are logged from.
const char kSourceUnit[] = "DownloadThread";
constexpr int kErrorLine = 298;
constexpr int kUnhandledLine = 310;

// The members unpacked into a cabinet's folder, and the folder itself.
void DeleteUnpackedFolder(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  frame::ScopedFind find(::FindFirstFileA((folder + "*").c_str(), &entry));
  if (!find) return;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string path = folder + entry.cFileName;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
  } while (::FindNextFileA(find.get(), &entry));
  find.reset();
  ::RemoveDirectoryA(folder.c_str());
}

}  // namespace

// A cabinet that would not unpack: the user is told (unless quiet) and the
// text is what CheckCabinet found. The last error is read before anything
// else can change it.
std::string worker::ReportBadCabinet(const std::string& cabinet, DWORD* error) {
  if (error) *error = LastErrorCode();
  const std::string message = CheckCabinet(cabinet);
  if (!IsQuiet())
    AppMessageBox(message.empty() ? LoadResString(IDS_CATASTROPHIC_FAILURE) : message,
                  MB_OK | MB_ICONHAND, MessageCaptionId());
  return message;
}

std::string CabinetFolder(const std::string& cabinet) { return cabinet + ".d\\"; }

CDownloadThread::CDownloadThread(std::vector<Component> components) {
  state.components = std::move(components);
  // The dialog shows itself, except in a quiet Setup run.
  if (progress.Create(nullptr)) progressWindow_ = progress.hwnd();
}

CDownloadThread::~CDownloadThread() {
  // Nothing is unpacked into the folders while they are deleted.
  unpacker_.Stop();
  // A run that ended by a fault neither kept nor restored what it changed.
  if (journal_.Active()) {
    LogWrite("The run ended by a fault: what it changed is put back.");
    journal_.Restore();
  }
  if (progress.IsCancelled() || state.cancelled) {
    // Nothing of a cancelled run is kept: its downloads go now, not at exit.
    for (const auto& download : downloadedCabinets) {
      ::SetFileAttributesA(download.second.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileA(download.second.c_str());
      DeleteUnpackedFolder(CabinetFolder(download.second));
    }
  }
  progress.Destroy();
}

bool CDownloadThread::HasProgressWindow() const {
  return progressWindow_ && ::IsWindow(progressWindow_);
}

bool CDownloadThread::Cancelled() {
  if (!progress.IsCancelled()) return false;
  state.cancelled = 1;
  return true;
}

void CDownloadThread::CloseProgressWindow() {
  if (!HasProgressWindow()) return;
  ::PostMessageA(progressWindow_, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
  while (HasProgressWindow()) ::Sleep(kWindowPollMs);
}

DWORD CDownloadThread::Run() {
  // Everything the run changes is recorded first; without a journal the run
  // goes on as one whose failure cannot be undone.
  if (journal_.Begin()) state.journal = &journal_;
  bool restartHost = false;
  DWORD result = DownloadPhase(restartHost);
  // What is still queued would only be deleted again.
  if (state.cancelled || result != 0) unpacker_.Stop();
  if (!result && !state.cancelled) result = UnpackDownloads();
  if (!result && !state.cancelled && !Cancelled()) return InstallPhase(restartHost);
  // Nothing installed is touched yet: only the registry lines are put back.
  RestoreInstallation();
  if (state.cancelled) {
    TheRunSummary().MarkCancelled();
    CloseProgressWindow();
    return 0;
  }
  TheRunSummary().SetError(result, state.errorText);
  const std::string reason = state.errorText.empty()
                                 ? "error " + std::to_string(static_cast<unsigned long>(result))
                                 : state.errorText;
  for (const Component& component : state.components)
    TheRunSummary().SetAction(component.sName, "failed", reason);
  return result;
}

DWORD WINAPI StartDownloadThread(void* downloadThread) {
  auto* worker = static_cast<CDownloadThread*>(downloadThread);
  try {
    return worker->Run();
  } catch (const CError& error) {
    LogFormat("Error %s in file %s, line %d\n", error.Description().c_str(), kSourceUnit,
              kErrorLine);
    if (!IsQuiet()) error.Show();
  } catch (...) {
    LogFormat("Unhandled exception in file %s, line %d\n", kSourceUnit, kUnhandledLine);
    if (!IsQuiet()) AppMessageBox(IDS_INTERNAL_ERROR, MB_OK | MB_ICONSTOP, IDS_CAPTION_INSTALL);
  }
  return static_cast<DWORD>(-1);
}
