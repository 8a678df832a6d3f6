// The progress dialog driven as the worker and the user drive it: real
// messages on the test's thread, the cancel question answered by a second
// thread through the UI driver, the bar checked on screen.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/Switches.h"
#include "core/SystemLibraries.h"
#include "frame/Handle.h"
#include "resources/ProgressIds.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"
#include "transfer/ProgressDialog.h"
#include "ui/skin/SkinColours.h"

namespace {

DWORD g_now = 0;
DWORD WINAPI FakeTicks() { return g_now; }

// Holds the dialog's thread inside one progress message (its clock is read
// after the pump) until the test has queued what must wait for the next one.
frame::ScopedHandle g_inProgress;
frame::ScopedHandle g_queued;
std::atomic<bool> g_hold{false};
DWORD WINAPI HoldingTicks() {
  if (g_hold.exchange(false)) {
    ::SetEvent(g_inProgress.get());
    ::WaitForSingleObject(g_queued.get(), 5000);
  }
  return ::GetTickCount();
}

// Enter typed into the open question just before the worker's next progress
// message: that message's pump runs inside the box's own loop and must give
// the key to the box. False when the key was lost and the box stayed.
bool TypeEnterAsProgressArrives(HWND dialog, HWND box, DWORD dialogThread) {
  g_inProgress.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  g_queued.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  g_hold = true;
  ::SendNotifyMessageA(dialog, ProgressDialog::kBytesMessage, 1, 100);
  if (::WaitForSingleObject(g_inProgress.get(), 5000) != WAIT_OBJECT_0) return false;
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  HWND focus = ::GetGUIThreadInfo(dialogThread, &info) && info.hwndFocus ? info.hwndFocus : box;
  ::PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  ::SendNotifyMessageA(dialog, ProgressDialog::kBytesMessage, 2, 100);
  ::SetEvent(g_queued.get());
  return ui::WaitForWindowGone(box, 3000);
}

const LANGID kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Dispatches until `done` holds or the time is up; true when it held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    if (done()) return true;
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::Sleep(10);
  }
}
void Pump() { PumpUntil([] { return true; }); }

RECT ClientRectOf(HWND dialog, int id) {
  RECT rect = {};
  ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool Visible(HWND dialog, int id) { return ::IsWindowVisible(::GetDlgItem(dialog, id)) != FALSE; }

class ProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BindComCtl());  // the progress bar's class
    SetProcessArguments({});
    SetPreferredResourceLanguage(kUsEnglish);
  }
  void TearDown() override {
    SetProcessArguments({});
    SetPreferredResourceLanguage(kUsEnglish);
    InitSkinColours(kUsEnglish);
  }
};

TEST_F(ProgressDialogTest, WorkerMessagesFillTheTexts) {
  ProgressDialog dialog;
  dialog.SetTickSource(&FakeTicks);
  ASSERT_TRUE(dialog.Create(nullptr));
  HWND window = dialog.hwnd();
  EXPECT_EQ(ui::WindowText(window), "PelloryManager Components Download");

  ASSERT_TRUE(ProgressDialog::PostCurrentItem(window, "Player", "player.cab"));
  Pump();
  EXPECT_EQ(ui::ControlText(window, IDC_PROGRESS_COMPONENT), "Installing component:   Player");
  EXPECT_EQ(ui::ControlText(window, IDC_PROGRESS_FILE), "Downloading file:   player.cab");

  // Each step: the clock, the progress, then what the three texts read.
  struct Step {
    DWORD now;
    uint32_t done, total;
    const char* percent;
    const char* rate;
    const char* timeLeft;
  } steps[] = {
      // The first message only starts the clock.
      {5000, 0, 100000000, "0%", "", ""},
      // The rate is the previous message's bytes over the time so far: 0 at first.
      {6000, 1024, 100000000, "0%", "0 Bytes/sec", "1627 min (1KB of 97,656KB)"},
      {6000, 1025, 100000000, "0%", "1024 Bytes/sec", "1625 min (1KB of 97,656KB)"},
      {6000, 1048577, 100000000, "1%", "1 kB/sec", "1 min (1,024KB of 97,656KB)"},
      {6000, 2000000, 100000000, "2%", "1.0 MB/sec", "49 sec (1,953KB of 97,656KB)"},
      // 59 and 60 seconds left.
      {6000, 1000, 60000, "1%", "1.9 MB/sec", "59 sec (<1KB of 58KB)"},
      {6000, 1000, 61000, "1%", "1000 Bytes/sec", "1 min (<1KB of 59KB)"},
      {6000, 1000, 120000, "0%", "1000 Bytes/sec", "1 min (<1KB of 117KB)"},
      // Large counts: the products need 64 bits.
      {105000, 0x10000000, 0xFFFFFFFF, "6%", "10 Bytes/sec", "24 min (262,144KB of 4194,303KB)"},
      // More done than in total counts as all; no bytes done changes no text.
      {105000, 200, 100, "100%", "2.6 MB/sec", "0 sec (<1KB of <1KB)"},
      {105000, 0, 50, "0%", "2.6 MB/sec", "0 sec (<1KB of <1KB)"},
      {105000, 5, 0, "0%", "2.6 MB/sec", "0 sec (<1KB of <1KB)"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::to_string(step.done) + " of " + std::to_string(step.total));
    g_now = step.now;
    ProgressDialog::SendBytes(window, step.done, step.total);
    EXPECT_EQ(ui::ControlText(window, IDC_PROGRESS_PERCENT), step.percent);
    EXPECT_EQ(std::to_string(::SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0)) +
                  "%",
              step.percent);
    EXPECT_EQ(ui::ControlText(window, IDC_PROGRESS_RATE), step.rate);
    EXPECT_EQ(ui::ControlText(window, IDC_PROGRESS_TIME_LEFT), step.timeLeft);
  }

  // Gone windows take no texts; the sender keeps (and frees) them.
  dialog.Destroy();
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_FALSE(ProgressDialog::PostCurrentItem(window, "Player", "player.cab"));
}

TEST_F(ProgressDialogTest, MinimiseCollapsesAndMaximiseExpands) {
  ProgressDialog dialog;
  ASSERT_TRUE(dialog.Create(nullptr));
  HWND window = dialog.hwnd();
  // Outside Setup mode the dialog opens compact.
  EXPECT_FALSE(Visible(window, IDC_PROGRESS_PLACEHOLDER));
  EXPECT_FALSE(Visible(window, IDC_PROGRESS_LINE));
  RECT compact = {};
  ::GetWindowRect(window, &compact);
  const RECT compactText = ClientRectOf(window, IDC_PROGRESS_COMPONENT);
  const RECT compactCancel = ClientRectOf(window, IDCANCEL);

  ::SendMessageA(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  RECT full = {};
  ::GetWindowRect(window, &full);
  EXPECT_TRUE(Visible(window, IDC_PROGRESS_PLACEHOLDER));
  EXPECT_TRUE(Visible(window, IDC_PROGRESS_LINE));
  EXPECT_FALSE(::IsZoomed(window));
  const int height = ClientRectOf(window, IDC_PROGRESS_LINE).top;  // the collapse height
  EXPECT_GT(height, 40);
  EXPECT_EQ(full.top, compact.top - height);
  EXPECT_EQ(full.bottom, compact.bottom);
  EXPECT_EQ(full.left, compact.left);
  EXPECT_EQ(ClientRectOf(window, IDC_PROGRESS_COMPONENT).top, compactText.top + height);
  EXPECT_EQ(ClientRectOf(window, IDCANCEL).top, compactCancel.top + height);
  // The line stays and the text below it is inside the window.
  EXPECT_GT(ClientRectOf(window, IDC_PROGRESS_COMPONENT).top, height);

  // A second maximise changes nothing; minimise gives the compact form back.
  ::SendMessageA(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  RECT again = {};
  ::GetWindowRect(window, &again);
  EXPECT_TRUE(::EqualRect(&again, &full));
  ::SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ::SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  RECT back = {};
  ::GetWindowRect(window, &back);
  EXPECT_TRUE(::EqualRect(&back, &compact));
  EXPECT_FALSE(::IsIconic(window));
  EXPECT_FALSE(Visible(window, IDC_PROGRESS_LINE));
  EXPECT_EQ(ClientRectOf(window, IDC_PROGRESS_COMPONENT).top, compactText.top);
}

TEST_F(ProgressDialogTest, ParentIsDisabledWhileTheDialogLives) {
  HWND parent = ::CreateWindowExA(0, "Static", "parent", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, nullptr, nullptr);
  ASSERT_TRUE(parent);
  {
    ProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(parent));
    EXPECT_FALSE(::IsWindowEnabled(parent));
    // A second Create on the same object fails and keeps the first window.
    HWND window = dialog.hwnd();
    EXPECT_FALSE(dialog.Create(parent));
    EXPECT_EQ(dialog.hwnd(), window);
    // The worker's OK at the end of the downloads closes it.
    ::PostMessageA(window, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window); }));
    EXPECT_TRUE(::IsWindowEnabled(parent));
    EXPECT_TRUE(ui::FindWindows({"PelloryManager Components Download", "#32770",
                                 ::GetCurrentProcessId(), false})
                    .empty());
  }
  // A parent that was already disabled stays so.
  ::EnableWindow(parent, FALSE);
  {
    ProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(parent));
    dialog.Destroy();
    EXPECT_FALSE(::IsWindowEnabled(parent));
  }
  ::DestroyWindow(parent);
}

// No is clicked; Yes, the default, is typed while progress comes in.
TEST_F(ProgressDialogTest, CancelAsksAndOnlyYesCancels) {
  ProgressDialog dialog;
  dialog.SetTickSource(&HoldingTicks);
  ASSERT_TRUE(dialog.Create(nullptr));
  HWND window = dialog.hwnd();
  const DWORD dialogThread = ::GetCurrentThreadId();

  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
    std::string question;
    bool typed = false;
    std::atomic<bool> answered{false};
    std::thread user([&] {
      HWND box = ui::WaitForWindow({"PelloryManager Components Update", "#32770"}, 10000);
      if (box) {
        question = ui::MessageBoxText(box);
        if (answer == IDYES) typed = TypeEnterAsProgressArrives(window, box, dialogThread);
        if (!typed) ui::PressButton(box, answer);
      }
      answered = true;
    });
    ASSERT_TRUE(ui::PressButton(window, IDCANCEL));
    const bool finished = PumpUntil([&] { return answered.load(); }, 15000);
    user.join();
    ASSERT_TRUE(finished);
    Pump();
    EXPECT_EQ(question, "Download is in progress. Are you sure you want to abort it now?");
    if (answer == IDYES) {
      EXPECT_TRUE(typed) << "Enter typed into the question was lost";
    }
    EXPECT_EQ(dialog.IsCancelled(), answer == IDYES);
    EXPECT_EQ(::IsWindowVisible(window) != FALSE, answer == IDNO);
  }
}

TEST_F(ProgressDialogTest, SetupShowsThePictureAndTheBarIsPaintedInTwoColours) {
  SetProcessArguments({"/Setup"});
  const std::string folder = testing_support::WinePath(ARTEFACTS_DIR_UNIX);

  const LANGID german = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
  const LANGID french = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
  for (LANGID language : {kUsEnglish, german, french}) {
    SCOPED_TRACE(language);
    SetPreferredResourceLanguage(language);
    InitSkinColours(language);  // as start-up does for the user's language
    ProgressDialog dialog;
    dialog.SetTickSource(&FakeTicks);
    ASSERT_TRUE(dialog.Create(nullptr));
    HWND window = dialog.hwnd();
    EXPECT_TRUE(::GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    const RECT place = ClientRectOf(window, IDC_PROGRESS_PLACEHOLDER);
    // The picture takes the placeholder's place once the posted message is handled.
    ASSERT_TRUE(PumpUntil([&] { return !::GetDlgItem(window, IDC_PROGRESS_PLACEHOLDER); }));
    EXPECT_TRUE(Visible(window, IDC_PROGRESS_PICTURE));
    const RECT picture = ClientRectOf(window, IDC_PROGRESS_PICTURE);
    EXPECT_TRUE(::EqualRect(&picture, &place));
    EXPECT_TRUE(Visible(window, IDC_PROGRESS_LINE));

    ASSERT_TRUE(ProgressDialog::PostCurrentItem(window, "Player", "player.cab"));
    // 10 MB, 45 % of it after 40 seconds.
    const uint32_t total = 10485760;
    for (const auto& step : {std::pair<DWORD, uint32_t>{1000, 0}, {21000, total * 22 / 100},
                             {41000, total * 45 / 100}}) {
      g_now = step.first;
      ProgressDialog::SendBytes(window, step.second, total);
    }
    EXPECT_EQ(ui::ControlText(window, IDC_PROGRESS_PERCENT), "45%");
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN |
                                                 RDW_UPDATENOW | RDW_FRAME);
    Pump();

    ui::Bitmap shot;
    ASSERT_TRUE(ui::CaptureWindowSurface(window, shot));
    const std::string name = language == kUsEnglish ? "progress_en.bmp"
                             : language == german   ? "progress_de.bmp"
                                                    : "progress_fr.bmp";
    EXPECT_TRUE(ui::SaveBitmap(shot, folder + "\\" + name));

    // The client area in the language's background colour (most of a row
    // near the bottom: the buttons take the rest). The caption's colours are
    // the skin's, checked where Wine draws frames (skin_test).
    auto rgb = [](COLORREF c) { return uint32_t{GetRValue(c)} << 16 | GetGValue(c) << 8 | GetBValue(c); };
    RECT windowRect = {}, clientRect = {};
    ::GetWindowRect(window, &windowRect);
    ::GetClientRect(window, &clientRect);
    POINT clientOrigin = {0, 0};
    ::ClientToScreen(window, &clientOrigin);
    const int clientY = clientOrigin.y - windowRect.top + clientRect.bottom - 3;
    int backgroundPixels = 0;
    for (int x = 0; x < shot.width; ++x) backgroundPixels += shot.At(x, clientY) == rgb(SkinColour(5));
    EXPECT_GT(backgroundPixels, shot.width / 2) << name;

    // The bar's client area within the picture.
    HWND bar = ::GetDlgItem(window, IDC_PROGRESS_BAR);
    RECT frame = {}, client = {};
    ::GetWindowRect(window, &frame);
    ::GetClientRect(bar, &client);
    POINT origin = {0, 0};
    ::ClientToScreen(bar, &origin);
    const int left = origin.x - frame.left, top = origin.y - frame.top;
    const int width = client.right, height = client.bottom;
    const int filled = width * 45 / 100;
    const uint32_t blue = 0x0000C0, white = 0xFFFFFF;  // as 0x00RRGGBB
    EXPECT_EQ(shot.At(left, top), blue);
    EXPECT_EQ(shot.At(left + filled - 1, top), blue);
    EXPECT_EQ(shot.At(left + filled, top), white);
    EXPECT_EQ(shot.At(left + width - 1, top + height - 1), white);
    // "45%" sits in the white part, drawn in blue.
    int blueText = 0;
    for (int y = top; y < top + height; ++y)
      for (int x = left + filled; x < left + width; ++x) blueText += shot.At(x, y) == blue;
    EXPECT_GT(blueText, 10);
  }
}

TEST_F(ProgressDialogTest, TextsFitTheirControlsInEveryLanguage) {
  const LANGID languages[] = {kUsEnglish, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK),
                              MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN),
                              MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)};
  for (LANGID language : languages) {
    SCOPED_TRACE(language);
    SetPreferredResourceLanguage(language);
    ProgressDialog dialog;
    dialog.SetTickSource(&FakeTicks);
    ASSERT_TRUE(dialog.Create(nullptr));
    HWND window = dialog.hwnd();
    // A long time-left line: 999 minutes of nearly 4 GB.
    g_now = 1000;
    ProgressDialog::SendBytes(window, 0, 0xFFFFFFFF);
    g_now = 1000 + 812836000;
    ProgressDialog::SendBytes(window, 4000000000u, 0xFFFFFFFF);
    ASSERT_NE(ui::ControlText(window, IDC_PROGRESS_TIME_LEFT).find("999"), std::string::npos);

    HDC dc = ::GetDC(window);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(window, WM_GETFONT, 0, 0)));
    for (HWND child = ::GetWindow(window, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      const std::string text = ui::WindowText(child);
      if (text.empty() || !::IsWindowVisible(child)) continue;
      SCOPED_TRACE(text);
      SIZE size = {};
      ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
      RECT rect = {};
      ::GetClientRect(child, &rect);
      const int margin = ui::ClassName(child) == "Button" ? 8 : 0;
      EXPECT_LE(size.cx + margin, rect.right);
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
  }
}

}  // namespace
