// The download phase: every cabinet the chosen components need, fetched
// once each, packages run as they arrive, the components' registry lines and
// version records, and every cabinet unpacked into a folder of its own.
#include <algorithm>
#include <vector>

#include "catalog/ComponentStatus.h"
#include "catalog/DownloadSize.h"
#include "catalog/InstalledState.h"
#include "catalog/RegistryEntry.h"
#include "catalog/TargetPath.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/RunSummary.h"
#include "core/TextFormat.h"
#include "install/DownloadThread.h"
#include "install/ExtractCabinet.h"
#include "install/Hooks.h"
#include "install/RunJournal.h"
#include "install/TempFileList.h"
#include "install/WorkerCommon.h"
#include "install/cab/MemberName.h"
#include "resources/StringIds.h"
#include "transfer/ConnectionManager.h"
#include "transfer/CrackUrl.h"
#include "transfer/TransferError.h"
#include "transfer/TransferSession.h"
#include "transfer/UrlResolution.h"

using namespace worker;

namespace {

// A download's reads gather into steps (below), one progress message and one
// cancel check per step; a step ends when less than this is left free in its
// buffer. A read itself may be as small as one byte.
constexpr DWORD kChunkSize = 2000;
// A download cut short is asked for again this many times at most, after
// these pauses.
constexpr int kDownloadRetries = 3;
constexpr DWORD kRetryPauseMs[kDownloadRetries] = {1000, 2000, 4000};

int DistinctDownloads(const std::vector<ComponentFile>& work) {
  std::vector<std::string> seen;
  for (const ComponentFile& file : work)
    if (!Contains(seen, file.sFile)) seen.push_back(file.sFile);
  return static_cast<int>(seen.size());
}


}  // namespace

std::vector<ComponentFile> worker::WorkList(const Component& component) {
  std::vector<ComponentFile> work;
  for (const ComponentFile& file : component.files)
    if (NeedsUpdate(file)) work.push_back(file);
  for (const ComponentHook& hook : component.hooks)
    if (IsSetupMode() || HookNeedsRun(hook)) work.push_back(hook);
  return work;
}

// Receives the body of `remote` into `local` from where it stands, counting
// what arrives in `held` and the progress. 0 at the body's end or after a
// Cancel (state.cancelled says which); else the error, and `retry` says
// whether the network failed (a cut or a silence: worth another try) rather
// than the local file.
DWORD CDownloadThread::ReceiveBody(TransferFile& remote, HANDLE local, unsigned long long& held,
                                   uint32_t& bytesDone, uint32_t total, bool& retry) {
  // Only a read of 0 bytes ends the transfer; the transfer layer fails a read
  // when the server sent less than it announced, or after the network was
  // silent for its limit. The cost of a download is per progress message
  // more than per read, so each step gathers what has already arrived, read
  // after read, until the buffer is nearly full or kStepMs have passed: a
  // fast line gets large writes and few progress messages, a slow one still
  // sees its progress after every step. A read never asks for more than has
  // arrived (a read returns only once it has all it asked for, which on a
  // line turned slow could take hours): each wait is bounded by the
  // network's silence limit. Cancel does not wait for a read: the transfer
  // layer ends it.
  constexpr DWORD kBufferSize = 256 * 1024;
  constexpr DWORD kStepMs = 50;
  std::vector<char> buffer(kBufferSize);
  bool ended = false;
  while (!ended) {
    const DWORD stepStart = ::GetTickCount();
    DWORD got = 0;
    DWORD readError = 0;
    do {
      // What has arrived (Available waits, bounded, until something has);
      // at least one byte, which at the end returns the end at once.
      const DWORD size = std::min(std::max(remote.Available(), DWORD{1}), kBufferSize - got);
      DWORD piece = 0;
      if (!remote.Read(buffer.data() + got, size, &piece)) {
        if (Cancelled()) break;  // the transfer ended its read for the Cancel
        readError = NonZero(GetLastTransferError());
        break;
      }
      got += piece;
      ended = piece == 0;
    } while (!ended && kBufferSize - got >= kChunkSize && ::GetTickCount() - stepStart < kStepMs);
    if (state.cancelled) return 0;
    // What arrived before a failed read is kept: a second request goes on
    // after it.
    DWORD written = 0;
    if (got && (!::WriteFile(local, buffer.data(), got, &written, nullptr) || written != got)) {
      retry = false;
      return LastErrorCode();
    }
    held += got;
    bytesDone += got;
    TheRunSummary().AddBytes(got);
    if (got && HasProgressWindow()) ProgressDialog::SendBytes(progressWindow_, bytesDone, total);
    if (readError) {
      retry = true;
      return readError;
    }
    if (Cancelled()) return 0;
  }
  return 0;
}

DWORD CDownloadThread::DownloadFile(TransferSession& session, const ComponentFile& file,
                                    const std::string& destination, uint32_t& bytesDone,
                                    uint32_t total) {
  // The progress dialog's Cancel ends the transfer's waits at once.
  std::unique_ptr<TransferFile> remote =
      session.OpenFile(progressWindow_, file.sFile, &progress.CancelSignal());
  if (!remote) {
    if (Cancelled()) {
      LogWrite("Operation cancelled.");
      return 0;
    }
    return NonZero(GetLastTransferError());
  }

  const std::string temporary = MakeTempFileName();
  if (temporary.empty()) return LastErrorCode();
  TheTempFileList().Add(temporary);
  frame::ScopedFile local(::CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!local) {
    const DWORD error = LastErrorCode();
    remote->CloseIfOpen();
    return error;
  }
  LogFormat("Downloading file '%s' to temporary file '%s'...", file.sFile.c_str(),
            temporary.c_str());

  // A body cut short is asked for again from where it stopped, a few times
  // with growing pauses; a server that cannot continue it (no validator, no
  // range, a changed file) sends it whole. Whatever arrives, the cabinet's
  // own checksums decide at the unpacking whether it is right.
  ResumePoint point;
  point.validator = remote->Validator();
  point.total = remote->BodyLength();
  const uint32_t doneBefore = bytesDone;
  for (int retries = 0;;) {
    bool retry = false;
    DWORD error = 0;
    if (remote) {
      error = ReceiveBody(*remote, local.get(), point.offset, bytesDone, total, retry);
      if (error) remote->CloseIfOpen();
    } else {
      error = NonZero(GetLastTransferError());
      retry = !Cancelled();
    }
    if (!error || state.cancelled) break;
    if (!retry || retries == kDownloadRetries) return error;
    const DWORD pauseMs = kRetryPauseMs[retries++];
    LogFormat("The download of '%s' stopped after %s bytes. Error 0x0%x. It is asked for again "
              "after a pause of %u s (%d of %d).",
              file.sFile.c_str(), std::to_string(point.offset).c_str(),
              static_cast<unsigned>(error), static_cast<unsigned>(pauseMs / 1000), retries,
              kDownloadRetries);
    // Cancel ends the pause at once.
    const HANDLE cancel = progress.CancelSignal().Event();
    if (cancel ? ::WaitForSingleObject(cancel, pauseMs) == WAIT_OBJECT_0
               : (::Sleep(pauseMs), false)) {
      Cancelled();
      break;
    }
    if (Cancelled()) break;
    // A partial answer that does not continue this file asks for it whole.
    if (!remote && GetLastTransferError() == ERROR_INVALID_DATA) point.validator.clear();
    remote = session.OpenFile(progressWindow_, file.sFile, &progress.CancelSignal(), &point);
    if (!remote) continue;
    if (remote->BodyOffset() == point.offset) {
      LogFormat("The server goes on with '%s' at byte %s.", file.sFile.c_str(),
                std::to_string(point.offset).c_str());
      continue;
    }
    // The whole file comes: what was held goes.
    LogFormat("The server sends '%s' whole again.", file.sFile.c_str());
    if (::SetFilePointer(local.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::SetEndOfFile(local.get())) {
      const DWORD localError = LastErrorCode();
      remote->CloseIfOpen();
      return localError;
    }
    bytesDone = doneBefore;
    point.offset = 0;
    point.validator = remote->Validator();
    point.total = remote->BodyLength();
  }
  if (remote) remote->Close();
  if (state.cancelled) {
    LogWrite("Operation cancelled.");
    // Half a download is of no use to anyone; it goes at once.
    local.reset();
    ::DeleteFileA(temporary.c_str());
    return 0;
  }
  LogWrite("Done.");
  downloadedCabinets[file.sFile] = temporary;
  local.reset();

  if (file.sPackage.empty()) {
    state.pendingInstalls[destination] = temporary;
    // Unpacked while the next cabinets download.
    if (const DWORD error = PrepareFolder(temporary)) return error;
    unpacker_.Queue(temporary, CabinetFolder(temporary));
    return 0;
  }
  // The cabinet carries a package: unpacked beside the download, then run.
  const std::string folder = CabinetFolder(temporary);
  if (!cab::IsSafeMemberName(file.sPackage)) {
    LogFormat("Refusing to run package '%s': the name leaves the cabinet's folder.",
              file.sPackage.c_str());
    return 0;
  }
  if (const DWORD error = PrepareFolder(temporary)) return error;
  if (ExtractCabinetTo(temporary, folder, nullptr)) {
    unpacked_.push_back(temporary);
    state.programsRun.push_back(folder + file.sPackage);
    return LaunchPackage(folder + file.sPackage, file.sCmdLine);
  }
  ReportBadCabinet(temporary, nullptr);
  return 0;  // the run goes on without the package
}

DWORD CDownloadThread::DownloadComponent(const Component& component,
                                         std::vector<std::string>& handled,
                                         std::vector<std::string>& markedForDeleting,
                                         std::vector<Connection>& connections,
                                         uint32_t& bytesDone, uint32_t total,
                                         bool& restartHost) {
  for (const ComponentFile& doomed : component.deleteFiles) {
    const std::string path = TargetPath(doomed);
    if (path.empty() || Contains(markedForDeleting, path)) continue;
    markedForDeleting.push_back(path);
    LogFormat("Adding component '%s' file '%s' to the list of files to delete...",
              component.sName.c_str(), path.c_str());
  }
  // A cancel between components: nothing more of this run is recorded.
  if (Cancelled()) return 0;
  LogFormat("Installing component '%s'...", component.sName.c_str());

  const std::vector<ComponentFile> work = WorkList(component);
  const int downloads = DistinctDownloads(work);
  if (!work.empty() && component.bRequiresPMClosed) restartHost = true;

  int number = 0;
  for (const ComponentFile& file : work) {
    if (Cancelled()) return 0;
    if (Contains(handled, file.sName)) {
      // Handled for an earlier component: this one shares its outcome.
      if (!file.sPackage.empty() && !PackageRan(file)) FailForPackage(component, file);
      continue;
    }
    // An unsafe name or folder gives no destination; TargetPath logged it.
    const std::string destination = TargetPath(file);
    if (destination.empty()) continue;

    const auto downloaded = downloadedCabinets.find(file.sFile);
    if (downloaded != downloadedCabinets.end()) {
      // A package is run once per cabinet, and its file is not put into
      // place; whoever lists it again shares how it went.
      if (!file.sPackage.empty()) {
        if (!PackageRan(file)) FailForPackage(component, file);
      } else {
        state.pendingInstalls[destination] = downloaded->second;
      }
    } else {
      ++number;
      if (HasProgressWindow())
        ProgressDialog::PostCurrentItem(progressWindow_, component.sName,
                                        LastPathElement(file.sFile) +
                                            FormatText(LoadResString(IDS_FILE_COUNT).c_str(), number, downloads));
      std::string host, path, scheme;
      WORD port = 0;
      if (!IsSourceAllowed(file.sFile, CatalogueUrl())) return ERROR_ACCESS_DENIED;
      if (!CrackUrl(file.sFile, host, path, &scheme, &port))
        return NonZero(GetLastTransferError());
      auto connection = std::find_if(connections.begin(), connections.end(),
                                     [&](const Connection& c) { return c.host == host; });
      if (connection == connections.end()) {
        TransferSession* session =
            ConnectionManager::Acquire(host, ServiceForScheme(scheme), port);
        if (!session) return NonZero(GetLastTransferError());
        connections.push_back({host, session});
        connection = connections.end() - 1;
      }
      if (Cancelled()) return 0;
      if (const DWORD error =
              DownloadFile(*connection->session, file, destination, bytesDone, total)) {
        // A package fetched but not started ends the run here, unrecorded.
        if (!file.sPackage.empty() && downloadedCabinets.count(file.sFile))
          LogFormat("Component '%s' is not installed: the package '%s' of '%s' could not be "
                    "started. Error 0x0%x. The installation ends here; its version is not "
                    "recorded.",
                    component.sName.c_str(), file.sPackage.c_str(), file.sFile.c_str(),
                    static_cast<unsigned>(error));
        return error;
      }
      if (!file.sPackage.empty() && !state.cancelled && !PackageRan(file))
        FailForPackage(component, file);
    }
    handled.push_back(file.sName);
    if (Cancelled()) return 0;
    if (file.bOLESelfRegistered) state.modulesToRegister.push_back(destination);
  }

  // Their results do not stop the run.
  // What each line changes is recorded first, for a restore.
  for (const RegistryEntry& entry : component.addRegistry) {
    if (const HKEY root = RegistryRootKey(entry.root))
      journal_.RegistryValue(root, entry.subkey, entry.name);
    entry.ApplyAdd();
  }
  for (const RegistryEntry& entry : component.deleteRegistry) {
    const HKEY root = RegistryRootKey(entry.root);
    if (root && !entry.name.empty()) journal_.RegistryTree(root, entry.subkey + "\\" + entry.name);
    if (root) journal_.RegistryValue(root, entry.subkey, entry.name);
    entry.ApplyDelete();
  }
  if (Contains(state.failedComponents, component.sName)) return 0;
  // The version is recorded once the installation phase has put it all in place.
  LogFormat("Done installing component '%s'...", component.sName.c_str());
  return 0;
}

// A package's cabinet is listed as unpacked only once it unpacked and its
// program may be started; a refused or undecodable one was never run.
bool CDownloadThread::PackageRan(const ComponentFile& file) const {
  const auto downloaded = downloadedCabinets.find(file.sFile);
  return downloaded != downloadedCabinets.end() && Contains(unpacked_, downloaded->second);
}

// A package that did not run (its cabinet would not unpack, or its name was
// refused; the lines before say which) fails its component alone: recorded,
// it would never be offered again. The other components go on.
void CDownloadThread::FailForPackage(const Component& component, const ComponentFile& file) {
  LogFormat("Component '%s' is not installed: the package '%s' of '%s' did not run. Its "
            "version is not recorded.",
            component.sName.c_str(), file.sPackage.c_str(), file.sFile.c_str());
  if (!Contains(state.failedComponents, component.sName))
    state.failedComponents.push_back(component.sName);
}

DWORD CDownloadThread::DownloadPhase(bool& restartHost) {
  const uint32_t total = SelectionDownloadSize(state.components, false);
  std::vector<std::string> handled;
  std::vector<Connection> connections;
  uint32_t bytesDone = 0;
  DWORD result = 0;
  for (const Component& component : state.components) {
    result = DownloadComponent(component, handled, markedForDeleting_, connections, bytesDone,
                               total, restartHost);
    if (result != 0 || state.cancelled) break;
  }
  for (const Connection& connection : connections) ConnectionManager::Release(connection.host);
  return result;
}

// The folder a downloaded cabinet is unpacked into, made and listed for
// deleting at the exit.
DWORD CDownloadThread::PrepareFolder(const std::string& cabinet) {
  const std::string folder = CabinetFolder(cabinet);
  if (!::CreateDirectoryA(folder.c_str(), nullptr)) {
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return LastErrorCode();
    return 0;
  }
  TheTempFileList().Add(folder);
  return 0;
}

// Every cabinet waiting to be installed is unpacked by now (most of them
// while the others downloaded), while nothing installed has been touched:
// one that will not decode ends the run here.
DWORD CDownloadThread::UnpackDownloads() {
  const std::map<std::string, CabinetUnpacker::Outcome> outcomes = unpacker_.Finish();
  for (const auto& pending : state.pendingInstalls) {
    const std::string& cabinet = pending.second;
    const std::string folder = CabinetFolder(cabinet);
    if (!Contains(unpacked_, cabinet)) {
      const auto outcome = outcomes.find(cabinet);
      bool unpacked = false;
      if (outcome != outcomes.end()) {
        unpacked = outcome->second.unpacked;
        ::SetLastError(outcome->second.error);
      } else {
        if (const DWORD error = PrepareFolder(cabinet)) return error;
        unpacked = ExtractCabinetTo(cabinet, folder, nullptr) != 0;
      }
      if (!unpacked) {
        DWORD error = 0;
        state.errorText = ReportBadCabinet(cabinet, &error);
        return error;
      }
      unpacked_.push_back(cabinet);
    }
    // A cabinet that decodes but lacks a file it should carry is as bad.
    const std::string member = folder + LastPathElement(pending.first);
    if (::GetFileAttributesA(member.c_str()) == INVALID_FILE_ATTRIBUTES) {
      LogFormat("The cabinet file '%s' does not hold the file '%s'.", cabinet.c_str(),
                LastPathElement(pending.first).c_str());
      state.errorText = FormatText(LoadResString(IDS_CABINET_CORRUPTED).c_str(), cabinet.c_str());
      if (!IsQuiet()) AppMessageBox(state.errorText, MB_OK | MB_ICONHAND, MessageCaptionId());
      return ERROR_FILE_NOT_FOUND;
    }
  }
  return 0;
}
