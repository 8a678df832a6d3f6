#include "install/FileReplace.h"

#include "core/Error.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/TextFormat.h"
#include "frame/Handle.h"
#include "install/RestartWork.h"
#include "install/RunJournal.h"
#include "install/SideCopy.h"
#include "resources/StringIds.h"

namespace {

// Where the source position of the worker's file handling is logged.
const char kSourceUnit[] = "DownloadThread";
constexpr int kReadOnlyClearLine = 1525;

template <class... Args>
std::string FormatString(UINT id, Args... args) {
  return FormatText(LoadResString(id).c_str(), args...);
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Clears only the read-only bit; false when that failed.
bool ClearReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD rest = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return ::SetFileAttributesA(path.c_str(), rest ? rest : FILE_ATTRIBUTE_NORMAL) != FALSE;
}

// An earlier run found the destination locked and left its copy waiting for
// the restart; this run could copy directly. The restart would put the older
// copy back over the newer file, and on the older family its "NUL" line
// deletes the destination first, so the waiting copy cannot simply go: it
// becomes the file just installed.
void RefreshEarlierPendingCopy(const std::string& destination, RunJournal* journal) {
  const std::string pending = PendingCopyName(destination);
  if (::GetFileAttributesA(pending.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ::SetFileAttributesA(pending.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::string kept;
  if (journal && journal->Active() && journal->KeepFile(pending, kept) != 0) {
    LogFormat("The waiting copy '%s' cannot be kept; it stays as it is.", pending.c_str());
    return;
  }
  if (const DWORD error = ReplaceByCopy(destination, pending)) {
    LogFormat("CopyFile failed to copy file '%s' to the file '%s'. Error 0x0%x.",
              destination.c_str(), pending.c_str(), static_cast<unsigned>(error));
  } else {
    LogFormat("File '%s' also replaces the copy '%s' that waits for the restart.",
              destination.c_str(), pending.c_str());
  }
}

}  // namespace

bool IsFileLocked(const std::string& path) {
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  frame::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file.valid();
}

DWORD ReplaceInstalledFile(const std::string& destination, const std::string& extracted,
                           InstallState& state, ExtractedFileUse use) {
  const char* d = destination.c_str();
  const char* e = extracted.c_str();

  DWORD attributeError = 0;
  if (IsReadOnly(destination)) {
    LogFormat("File '%s' is read-only. Trying to remove read-only attribute...\n", d);
    if (ClearReadOnly(destination)) {
      LogFormat("Succeeded to remove file '%s' read-only attribute.\n", d);
    } else {
      attributeError = LastErrorCode();
      LogFormat("SetFileAttributes failed for the file '%s'. Error 0x0%x. File %s, line %d\n", d,
                static_cast<unsigned>(attributeError), kSourceUnit, kReadOnlyClearLine);
    }
  }
  if (IsReadOnly(extracted)) ClearReadOnly(extracted);

  if (!IsFileLocked(destination)) {
    LogWrite(FormatString(IDS_COPYING_FILE, e, d));
    if (IsReadOnly(destination)) {
      // Shown whatever the quiet option; the copy is tried all the same.
      AppMessageBox(FormatString(IDS_TARGET_READ_ONLY, d, static_cast<int>(attributeError)),
                    MB_OK | MB_ICONERROR);
    }
    ::SetFileAttributesA(e, FILE_ATTRIBUTE_NORMAL);
    // Beside the destination first: a copy that fails part-way (a full disk)
    // never leaves the installed file half-written.
    const bool keep = use == ExtractedFileUse::kNeededAgain;
    bool moved = false;
    // The installed file stays whole beside it until the run has ended well.
    if (state.journal && state.journal->Active()) {
      std::string kept;
      if (::GetFileAttributesA(d) == INVALID_FILE_ATTRIBUTES) {
        state.journal->AddedFile(destination);
      } else if (const DWORD error = state.journal->KeepFile(destination, kept)) {
        const std::string text = FormatString(IDS_COPY_FAILED, e, d, static_cast<int>(error));
        LogWrite(text);
        state.errorText += text;
        return error;
      }
    }
    if (const DWORD error = keep ? ReplaceByCopy(extracted, destination)
                                 : ReplaceByMove(extracted, destination, moved)) {
      const std::string text = FormatString(IDS_COPY_FAILED, e, d, static_cast<int>(error));
      LogWrite(text);
      state.errorText += text;
      return error;
    }
    if (keep)
      LogFormat("Succeeded. The file '%s' is kept for another destination.", e);
    else
      LogWrite(FormatString(IDS_COPY_SUCCEEDED, e));
    ::SetFileAttributesA(d, FILE_ATTRIBUTE_NORMAL);
    RefreshEarlierPendingCopy(destination, state.journal);
    // A delete an earlier run left for the restart would take the new file.
    WithdrawPendingDeletes(destination);
    if (!keep && !moved && !::DeleteFileA(e)) {
      // The temporary file is removed with the others when the program ends.
      const std::string text =
          FormatString(IDS_DELETE_TEMP_FAILED, static_cast<int>(LastErrorCode()));
      LogWrite(text);
      state.errorText += text;
    }
    return 0;
  }

  LogFormat("File '%s' is locked. The file update is delayed until reboot.", d);
  state.rebootRequired = 1;
  // Before this run's own lines: an earlier run's delete must not come first.
  WithdrawPendingDeletes(destination);
  // The start-up processing of the older family deletes the old file before
  // it renames the new one into place; both lines go in together or not at all.
  if (const DWORD error = DeferReplacement(extracted, destination, IsFileLocked(destination),
                                           use == ExtractedFileUse::kNeededAgain, state.journal))
    return error;
  state.pendingInstalls.erase(destination);
  return 0;
}
