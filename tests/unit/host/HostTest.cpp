// Host control with the fixture programs of the build: the fake manager and
// the fake download manager run as real processes with real windows in the
// test's prefix; the boxes and dialogs the code shows are answered by a
// thread that plays the user (tests/support/PlayedUser.h).
#include <gtest/gtest.h>
#include <objbase.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "core/Locations.h"
#include "core/Platform.h"
#include "core/Switches.h"
#include "frame/Handle.h"
#include "host/CompletionDialog.h"
#include "host/HostControl.h"
#include "host/Processes.h"
#include "resources/HostIds.h"
#include "resources/StringIds.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"

// Bytes held through operator new, so that a test can see texts that were
// never freed.
std::atomic<long long> g_heldBytes{0};

void* operator new(size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  g_heldBytes += static_cast<long long>(_msize(block));
  return block;
}
void operator delete(void* block) noexcept {
  if (!block) return;
  g_heldBytes -= static_cast<long long>(_msize(block));
  std::free(block);
}
void operator delete(void* block, size_t) noexcept { operator delete(block); }

namespace {

using testing_support::CapturedLog;
using testing_support::Press;
using testing_support::RunningFixture;
using testing_support::ScratchDir;
using testing_support::Seen;
using testing_support::User;

const char kCaptionUpdate[] = "PelloryManager Components Update";
const char kManagerRunning[] =
    "PelloryManager is running. Update must close PelloryManager to install components files. "
    "Press OK to close PelloryManager.";
const char kDidNotClose[] =
    "PelloryManager did not close. Please close PelloryManager yourself, then press OK.";
const char kCancelQuestion[] = "Are you sure you want to cancel Uninstall?";
const char kExitRequestCaption[] = "Please Exit Pellory Download Manager";
const char kExitRequestText[] =
    "To install Pellory Download Manager, please exit Pellory Download Manager now.  To exit, "
    "right-click on the Pellory Download Manager icon on your tool tray and select Exit. ";

// A visible window whose thread does not look at its messages until it is
// released (at the latest after 10 s, before a played user gives up), as the
// window of a busy thread.
class BusyThreadWindow {
 public:
  BusyThreadWindow() {
    thread_ = std::thread([this] {
      window_ = ::CreateWindowExA(0, "STATIC", "busy", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  200, 100, nullptr, nullptr, nullptr, nullptr);
      ::SetEvent(made_.get());
      ::WaitForSingleObject(release_.get(), 10000);
      answering_ = true;
      MSG message;
      while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
      visibleAtEnd_ = ::IsWindowVisible(window_) != FALSE;
      ::DestroyWindow(window_);
    });
    ::WaitForSingleObject(made_.get(), 10000);
  }
  ~BusyThreadWindow() { Release(); }
  HWND window() const { return window_; }
  bool answering() const { return answering_; }
  // Lets the thread handle what was sent meanwhile; true when the window was
  // left visible.
  bool Release() {
    ::SetEvent(release_.get());
    if (thread_.joinable()) thread_.join();
    return visibleAtEnd_;
  }

 private:
  frame::ScopedHandle made_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  frame::ScopedHandle release_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  HWND window_ = nullptr;
  std::atomic<bool> answering_{false};
  bool visibleAtEnd_ = false;
  std::thread thread_;
};

TEST(HostClose, ManagerAndDownloadManagerCloseOnTheirCommands) {
  SetProcessArguments({});
  ScratchDir dir;
  // Nothing running: no box, at once, and nothing closed.
  EXPECT_EQ(CloseDownloadManager(), 1);
  bool closed = true;
  EXPECT_EQ(CloseRunningManager(nullptr, &closed), 1);
  EXPECT_FALSE(closed);

  // A manager that closes on its command is the engine test's, with the
  // restart that follows; a download manager that does is the end-to-end
  // uninstall's.

  // Ones that ignore the command: the download manager is given up on, the
  // manager's wait ends at its bound with the user told.
  RunningFixture stubbornDownloads;
  ASSERT_TRUE(stubbornDownloads.Start("DownloadManager.exe", dir.Path(), "Stubborn DM.exe",
                                      "/ignore"));
  EXPECT_EQ(CloseDownloadManager(), 0);
  EXPECT_FALSE(stubbornDownloads.Ended(0));

  RunningFixture stubborn;
  ASSERT_TRUE(stubborn.Start("Manager.exe", dir.Path(), "Stubborn.exe", "/ignore"));
  SetManagerCloseTimeoutForTests(2000);
  CapturedLog log;
  {
    User user({{0xFFFF, Press(IDOK)}, {0xFFFF, Press(IDOK)}});
    // Still running: the caller must not start a second one.
    EXPECT_EQ(CloseRunningManager(nullptr, &closed), 0);
    EXPECT_FALSE(closed);
    const auto& seen = user.Finish();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, kManagerRunning);
    EXPECT_EQ(seen[1].text, kDidNotClose);
  }
  EXPECT_TRUE(log.Has("PelloryManager did not close within 2 seconds.")) << log.Text();
  EXPECT_FALSE(stubborn.Ended(0));

  // A quit message ends the wait before its bound: it is left for the
  // caller, and no time bound is claimed. The window to hide belongs to a
  // thread that does not answer meanwhile; the box comes all the same.
  SetManagerCloseTimeoutForTests(30000);
  log.lines.clear();
  BusyThreadWindow other;
  ASSERT_NE(other.window(), nullptr);
  const DWORD self = ::GetCurrentThreadId();
  bool boxWhileBusy = false;
  {
    User user({{0xFFFF,
                [&](const Seen& seen) {
                  boxWhileBusy = !other.answering();
                  ui::PressButton(seen.window, IDOK);
                  ui::WaitForWindowGone(seen.window, 10000);
                  ::PostThreadMessageA(self, WM_QUIT, 7, 0);
                }},
               {0xFFFF, Press(IDOK)}});
    EXPECT_EQ(CloseRunningManager(other.window()), 0);
    const auto& seen = user.Finish();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kManagerRunning);
  }
  SetManagerCloseTimeoutForTests(0);
  EXPECT_TRUE(boxWhileBusy) << "hiding the other thread's window waited for that thread";
  EXPECT_TRUE(other.Release()) << "the other thread's window was not shown again";
  MSG quit;
  ASSERT_TRUE(::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 7u);
  EXPECT_FALSE(log.Contains("did not close within")) << log.Text();
  EXPECT_TRUE(log.Has("PelloryManager is still running; files in use wait for the next start."))
      << log.Text();
  EXPECT_FALSE(stubborn.Ended(0));
}

TEST(HostProcesses, RunningFixtureIsFoundByModuleNameAndWaitedFor) {
  ScratchDir dir;
  RunningFixture manager;
  ASSERT_TRUE(manager.Start("Manager.exe", dir.Path(), "MANAGER.EXE"));

  EXPECT_TRUE(IsModuleRunning("manager.exe"));
  EXPECT_FALSE(IsModuleRunning("NoSuchModule.exe"));
  std::vector<RunningModule> modules(3);
  modules[0].sModuleName = "manager.exe";
  modules[1].sModuleName = "NoSuchModule.exe";
  modules[1].bFound = 1;  // stale results are cleared
  modules[1].sPath = "stale";
  modules[2].sModuleName = "KERNEL32.dll";
  FindRunningModules(modules.data(), modules.size());
  EXPECT_EQ(modules[0].bFound, 1u);
  EXPECT_EQ(::lstrcmpiA(modules[0].sPath.c_str(), manager.path.c_str()), 0) << modules[0].sPath;
  EXPECT_EQ(modules[1].bFound, 0u);
  EXPECT_EQ(modules[1].sPath, "");
  EXPECT_EQ(modules[2].bFound, 1u);

  EXPECT_EQ(WaitForProcess(manager.process.Handle(), 600), 0);
  ::PostMessageA(manager.window, WM_COMMAND, kManagerCloseCommand, 0);
  EXPECT_EQ(WaitForProcess(manager.process.Handle(), 10000), 1);
  EXPECT_FALSE(IsModuleRunning("manager.exe"));
}

TEST(HostWaitForModuleExit, TheUserIsAskedUntilTheProgramExitsOrGivesUp) {
  SetProcessArguments({});
  ScratchDir dir;
  RunningFixture downloads;
  ASSERT_TRUE(downloads.Start("DownloadManager.exe", dir.Path(), "DownloadManager.exe"));
  {
    // Cancel, then No: asked again; Cancel, then Yes: given up.
    User user({{IDC_EXIT_REQUEST_TEXT, Press(IDCANCEL)},
               {0xFFFF, Press(IDNO)},
               {IDC_EXIT_REQUEST_TEXT, Press(IDCANCEL)},
               {0xFFFF, Press(IDYES)}});
    EXPECT_EQ(WaitForModuleExit("downloadmanager.exe", kDownloadManagerTitle,
                                IDS_CONFIRM_CANCEL_UNINSTALL),
              0);
    const auto& seen = user.Finish();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].caption, kExitRequestCaption);
    EXPECT_EQ(seen[0].text, kExitRequestText);
    EXPECT_EQ(seen[1].caption, kCaptionUpdate);
    EXPECT_EQ(seen[1].text, kCancelQuestion);
    EXPECT_EQ(seen[2].caption, kExitRequestCaption);
    EXPECT_EQ(seen[3].text, kCancelQuestion);
  }

  // Another program gets a message box with its display name; OK once it
  // has exited ends the wait.
  RunningFixture helper;
  ASSERT_TRUE(helper.Start("DownloadManager.exe", dir.Path(), "Helper.exe"));
  {
    User user({{0xFFFF, Press(IDOK)},
               {0xFFFF, [&helper](const Seen& seen) {
                  ::PostMessageA(helper.window, WM_COMMAND, kDownloadManagerCloseCommand, 0);
                  helper.Ended();
                  ui::PressButton(seen.window, IDOK);
                }}});
    EXPECT_EQ(WaitForModuleExit("helper.exe", "Audio Helper", IDS_CONFIRM_CANCEL_UNINSTALL), 1);
    const auto& seen = user.Finish();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, kCaptionUpdate);
    EXPECT_EQ(seen[0].text, "Audio Helper is running. Please exit it and press OK.");
    EXPECT_EQ(seen[1].text, seen[0].text);
  }
}

// Holds the thread of a window at the next message it takes, until released,
// so that messages can be queued behind one another.
struct HeldThread {
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && armed.exchange(false)) {
      ::SetEvent(held.get());
      ::WaitForSingleObject(release.get(), 10000);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  explicit HeldThread(HWND window)
      : hook(::SetWindowsHookExA(WH_GETMESSAGE, &Hook, nullptr,
                                 ::GetWindowThreadProcessId(window, nullptr))) {
    armed = true;
    ::PostMessageA(window, WM_NULL, 0, 0);
  }
  ~HeldThread() {
    ::SetEvent(release.get());
    if (hook) ::UnhookWindowsHookEx(hook);
  }
  bool Held() const { return hook && ::WaitForSingleObject(held.get(), 5000) == WAIT_OBJECT_0; }

  static inline std::atomic<bool> armed{false};
  static inline frame::ScopedHandle held{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  static inline frame::ScopedHandle release{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  HHOOK hook;
};

// The completion window on its own thread: hidden until shown, texts posted
// to it arrive, and closing it ends its thread, freeing texts still queued.
TEST(HostCompletionDialog, ShowsItsTextsAndEndsWithItsThread) {
  std::shared_ptr<CompletionDialog> dialog = StartCompletionDialog();
  ASSERT_TRUE(dialog->Exists());
  HWND window = dialog->Window();
  EXPECT_NE(::GetWindowThreadProcessId(window, nullptr), ::GetCurrentThreadId());
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_EQ(ui::WindowText(window), "Completing PelloryManager Upgrade...");

  // The default headline and a new caption are the mode switch's end-to-end case.
  dialog->SetCaption("PelloryManager");
  // A path too long for its line is shortened; one that fits is shown whole.
  const std::string longPath =
      "C:\\Program Files\\" + std::string(150, 'x') + "\\Components\\From\\a.dll";
  dialog->ShowStep("Copying file from to:", longPath, "C:\\To\\a.dll");
  dialog->Show(true, true);
  for (int i = 0; i < 100 && !::IsWindowVisible(window); ++i) ::Sleep(50);
  ASSERT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(ui::ControlText(window, IDC_COMPLETION_HEADLINE), "Copying file from to:");
  const std::string shortened = ui::ControlText(window, IDC_COMPLETION_FIRST_PATH);
  ASSERT_GT(shortened.size(), 6u);
  EXPECT_LT(shortened.size(), longPath.size()) << shortened;
  EXPECT_NE(shortened.find("..."), std::string::npos) << shortened;
  EXPECT_EQ(shortened.substr(shortened.size() - 6), "\\a.dll") << shortened;
  EXPECT_EQ(ui::ControlText(window, IDC_COMPLETION_SECOND_PATH), "C:\\To\\a.dll");
  EXPECT_TRUE(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);

  dialog->ShowStep("Registering module:", "", "");
  dialog->Show(false);
  for (int i = 0; i < 100 && ::IsWindowVisible(window); ++i) ::Sleep(50);
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_EQ(ui::ControlText(window, IDC_COMPLETION_FIRST_PATH), "");

  // Texts posted after the close request, while the window still exists:
  // the window's thread is held so that they queue behind it.
  const std::string filler(100000, 'x');
  long long before = 0;
  {
    HeldThread hold(window);
    ASSERT_TRUE(hold.Held());
    EXPECT_FALSE(dialog->Close(0));
    before = g_heldBytes;
    for (int i = 0; i < 20; ++i) dialog->SetItemText(IDC_COMPLETION_FIRST_PATH, filler);
  }
  EXPECT_TRUE(dialog->Close(5000));
  EXPECT_FALSE(dialog->Exists());
  EXPECT_FALSE(::IsWindow(window));
  // 20 texts left behind would hold 2 MB.
  EXPECT_LT(g_heldBytes - before, 100000) << "texts left in the queue were not freed";
}

// With no Bin\Manager.exe to start, the scheduled start fails and the direct
// one too: only then is the user told.
TEST(ManagerRestart, WhenNoStartWorksTheUserIsTold) {
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));  // as the entry
  ScratchDir dir;
  SetProcessArguments({});
  ASSERT_TRUE(::CreateDirectoryA((dir.Path() + "Bin").c_str(), nullptr));
  ASSERT_TRUE(testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir",
                                              dir.Path()));
  CapturedLog log;
  User user({{0xFFFF, Press(IDOK)}});
  EXPECT_EQ(RestartManager(), 0);
  const auto seen = user.Finish();
  testing_support::RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
  if (com) ::CoUninitialize();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, kCaptionUpdate);
  EXPECT_EQ(seen[0].text, "Cannot start PelloryManager.");
  EXPECT_TRUE(log.Has("Failed to launch PelloryManager. Error 2")) << log.Text();
}

// The German user interface gets the German templates of both dialogs.
TEST(HostLanguageEnv, DialogsInTheUsersLanguage) {
  if (GetUILanguageId() != 0x0407) GTEST_SKIP() << "needs LC_ALL=de_DE.UTF-8";
  std::shared_ptr<CompletionDialog> dialog = StartCompletionDialog();
  ASSERT_TRUE(dialog->Exists());
  EXPECT_EQ(ui::WindowText(dialog->Window()),
            "PelloryManager-Aktualisierung wird abgeschlossen...");
  EXPECT_EQ(ui::ControlText(dialog->Window(), IDC_COMPLETION_HEADLINE),
            "PelloryManager wird beendet... Bitte warten.");
  EXPECT_TRUE(dialog->Close(5000));

  ScratchDir dir;
  RunningFixture downloads;
  ASSERT_TRUE(downloads.Start("DownloadManager.exe", dir.Path(), "DownloadManager.exe"));
  User user({{IDCANCEL, [&downloads](const Seen& seen) {
                ::PostMessageA(downloads.window, WM_COMMAND, kDownloadManagerCloseCommand, 0);
                downloads.Ended();
                ui::PressButton(seen.window, IDOK);
              }}});
  EXPECT_EQ(WaitForModuleExit("DownloadManager.exe", kDownloadManagerTitle,
                              IDS_CONFIRM_CANCEL_UNINSTALL),
            1);
  const auto& seen = user.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "Bitte beenden Sie Pellory Download Manager");
  EXPECT_EQ(seen[0].text, "Abbrechen");
}

}  // namespace
