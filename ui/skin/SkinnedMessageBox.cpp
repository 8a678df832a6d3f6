#include "ui/skin/SkinnedMessageBox.h"

#include "ui/skin/SkinHandles.h"

namespace {

// Per thread: every thread that shows boxes has its own hook, and the skin to
// attach to the next dialog window the thread creates.
struct HookState {
  skin::ScopedHook hook;
  SkinnedMessageBox* next = nullptr;
};

HookState& ThreadHook() {
  thread_local HookState state;
  return state;
}

constexpr char kDialogClass[] = "#32770";

LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  HookState& state = ThreadHook();
  if (code == HCBT_CREATEWND && state.next) {
    HWND window = reinterpret_cast<HWND>(wParam);
    const auto* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
    const char* name = create && create->lpcs ? create->lpcs->lpszClass : nullptr;
    char buffer[16] = "";
    if (!name || IS_INTRESOURCE(name)) {
      // The dialog class is usually named by its atom.
      ::GetClassNameA(window, buffer, sizeof(buffer));
    } else {
      ::lstrcpynA(buffer, name, sizeof(buffer));
    }
    if (::lstrcmpA(buffer, kDialogClass) == 0) {
      SkinnedMessageBox* box = state.next;
      state.next = nullptr;
      box->Attach(window);
    }
  }
  return ::CallNextHookEx(state.hook.get(), code, wParam, lParam);
}

}  // namespace

LRESULT SkinnedMessageBox::WindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      const LRESULT result = CallPrevious(message, wParam, lParam);
      ThreadHook().hook.reset();  // the box is here: nothing more to watch for
      return result;
    }
    case WM_SYSCOMMAND: {
      if ((wParam & 0xFFF0) != SC_CLOSE) return CallPrevious(message, wParam, lParam);
      closedByCaption_ = true;
      HWND window = SkinnedWindow();
      const LRESULT result = CallPrevious(message, wParam, lParam);
      // A box without a Cancel button ignores the close it is sent; end it
      // here so that the caption's close button always closes it.
      if (::IsWindow(window)) ::EndDialog(window, IDCANCEL);
      return result;
    }
    case WM_COMMAND:
      // The box's own procedure ends it for every button.
      return CallPrevious(message, wParam, lParam);
    default:
      return SkinnedDialog::WindowMessage(message, wParam, lParam);
  }
}

int ShowSkinnedMessageBox(const std::string& text, const std::string& caption, UINT style) {
  SkinnedMessageBox box;
  HookState& state = ThreadHook();
  if (!state.hook)
    state.hook.reset(::SetWindowsHookExA(WH_CBT, &CbtProc, nullptr, ::GetCurrentThreadId()));
  state.next = &box;
  int result = ::MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                             style | MB_SETFOREGROUND | MB_TOPMOST);
  // Normally gone already; not when the box failed before its creation.
  state.next = nullptr;
  state.hook.reset();
  if (box.ClosedByCaption()) result = IDCANCEL;
  return result;
}
