#include "tools/demo/DemoUser.h"

using namespace testing_support;

namespace demo {
namespace {

bool HasEditBox(HWND window) {
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (ui::ClassName(child) == "Edit") return true;
  return false;
}

}  // namespace

HWND ManagerWindow() { return ::FindWindowA(kManagerClass, nullptr); }

bool WaitForManager(DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!ManagerWindow() && ::GetTickCount() - start < timeoutMs) ::Sleep(50);
  return ManagerWindow() != nullptr;
}

HWND FindDialogWith(DWORD processId, int controlId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId}))
    if (::GetDlgItem(window, controlId)) return window;
  return nullptr;
}

HWND FindBox(DWORD processId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId})) {
    if (!::GetDlgItem(window, kBoxText) || HasEditBox(window)) continue;
    bool own = false;
    for (int id : {kConnectGroup, kSelectionList, kProgressBar, kCompletionHeadline})
      own = own || ::GetDlgItem(window, id) != nullptr;
    if (!own) return window;
  }
  return nullptr;
}

CredentialDialog FindCredentialDialog(DWORD processId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId})) {
    CredentialDialog dialog;
    for (HWND child = ::GetWindow(window, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (ui::ClassName(child) != "Edit") continue;
      if (::GetWindowLongA(child, GWL_STYLE) & ES_PASSWORD)
        dialog.password = child;
      else if (!dialog.password)
        dialog.name = child;
    }
    if (dialog.name && dialog.password) {
      dialog.window = window;
      return dialog;
    }
  }
  return CredentialDialog();
}

bool PlayUser(ChildProcess& child, Photographer& camera, ProxyUser& proxyUser) {
  std::printf("Question 101:\n");
  if (!AnswerBox(child, camera, "question", IDYES)) return false;

  std::printf("Connect dialog:\n");
  HWND connect = WaitForDialogWith(child, kConnectGroup);
  if (!connect) {
    std::printf("  did not come\n");
    return false;
  }
  std::printf("  \"%s\": %s\n", ui::WindowText(connect).c_str(),
              ui::ControlText(connect, 206).c_str());
  camera.Take(connect, "connect");

  // A proxy may ask for a name and password at the catalogue fetch; a
  // catalogue that cannot be fetched or read is told in boxes instead.
  HWND selection = nullptr;
  for (const DWORD start = ::GetTickCount();
       !selection && child.Running() && ::GetTickCount() - start < kStepLimitMs; ::Sleep(50)) {
    if (proxyUser.Answer(child.Id(), camera)) continue;
    selection = FindDialogWith(child.Id(), kSelectionList);
    if (!selection && FindBox(child.Id())) {
      std::printf("Message box:\n");
      AnswerBox(child, camera, "", IDOK);
    }
  }
  std::printf("Selection dialog:\n");
  if (!selection) {
    std::printf("  did not come\n");
    return false;
  }
  HWND list = ::GetDlgItem(selection, kSelectionList);
  const int rows = static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0));
  std::printf("  %d rows; size before: %s\n", rows,
              ui::ControlText(selection, 208).c_str());
  // Rows start unticked: the user takes everything.
  for (int row = 0; row < rows; ++row) ui::TickRow(list, row);
  std::printf("  ticked every row; size now: %s\n", ui::ControlText(selection, 208).c_str());
  camera.Take(selection, "selection");
  std::printf("  -> OK\n");
  ui::PressButton(selection, IDOK);

  // From here on the program leads: whatever comes is met as it comes,
  // until the program ends.
  bool progressSeen = false;
  bool completionSeen = false;
  int messages = 0;
  const DWORD start = ::GetTickCount();
  while (child.Running() && ::GetTickCount() - start < kRunLimitMs) {
    if (proxyUser.Answer(child.Id(), camera)) continue;
    HWND progress = progressSeen ? nullptr : FindDialogWith(child.Id(), kProgressBar);
    if (progress) {
      progressSeen = true;
      std::printf("Progress dialog \"%s\":\n", ui::WindowText(progress).c_str());
      // Minimise and maximise switch between the compact and the full form.
      ::PostMessageA(progress, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
      camera.Take(progress, "progress-expanded");
      ::PostMessageA(progress, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      camera.Take(progress, "progress-compact");
      continue;
    }
    if (HWND box = FindBox(child.Id())) {
      // A question now is the restart question: No, a demo never reboots.
      const bool question = ::GetDlgItem(box, IDNO) != nullptr;
      const std::string name = question ? "restart-question"
                               : ManagerWindow()
                                   ? "manager-running"
                                   : "message-" + std::to_string(++messages);
      std::printf("Message box:\n");
      AnswerBox(child, camera, name, question ? IDNO : IDOK);
      continue;
    }
    HWND completion = completionSeen ? nullptr : FindDialogWith(child.Id(), kCompletionHeadline);
    if (completion && ::GetDlgItem(completion, kConnectGroup) == nullptr) {
      // It is shown, hidden for a box and shown again: a picture only when
      // it is in view.
      ::Sleep(300);
      if (FindBox(child.Id()) || !::IsWindowVisible(completion)) continue;
      completionSeen = true;
      std::printf("Completion window \"%s\": %s\n", ui::WindowText(completion).c_str(),
                  ui::ControlText(completion, kCompletionHeadline).c_str());
      camera.Take(completion, "completion");
      continue;
    }
    ::Sleep(50);
  }
  return true;
}

DWORD WaitAnsweringBoxes(ChildProcess& child, DWORD timeoutMs, Photographer& camera,
                         ProxyUser& proxyUser) {
  timeoutMs = Patience(timeoutMs);
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < timeoutMs) {
    const DWORD code = child.Wait(100);
    if (code != STILL_ACTIVE) return code;
    if (proxyUser.Answer(child.Id(), camera)) continue;
    HWND box = FindBox(child.Id());
    if (!box) continue;
    const int button = ::GetDlgItem(box, IDNO) ? IDNO : ::GetDlgItem(box, IDOK) ? IDOK : IDCANCEL;
    std::printf("box \"%s\": %s\n  -> %s (the demo's answer)\n", ui::WindowText(box).c_str(),
                ui::MessageBoxText(box).c_str(),
                button == IDNO ? "No" : button == IDOK ? "OK" : "Cancel");
    ui::PressButton(box, button);
    ui::WaitForWindowGone(box, 10000);
  }
  return child.Wait(0);
}

}  // namespace demo
