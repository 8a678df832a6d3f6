// The connect dialog (202): four step lines while the catalogue cabinet is
// fetched, unpacked and parsed on a thread of its own. A quiet run uses the
// same object without a window and calls CatalogueFetch directly. The fetch
// thread reaches the window only through posted messages and reads the
// cancel flag with interlocked calls; Run joins the thread before the object
// is used again.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "catalog/Component.h"
#include "frame/Handle.h"
#include "transfer/CancelFlag.h"
#include "ui/skin/SkinnedDialog.h"

class TransferSession;

class ConnectDialog : public SkinnedDialog {
 public:
  // wParam: the step just finished, 1 to 4.
  static constexpr UINT kStepMessage = WM_USER + 14;

  // `appDir` is the installation folder (with its backslash); the fetch
  // fills `catalog`, which the caller keeps.
  ConnectDialog(ComponentCatalog& catalog, std::string appDir);
  // Deletes the component pictures the fetch unpacked.
  ~ConnectDialog() override;

  // Shows the dialog modally, owned by `owner`, and returns once the fetch
  // thread has ended. A fetch that failed is thrown as CError with the
  // dialog's error text and the fetch's result, unless the user cancelled.
  void Run(HWND owner);

  bool IsCancelled() const;
  // The extracted catalogue; empty when the fetch did not get that far.
  const std::string& CataloguePath() const { return cataloguePath_; }
  // Component name -> its picture file in the folder the cabinet was
  // unpacked into. The fetch unpacks only the catalogue: the files are there
  // once UnpackPictures has run.
  const std::map<std::string, std::string>& ImageMap() const { return imageMap_; }
  // Unpacks the pictures of the image map from the fetched cabinet, once;
  // called when they are about to be shown. A cabinet that fails now leaves
  // the pictures missing, with the reason in the log.
  void UnpackPictures();
  const std::string& ErrorText() const { return errorText_; }

 protected:
  INT_PTR OnInitDialog() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  friend DWORD CatalogueFetch(ConnectDialog& dialog);
  static DWORD WINAPI FetchThread(void* parameter);

  void OnStep(WPARAM step);
  void OnCancel();
  void PostStep(int step) const;
  // The fetch between the connection and its release: 0 or an error code.
  DWORD DownloadAndParse(TransferSession& session, const std::string& url);

  ComponentCatalog& catalog_;
  std::string appDir_;
  std::string cataloguePath_;
  std::map<std::string, std::string> imageMap_;
  // The fetched cabinet, kept for the pictures, and the folder of its members.
  std::string pictureCabinet_;
  std::string unpackFolder_;
  bool picturesUnpacked_ = false;
  std::string errorText_;
  frame::ScopedHandle thread_;
  // The window as the fetch thread sees it: set before the thread starts.
  HWND fetchWindow_ = nullptr;
  // Set by Cancel; the transfer ends its waits on it at once.
  CancelFlag cancel_;
  // Set by the fetch before it posts OK: until then only Cancel closes the
  // window (Enter sends OK too).
  volatile LONG fetchDone_ = 0;
  bool asking_ = false;  // the cancel question is open
  frame::ScopedGdiObject boldFont_;
  frame::ScopedIcon bigIcon_;
  frame::ScopedIcon smallIcon_;
  frame::ScopedIcon checkIcon_;
  frame::ScopedIcon stepIcon_;
};

// Downloads the catalogue cabinet ("URL" switch, else the built-in URL) into
// the program's folder, unpacks its catalogue into a temporary folder, parses
// "PM Install1.INF" into the dialog's catalogue and, when it has components,
// keeps a copy in the installation's "Bin\". 0 when nothing failed (an
// unpackable cabinet leaves the catalogue path empty and still gives 0; so
// does a cancel), else an error code; -1 after an exception.
DWORD CatalogueFetch(ConnectDialog& dialog);
