#include "app/ConnectDialog.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "core/TextFormat.h"
#include "catalog/ComponentCatalog.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/MessageTable.h"
#include "core/Resources.h"
#include "frame/Module.h"
#include "install/ExtractCabinet.h"
#include "install/TempFileList.h"
#include "resources/ConnectIds.h"
#include "resources/StringIds.h"
#include "transfer/ConnectionManager.h"
#include "transfer/CrackUrl.h"
#include "transfer/FileSession.h"
#include "transfer/TransferError.h"
#include "transfer/TransferSession.h"

namespace {

constexpr char kSource[] = "ConnectDlg";
constexpr char kCabinetName[] = "PM_Install.cab";
constexpr char kCatalogueName[] = "PM Install1.INF";
constexpr int kMarkerWidth = 14;
constexpr int kMarkerHeight = 9;
// The fetch lets its last step show for a moment before the dialog closes.
constexpr DWORD kLastStepPauseMs = 500;

constexpr int kMarkers[] = {IDC_CONNECT_MARKER1, IDC_CONNECT_MARKER2, IDC_CONNECT_MARKER3,
                            IDC_CONNECT_MARKER4};
constexpr int kStepTexts[] = {IDC_CONNECT_STEP1, IDC_CONNECT_STEP2, IDC_CONNECT_STEP3,
                              IDC_CONNECT_STEP4};

HICON LoadIconSized(UINT id, int width, int height) {
  return static_cast<HICON>(::LoadImageA(frame::TheModule().Instance(), MAKEINTRESOURCEA(id),
                                         IMAGE_ICON, width, height, 0));
}

std::string ControlText(HWND dialog, int id) {
  char text[512] = "";
  ::GetDlgItemTextA(dialog, id, text, sizeof(text));
  return text;
}

void ClearReadOnly(const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The picture's file name: the part of the "Image" value after its last
// separator. The files are deleted when the run ends, so a name that could
// lead out of the program's folder ("..", a drive) is not taken.
std::string PictureFileName(const std::string& value) {
  const size_t slash = value.find_last_of("\\/");
  const std::string name = slash == std::string::npos ? value : value.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || name.find(':') != std::string::npos)
    return std::string();
  return name;
}

// A file URL names a cabinet that is read where it lies; it may be the
// program's own "PM_Install.cab", which must then be neither deleted before
// the fetch reads it nor after it is unpacked.
bool IsSourceOfUrl(const std::string& url, const std::string& cabinet) {
  std::string host, path, scheme, source;
  WORD port = 0;
  return CrackUrl(url, host, path, &scheme, &port) && ServiceForScheme(scheme) == kServiceFile &&
         LocalPathForUrl(url, source) && SameFile(source, cabinet);
}

// A failure that left the last error at 0 still has to read as a failure.
DWORD FailureCode(DWORD code) { return code ? code : ERROR_GEN_FAILURE; }

// A new folder of the fetch's own for the cabinet's members, on the
// temporary file list before them so that it goes after them; `reserved` is
// the temporary file the folder is named after, listed as well. "" with the
// reason logged and in `error`.
std::string UnpackFolder(DWORD& error, std::string& reserved) {
  const std::string base = MakeTempFileName();
  const std::string folder = base.empty() ? std::string() : base + ".d\\";
  if (base.empty() || !::CreateDirectoryA(folder.c_str(), nullptr)) {
    error = FailureCode(::GetLastError());
    LogFormat("Failed to create folder '%s'. Error 0x0%x.",
              (folder.empty() ? GetTempDir() : folder).c_str(), static_cast<unsigned>(error));
    if (!base.empty()) ::DeleteFileA(base.c_str());
    return std::string();
  }
  TheTempFileList().Add(base);
  TheTempFileList().Add(folder);
  reserved = base;
  return folder;
}

// The connection to the catalogue's host, released on every way out.
class HeldConnection {
 public:
  explicit HeldConnection(std::string host) : host_(std::move(host)) {}
  ~HeldConnection() {
    if (session_) ConnectionManager::Release(host_);
  }
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;

  TransferSession* Acquire(DWORD service, WORD port) {
    session_ = ConnectionManager::Acquire(host_, service, port, nullptr, nullptr);
    return session_;
  }

 private:
  std::string host_;
  TransferSession* session_ = nullptr;
};

}  // namespace

DWORD ConnectDialog::DownloadAndParse(TransferSession& session, const std::string& url) {
  // A dry run leaves the program's folder as it is: the cabinet goes to a
  // temporary file of its own.
  const std::string programDir = GetModuleDir();
  const std::string cabinet = IsDryRun() ? MakeTempFileName() : programDir + kCabinetName;
  if (cabinet.empty()) return FailureCode(::GetLastError());
  if (IsDryRun()) TheTempFileList().Add(cabinet);
  const bool ownCabinet = IsSourceOfUrl(url, cabinet);
  // What the local cabinet holds is deleted when it is done with, unless it
  // is the source itself.
  auto removeCabinet = [&] {
    if (!ownCabinet) ::DeleteFileA(cabinet.c_str());
  };
  ClearReadOnly(cabinet);
  removeCabinet();
  LogFormat("starting downloading cabinet initialization file '%s' into local file '%s'",
            url.c_str(), cabinet.c_str());

  const bool downloaded =
      session.DownloadToFile(fetchWindow_, url, cabinet, false, &cancel_) == 0;
  // Cancelled meanwhile: the user has been answered, nothing more is done.
  if (IsCancelled()) {
    removeCabinet();
    return 0;
  }
  // Cancel in the system's credential dialog is the user's cancel too: the
  // run ends as after the connect dialog's own Cancel, without an error box.
  if (!downloaded && GetLastTransferError() == ERROR_CANCELLED) {
    LogWrite("The catalogue download was cancelled in the credential dialog.");
    cancel_.Set();
    removeCabinet();
    // The connect dialog closes as after its own Cancel.
    if (fetchWindow_) ::PostMessageA(fetchWindow_, WM_COMMAND, IDOK, 0);
    return 0;
  }
  if (!downloaded) {
    const DWORD error = FailureCode(GetLastTransferError());
    errorText_ = FormatText(LoadResString(IDS_CATALOG_DOWNLOAD_FAILED).c_str(), url.c_str(),
                           static_cast<unsigned>(error), WinInetErrorText(error).c_str());
    LogWrite(errorText_);
    return error;
  }

  LogFormat("Point 2: file - \"%s\"", cabinet.c_str());
  ClearReadOnly(cabinet);
  // Unpacked into a fresh folder of its own, not beside the program: run
  // from "Bin\", a member named like an installed file (or the catalogue
  // itself, the copy kept for the uninstaller) would overwrite it and then
  // go with the temporary files. The kept copy is replaced only by a
  // catalogue that parsed and has components.
  // Only the catalogue is unpacked here: a check that offers nothing never
  // shows the pictures (UnpackPictures). The header and the catalogue member
  // are read, so a cabinet that does not unpack still ends the run here.
  DWORD error = 0;
  std::string reserved;
  const std::string folder = UnpackFolder(error, reserved);
  if (folder.empty()) {
    removeCabinet();
    return error;
  }
  const auto isCatalogue = [](const std::string& name) {
    return _stricmp(name.c_str(), kCatalogueName) == 0;
  };
  if (!ExtractCabinetTo(cabinet, folder, nullptr, isCatalogue)) {
    const std::string message = CheckCabinet(cabinet);
    if (!IsQuiet())
      AppMessageBox(message.empty() ? LoadResString(IDS_CATASTROPHIC_FAILURE) : message,
                    MB_OK | MB_ICONSTOP);
    return 0;  // the empty catalogue path ends the run
  }

  // The cabinet waits for the pictures as a temporary file, gone with the
  // others when the run ends; the program's own cabinet stays where it is.
  unpackFolder_ = folder;
  if (ownCabinet) {
    pictureCabinet_ = cabinet;
  } else if (::MoveFileExA(cabinet.c_str(), reserved.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    pictureCabinet_ = reserved;
  } else {
    LogFormat("Failed to move '%s' to '%s'; the component pictures will be missing. Error 0x0%x.",
              cabinet.c_str(), reserved.c_str(), static_cast<unsigned>(::GetLastError()));
    removeCabinet();
  }
  PostStep(2);
  const std::string extracted = folder + kCatalogueName;
  cataloguePath_ = extracted;
  if (::GetFileAttributesA(extracted.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = FailureCode(::GetLastError());
    const std::string message =
        FormatText(LoadResString(IDS_CATALOG_EXTRACT_FAILED).c_str(), extracted.c_str());
    LogWrite(message);
    if (!IsQuiet()) AppMessageBox(message, MB_OK | MB_ICONSTOP);
    return error;
  }

  const DWORD parsed = static_cast<DWORD>(LoadComponents(catalog_, extracted.c_str()));
  if (parsed != 0) return parsed;

  PostStep(3);
  if (catalog_.empty()) {
    LogWrite(LoadResString(IDS_CATALOG_NO_COMPONENTS));
    if (!IsQuiet()) AppMessageBox(IDS_CATALOG_NO_COMPONENTS, MB_OK | MB_ICONSTOP);
    return 2;
  }

  // The copy the uninstaller reads; a dry run keeps the one it has.
  const std::string bin = appDir_ + "Bin\\";
  const std::string kept = bin + kCatalogueName;
  if (!IsDryRun()) {
    CreateDirectoryPath(bin);
    ClearReadOnly(kept);
    if (!::CopyFileA(extracted.c_str(), kept.c_str(), FALSE))
      LogFormat("Failed to copy initialization file from '%s' to '%s'. Error 0x0%x.",
                extracted.c_str(), kept.c_str(), static_cast<unsigned>(::GetLastError()));
    ClearReadOnly(kept);
  }
  ::DeleteFileA(extracted.c_str());

  // Only pictures this unpack wrote: the map never names a file of the program.
  for (const Component& component : catalog_) {
    const std::string name = PictureFileName(component.sImageURL);
    if (!name.empty()) imageMap_[component.sName] = folder + name;
  }
  PostStep(4);
  return 0;
}

ConnectDialog::ConnectDialog(ComponentCatalog& catalog, std::string appDir)
    : catalog_(catalog), appDir_(std::move(appDir)) {}

ConnectDialog::~ConnectDialog() {
  // Run joins the thread; this only guards a path that skipped it.
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
  for (const auto& image : imageMap_) ::DeleteFileA(image.second.c_str());
}

bool ConnectDialog::IsCancelled() const { return cancel_.IsSet(); }

void ConnectDialog::UnpackPictures() {
  if (picturesUnpacked_ || imageMap_.empty()) return;
  picturesUnpacked_ = true;
  if (pictureCabinet_.empty()) {
    LogWrite("The component pictures are missing: the catalogue cabinet was not kept.");
    return;
  }
  // The map's files are the folder plus a member's name.
  std::vector<std::string> names;
  for (const auto& image : imageMap_) names.push_back(image.second.substr(unpackFolder_.size()));
  const auto isPicture = [&names](const std::string& name) {
    return std::any_of(names.begin(), names.end(), [&name](const std::string& picture) {
      return _stricmp(picture.c_str(), name.c_str()) == 0;
    });
  };
  if (!ExtractCabinetTo(pictureCabinet_, unpackFolder_, nullptr, isPicture))
    LogFormat("Failed to unpack the component pictures from '%s'; the list shows the default "
              "pictures.",
              pictureCabinet_.c_str());
}

void ConnectDialog::Run(HWND owner) {
  if (DoModal(FindDialogTemplate(IDD_CONNECT), owner) == -1 && !thread_)
    LogFormat("Failed to show the connect dialog. Error 0x0%x",
              static_cast<unsigned>(::GetLastError()));
  if (!thread_) return;
  // Bounded by the fetch: its transfer gives up after the network's silence
  // limit and ends at once on Cancel.
  ::WaitForSingleObject(thread_.get(), INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeThread(thread_.get(), &exitCode);
  thread_.reset();
  fetchWindow_ = nullptr;
  // A cancelled run ends without a box, whatever the fetch ran into.
  if (exitCode != 0 && !IsCancelled()) throw CError(exitCode, errorText_);
}

void ConnectDialog::PostStep(int step) const {
  if (fetchWindow_) ::PostMessageA(fetchWindow_, kStepMessage, static_cast<WPARAM>(step), 0);
}

DWORD WINAPI ConnectDialog::FetchThread(void* parameter) {
  return CatalogueFetch(*static_cast<ConnectDialog*>(parameter));
}

INT_PTR ConnectDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kStepMessage:
      OnStep(wParam);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK) {
        // Enter sends OK as well: the window stays while the fetch runs.
        if (!::InterlockedCompareExchange(&fetchDone_, 0, 0) && !IsCancelled()) return TRUE;
        // Run waits for the fetch thread once the window is gone.
        ::ShowWindow(hwnd(), SW_HIDE);
        End(IDOK);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return SkinnedDialog::OnMessage(message, wParam, lParam);
}

INT_PTR ConnectDialog::OnInitDialog() {
  HWND window = hwnd();
  bigIcon_.reset(LoadIconSized(IDI_APP, ::GetSystemMetrics(SM_CXICON),
                               ::GetSystemMetrics(SM_CYICON)));
  smallIcon_.reset(LoadIconSized(IDI_APP, ::GetSystemMetrics(SM_CXSMICON),
                                 ::GetSystemMetrics(SM_CYSMICON)));
  ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  if (IsSetupMode()) {
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetWindowTextA(window, LoadResString(IDS_CAPTION_WEBINSTALL).c_str());
  }

  HFONT font = reinterpret_cast<HFONT>(::SendDlgItemMessageA(window, IDC_CONNECT_STEP1,
                                                             WM_GETFONT, 0, 0));
  LOGFONTA logFont = {};
  if (font && ::GetObjectA(font, sizeof(logFont), &logFont)) {
    logFont.lfWeight = FW_BOLD;
    boldFont_.reset(::CreateFontIndirectA(&logFont));
  }

  checkIcon_.reset(LoadIconSized(IDI_CONNECT_CHECK, kMarkerWidth, kMarkerHeight));
  stepIcon_.reset(LoadIconSized(IDI_CONNECT_STEP, kMarkerWidth, kMarkerHeight));
  for (int marker : kMarkers)
    ::SendDlgItemMessageA(window, marker, STM_SETICON, reinterpret_cast<WPARAM>(stepIcon_.get()),
                          0);

  const std::string format = ControlText(window, IDC_CONNECT_STEP1);
  ::SetDlgItemTextA(
      window, IDC_CONNECT_STEP1,
      FormatText(format.c_str(), LoadResString(IDS_SITE_DISPLAY_NAME).c_str()).c_str());

  fetchWindow_ = window;
  DWORD threadId = 0;
  thread_.reset(::CreateThread(nullptr, 0, &ConnectDialog::FetchThread, this, 0, &threadId));
  if (!thread_) {
    fetchWindow_ = nullptr;
    // The dialog stays until the user cancels it.
    LogFormat("Failed to create thread. Error 0x0%x.", static_cast<unsigned>(::GetLastError()));
  }
  return TRUE;
}

void ConnectDialog::OnStep(WPARAM step) {
  if (step < 1 || step > 4) return;
  const size_t done = step - 1;
  HWND window = hwnd();
  ::SendDlgItemMessageA(window, kMarkers[done], STM_SETICON,
                        reinterpret_cast<WPARAM>(checkIcon_.get()), 0);
  if (done + 1 < 4) ::ShowWindow(::GetDlgItem(window, kMarkers[done + 1]), SW_SHOW);
  if (boldFont_)
    ::SendDlgItemMessageA(window, kStepTexts[done], WM_SETFONT,
                          reinterpret_cast<WPARAM>(boldFont_.get()), TRUE);
}

void ConnectDialog::OnCancel() {
  if (asking_) return;  // Escape or the close button while the question is open
  asking_ = true;
  const int answer = AppMessageBox(IDS_CONFIRM_ABORT_DOWNLOAD, MB_YESNO);
  asking_ = false;
  if (answer != IDYES) return;
  cancel_.Set();
  if (hwnd()) ::SendMessageA(hwnd(), WM_COMMAND, IDOK, 0);
}

DWORD CatalogueFetch(ConnectDialog& dialog) {
  DWORD result = 0;
  try {
    if (dialog.IsCancelled()) return 0;
    const std::string url = CatalogueUrl();
    std::string host, path, scheme;
    WORD port = 0;
    if (!CrackUrl(url, host, path, &scheme, &port)) {
      result = FailureCode(GetLastTransferError());
    } else {
      HeldConnection connection(host);
      TransferSession* session = connection.Acquire(ServiceForScheme(scheme), port);
      if (!session) {
        result = FailureCode(GetLastTransferError());
      } else if (!dialog.IsCancelled()) {
        dialog.PostStep(1);
        if (!dialog.IsCancelled())
          result = dialog.DownloadAndParse(*session, url);
      }
    }
  } catch (const CError& error) {
    LogFormat("Error %s in file %s, line %d\n", error.Description().c_str(), kSource, 259);
    if (!IsQuiet()) error.Show();
    result = static_cast<DWORD>(-1);
  } catch (...) {
    LogFormat("Unhandled exception in file %s, line %d\n", kSource, 270);
    if (!IsQuiet()) AppMessageBox(IDS_INTERNAL_ERROR, MB_OK | MB_ICONSTOP, kCaptionInstall);
    result = static_cast<DWORD>(-1);
  }

  // Only a dialog has a last step to show: a quiet run or a cancel does not wait.
  if (dialog.fetchWindow_ && !dialog.IsCancelled()) ::Sleep(kLastStepPauseMs);
  // Also after an exception: the dialog must not wait for a fetch that ended.
  if (dialog.fetchWindow_ && ::IsWindow(dialog.fetchWindow_) && !dialog.IsCancelled()) {
    ::InterlockedExchange(&dialog.fetchDone_, 1);
    ::PostMessageA(dialog.fetchWindow_, WM_COMMAND, IDOK, 0);
  }
  return result;
}
