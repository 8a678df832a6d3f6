#include "host/StatusWindow.h"

#include "core/Log.h"
#include "core/Resources.h"
#include "core/SystemLibraries.h"
#include "host/Processes.h"

namespace {

// Posted to the window; a text travels as a heap string that the window adopts.
constexpr UINT kSetItemText = WM_APP + 1;  // wParam: item id (0: caption), lParam: std::string*
constexpr UINT kShow = WM_APP + 2;         // wParam: show, lParam: topmost
constexpr UINT kDestroy = WM_APP + 3;

struct ThreadStart {
  std::shared_ptr<StatusWindow> dialog;
};

// Paths are shortened with an ellipsis to fit their line when shlwapi offers
// it. Its buffer is MAX_PATH characters, so a longer text is set as it is.
void SetItemPath(HWND dialog, int itemId, const std::string& path) {
  PathSetDlgItemPathFn setPath = PathSetDlgItemPath();
  if (setPath && path.size() < MAX_PATH)
    setPath(dialog, itemId, path.c_str());
  else
    ::SetDlgItemTextA(dialog, itemId, path.c_str());
}

}  // namespace

StatusWindow::StatusWindow(int dialogId, std::initializer_list<int> pathItems)
    : dialogId_(dialogId),
      pathItems_(pathItems),
      ready_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

StatusWindow::~StatusWindow() = default;

bool StatusWindow::IsPathItem(int itemId) const {
  for (int item : pathItems_)
    if (item == itemId) return true;
  return false;
}

bool StatusWindow::Exists() const { return window_ && ::IsWindow(window_); }

void StatusWindow::SetItemText(int itemId, const std::string& text) {
  if (!Exists()) return;
  auto copy = std::make_unique<std::string>(text);
  if (::PostMessageA(window_, kSetItemText, static_cast<WPARAM>(itemId),
                     reinterpret_cast<LPARAM>(copy.get())))
    copy.release();
}

void StatusWindow::SetCaption(const std::string& caption) { SetItemText(0, caption); }

void StatusWindow::Show(bool show, bool topmost) {
  if (Exists()) ::PostMessageA(window_, kShow, show ? 1 : 0, topmost ? 1 : 0);
}

bool StatusWindow::Close(DWORD milliseconds) {
  if (Exists()) ::PostMessageA(window_, kDestroy, 0, 0);
  if (!thread_) return true;
  return WaitForThread(thread_.get(), milliseconds) == 1;
}

INT_PTR StatusWindow::OnInitDialog() {
  icons_.Apply(hwnd());
  return TRUE;
}

INT_PTR StatusWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kSetItemText: {
      std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
      const int itemId = static_cast<int>(wParam);
      if (itemId == 0)
        ::SetWindowTextA(hwnd(), text->c_str());
      else if (IsPathItem(itemId))
        SetItemPath(hwnd(), itemId, *text);
      else
        ::SetDlgItemTextA(hwnd(), itemId, text->c_str());
      return TRUE;
    }
    case kShow:
      if (lParam)
        ::SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      ::ShowWindow(hwnd(), wParam ? SW_SHOW : SW_HIDE);
      return TRUE;
    case kDestroy: {
      // DestroyWindow drops the window's queued messages, and with them the
      // texts they own.
      MSG queued;
      while (::PeekMessageA(&queued, hwnd(), kSetItemText, kSetItemText, PM_REMOVE))
        delete reinterpret_cast<std::string*>(queued.lParam);
      ::DestroyWindow(hwnd());
      return TRUE;
    }
    case WM_COMMAND:
      // A status window: Escape and Enter do not end it; only its owner does.
      return TRUE;
    default:
      return SkinnedDialog::OnMessage(message, wParam, lParam);
  }
}

void StatusWindow::RunWindow() {
  window_ = Create(FindDialogTemplate(dialogId_), ::GetDesktopWindow());
  if (!window_) LogFormat("Cannot create status window %d. Error %lu", dialogId_, ::GetLastError());
  // Set in every case: the owner waits for it without a limit.
  ::SetEvent(ready_.get());
  MSG message;
  while (window_ && ::IsWindow(window_) && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageA(window_, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
  }
  // Texts posted after the window went are still owned by their messages.
  while (::PeekMessageA(&message, nullptr, kSetItemText, kSetItemText, PM_REMOVE))
    delete reinterpret_cast<std::string*>(message.lParam);
}

DWORD WINAPI StatusWindow::ThreadProc(void* parameter) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  try {
    start->dialog->RunWindow();
  } catch (...) {
    ::SetEvent(start->dialog->ready_.get());
    LogWrite("Unhandled exception in a status window.");
  }
  return 0;
}

bool StatusWindow::Start(const std::shared_ptr<StatusWindow>& dialog) {
  // The entry binds it already; bound here too (once, before the window's
  // thread reads it) so that the window does not depend on the entry.
  BindShlwapi();
  if (!dialog->ready_) return false;
  auto start = std::make_unique<ThreadStart>();
  start->dialog = dialog;
  DWORD threadId = 0;
  dialog->thread_.reset(
      ::CreateThread(nullptr, 0, &StatusWindow::ThreadProc, start.get(), 0, &threadId));
  if (!dialog->thread_) {
    LogFormat("Cannot start a status window's thread. Error %lu", ::GetLastError());
    return false;
  }
  start.release();
  // The thread's end counts too: one that ended without setting the event
  // must not leave us waiting.
  const HANDLE waits[] = {dialog->ready_.get(), dialog->thread_.get()};
  ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  return dialog->Exists();
}
