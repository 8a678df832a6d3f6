// The played user of the demo: finds the program's dialogs and boxes,
// answers them as a person does (the proxy's credential dialog included),
// and has each photographed when pictures are asked for.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"
#include "tools/demo/DemoOptions.h"

namespace demo {

// A visible top-level dialog of the process that has the control.
HWND FindDialogWith(DWORD processId, int controlId);

// A message box: a dialog with the text control 0xFFFF. The program's own
// dialogs and the system's credential dialog may have unnamed statics of
// that number too, so they are left out.
HWND FindBox(DWORD processId);

template <class Process>
HWND WaitForDialogWith(Process& child, int controlId, DWORD timeoutMs = kStepLimitMs) {
  const DWORD start = ::GetTickCount();
  do {
    if (HWND window = FindDialogWith(child.Id(), controlId)) return window;
    if (!child.Running()) return nullptr;
    ::Sleep(50);
  } while (::GetTickCount() - start < timeoutMs);
  return nullptr;
}

class Photographer {
 public:
  explicit Photographer(const Options& options) : options_(options) {}

  // Once the window has painted: its rectangle goes to the script, which
  // answers with the picture.
  void Take(HWND window, const std::string& name) {
    if (options_.shotsDir.empty()) return;
    ::Sleep(600);
    RECT rect{};
    if (!::GetWindowRect(window, &rect)) return;
    char display[128] = "";
    ::GetEnvironmentVariableA("DISPLAY", display, sizeof(display));
    const std::string base = options_.shotsDir + "\\" + name + "-" + options_.tag;
    char request[256];
    std::snprintf(request, sizeof(request), "%s %ld %ld %ld %ld\n", display, rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top);
    ::DeleteFileA((base + ".png").c_str());  // one of an earlier run is no answer
    if (!testing_support::WriteFileBytes(base + ".req", request)) {
      std::printf("  (picture %s: cannot write the request)\n", name.c_str());
      return;
    }
    const DWORD start = ::GetTickCount();
    while (!testing_support::FileExists(base + ".png") && ::GetTickCount() - start < 15000) ::Sleep(100);
    if (testing_support::FileExists(base + ".png")) {
      std::printf("  picture: %s-%s.png\n", name.c_str(), options_.tag.c_str());
    } else {
      std::printf("  (picture %s: no answer from the script)\n", name.c_str());
    }
  }

 private:
  const Options& options_;
};

// The system's credential dialog, as WinINet shows it for a proxy that asks
// for a name and password: a dialog of the program's process with a
// password box and a plain box for the name before it.
struct CredentialDialog {
  HWND window = nullptr;
  HWND name = nullptr;
  HWND password = nullptr;
};

CredentialDialog FindCredentialDialog(DWORD processId);

// The person at the machine when the proxy asks: types the name and the
// password the demo was given and presses OK.
class ProxyUser {
 public:
  explicit ProxyUser(const Options& options) : options_(options) {}

  // Answers the credential dialog if it is up; false when it is not.
  bool Answer(DWORD processId, Photographer& camera) {
    if (options_.proxyPort.empty()) return false;
    const CredentialDialog dialog = FindCredentialDialog(processId);
    if (!dialog.window) return false;
    ++met_;
    ::Sleep(300);  // it fills its boxes after it is shown
    std::string texts;
    for (const std::string& text : ui::StaticTexts(dialog.window))
      texts += (texts.empty() ? "" : " | ") + text;
    std::printf("Credential dialog \"%s\":\n  %s\n", ui::WindowText(dialog.window).c_str(),
                texts.c_str());
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(dialog.name, WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(options_.proxyName.c_str()), SMTO_BLOCK, 5000,
                          &ignored);
    ::SendMessageTimeoutA(dialog.password, WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(options_.proxyPassword.c_str()), SMTO_BLOCK,
                          5000, &ignored);
    std::printf("  typed the name \"%s\" and the password\n", options_.proxyName.c_str());
    if (met_ == 1) camera.Take(dialog.window, "proxy-credentials");
    std::printf("  -> OK\n");
    ui::PressButton(dialog.window, IDOK);
    ui::WaitForWindowGone(dialog.window, 10000);
    return true;
  }
  int Met() const { return met_; }

 private:
  const Options& options_;
  int met_ = 0;
};

// The next message box: shown, photographed, answered.
template <class Process>
bool AnswerBox(Process& child, Photographer& camera, const std::string& shot, int button) {
  HWND box = nullptr;
  for (const DWORD start = ::GetTickCount(); !box && child.Running() &&
                                             ::GetTickCount() - start < kStepLimitMs;
       ::Sleep(50))
    box = FindBox(child.Id());
  if (!box) {
    std::printf("  no message box came\n");
    return false;
  }
  std::printf("  box \"%s\": %s\n", ui::WindowText(box).c_str(), ui::MessageBoxText(box).c_str());
  if (!shot.empty()) camera.Take(box, shot);
  std::printf("  -> %s\n", button == IDYES ? "Yes" : button == IDNO ? "No" : "OK");
  ui::PressButton(box, button);
  ui::WaitForWindowGone(box, 10000);
  return true;
}

// The interactive update, step by step as a user goes through it. Returns
// false when a step did not come (the run is then ended by the caller).
bool PlayUser(testing_support::ChildProcess& child, Photographer& camera, ProxyUser& proxyUser);

// Runs without the played user still get a box now and then (the quiet
// check's question, an error of a run without /q): each is printed and
// answered No, or OK when it has no No, so that the run goes on. A proxy's
// credential dialog, even in quiet runs, is answered as the person at the
// machine does.
DWORD WaitAnsweringBoxes(testing_support::ChildProcess& child, DWORD timeoutMs,
                         Photographer& camera, ProxyUser& proxyUser);

}  // namespace demo
