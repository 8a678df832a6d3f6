// The selection dialog shown modally on the test's thread while a second
// thread plays the user: it reads the rows, ticks with the mouse and the
// space bar, reads the size text and presses the buttons. Sent messages make
// every step finish before the next is checked.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>

#include "catalog/InstalledState.h"
#include "core/Locations.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/Switches.h"
#include "core/SystemLibraries.h"
#include "resources/SelectionIds.h"
#include "resources/StringIds.h"
#include "selection/ComponentSelectionDialog.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"
#include "transfer/WinInetApi.h"
#include "ui/skin/SkinColours.h"

namespace {

using namespace testing_support;

const LANGID kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
constexpr uint32_t kOlderFamilyOnly = 1;  // Windows 95: never this system
constexpr uint32_t kNt4Only = 8;

ComponentFile File(const std::string& name, const std::string& download, uint32_t kilobytes) {
  ComponentFile file;
  file.sName = name;
  file.sFile = download;
  file.size = kilobytes * 1024;
  file.version = {2, 1, 0, 7};
  return file;
}

Component Named(const std::string& name, std::vector<ComponentFile> files,
                uint32_t platform = 31) {
  Component component;
  component.sName = name;
  component.version = {1, 2, 0, 0};
  component.files = std::move(files);
  component.platform = platform;
  component.bRequiresPMClosed = false;
  return component;
}

// What the user thread sees and does through the dialog's windows.
struct User {
  HWND dialog = nullptr;
  HWND list = nullptr;
  const ComponentListBox* rows = nullptr;

  std::string Size() const { return ui::ControlText(dialog, IDC_SELECTION_SIZE); }
  bool OkEnabled() const { return ::IsWindowEnabled(::GetDlgItem(dialog, IDOK)) != FALSE; }
  int Count() const { return static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0)); }
  std::string Text(int row) const {
    char text[256] = {};
    ::SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text));
    return text;
  }
  RECT RowRect(int row) const {
    RECT rect = {};
    ::SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
    return rect;
  }
  // A click at (dx, dy) from the row's corner.
  void Click(int row, int dx, int dy) const {
    const RECT rect = RowRect(row);
    const LPARAM at = MAKELPARAM(rect.left + dx, rect.top + dy);
    ::SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageA(list, WM_LBUTTONUP, 0, at);
  }
  void ClickBox(int row) const { Click(row, 9, 9); }
  // Two quick clicks: the list class takes the second as a double click.
  void DoubleClickBox(int row) const {
    ClickBox(row);
    const RECT rect = RowRect(row);
    const LPARAM at = MAKELPARAM(rect.left + 9, rect.top + 9);
    ::SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    ::SendMessageA(list, WM_LBUTTONUP, 0, at);
  }
  void Space() const {
    ::SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageA(list, WM_KEYUP, VK_SPACE, 0);
  }
  // Held down: the first press, then `repeats` auto-repeats (bit 30 set).
  void HoldSpace(int repeats) const {
    ::SendMessageA(list, WM_KEYDOWN, VK_SPACE, 1);
    for (int i = 0; i < repeats; ++i) ::SendMessageA(list, WM_KEYDOWN, VK_SPACE, 1 | (1 << 30));
    ::SendMessageA(list, WM_KEYUP, VK_SPACE, 1 | (1u << 30) | (1u << 31));
  }
  int Selected() const { return static_cast<int>(::SendMessageA(list, LB_GETCURSEL, 0, 0)); }
  bool Ticked(int row) const {
    const ComponentListItem* item = rows->Row(row);
    return item && item->checked;
  }
};

class SelectionDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BindComCtl());
    ASSERT_TRUE(BindWinInet());
    SetProcessArguments({});
    SetPreferredResourceLanguage(kUsEnglish);
    InitSkinColours(kUsEnglish);
    RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", app_.Path()));
  }
  void TearDown() override {
    SetProcessArguments({});
    SetPreferredResourceLanguage(kUsEnglish);
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);
  }

  // Shows the dialog modally; `play` runs on a second thread once the
  // window with `caption` is up and must end the dialog. Closed with the
  // caption button if it is still shown half a minute afterwards.
  INT_PTR Show(ComponentCatalog& catalog, std::map<std::string, std::string> images,
               const std::string& caption, const std::function<void(const User&)>& play) {
    ComponentSelectionDialog dialog(catalog, std::move(images));
    bool found = false;
    std::thread user([&] {
      User u;
      u.dialog = ui::WaitForWindow({caption, "#32770", ::GetCurrentProcessId()}, 20000);
      if (!u.dialog) {  // a wrong caption: end the dialog so that the test can fail
        for (HWND other : ui::FindWindows({"", "#32770", ::GetCurrentProcessId()}))
          ui::CloseWindow(other);
        return;
      }
      found = true;
      u.list = ::GetDlgItem(u.dialog, IDC_SELECTION_LIST);
      u.rows = &dialog.List();
      play(u);
      for (int i = 0; i < 600 && ::IsWindowVisible(u.dialog); ++i) ::Sleep(50);
      if (::IsWindowVisible(u.dialog)) ui::CloseWindow(u.dialog);
    });
    const INT_PTR result = dialog.DoModal();
    user.join();
    EXPECT_TRUE(found) << "no dialog with the caption " << caption;
    return result;
  }

  ScratchDir app_{"selection"};
};

TEST_F(SelectionDialogTest, RowsTicksAndTheSelectionSize) {
  // Up to date: recorded, its one file present at the catalogue's version.
  ASSERT_TRUE(CopyWithVersion(WinePath(FIXTURES_DIR_UNIX) + "\\Manager.exe",
                              app_.Path() + "Player.dll", 2, 1, 0, 7));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, "Player", "1, 2, 0, 0"));
  // Update available: recorded, its file missing.
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, "Codecs", "1, 2, 0, 0"));
  ComponentCatalog catalog = {
      Named("Player", {File("Player.dll", "player.cab", 300)}),
      Named("Old", {File("Old.dll", "old.cab", 50)}, kOlderFamilyOnly),
      Named("Codecs", {File("Codecs.dll", "shared.cab", 500)}),
      // Never installed; shares the codecs' download.
      Named("Reader (Device Plug-in)",
            {File("Reader.dll", "reader.cab", 200), File("Codecs.dll", "shared.cab", 500)}),
  };
  ScratchDir pictures("pictures");
  const std::string picture = pictures.Path() + "player.bmp";
  const std::string notAPicture = pictures.Path() + "codecs.bmp";
  ui::Bitmap red;
  red.width = red.height = 16;
  red.pixels.assign(16 * 16, 0xC81E1E);
  ASSERT_TRUE(ui::SaveBitmap(red, picture));
  ASSERT_TRUE(WriteFileBytes(notAPicture, "not a bitmap"));

  const INT_PTR result = Show(catalog, {{"Player", picture}, {"Codecs", notAPicture}},
                              "PelloryManager Components Update", [](const User& u) {
    EXPECT_EQ(ui::ControlText(u.dialog, IDC_SELECTION_PROMPT),
              "Select the components you want to update or install");
    ASSERT_EQ(u.Count(), 3);  // "Old" is for another system
    const struct {
      const char* name;
      const char* status;
      const char* size;
      int image;
    } kRows[] = {{"Player", "Up to date", "300KB", 7},
                 {"Codecs", "Update Available", "500KB", 0},  // not a bitmap: default
                 {"Reader (Device Plug-in)", "Not Installed", "700KB", 0}};
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      const ComponentListItem* row = u.rows->Row(i);
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(u.Text(i), kRows[i].name);
      EXPECT_EQ(row->sStatus, kRows[i].status);
      EXPECT_EQ(row->sSize, kRows[i].size);
      EXPECT_EQ(row->imageIndex, kRows[i].image);
      EXPECT_FALSE(row->checked);
    }
    EXPECT_EQ(u.Size(), "0KB");
    EXPECT_FALSE(u.OkEnabled());

    u.Space();  // nothing selected yet: nothing happens
    EXPECT_EQ(u.Size(), "0KB");
    EXPECT_FALSE(u.Ticked(0) || u.Ticked(1) || u.Ticked(2));

    u.ClickBox(1);
    EXPECT_TRUE(u.Ticked(1));
    EXPECT_EQ(u.Size(), "500KB");
    EXPECT_TRUE(u.OkEnabled());
    u.Click(2, 100, 9);  // on the name: selects, does not tick
    EXPECT_EQ(u.Selected(), 2);
    EXPECT_FALSE(u.Ticked(2));
    u.Space();
    EXPECT_TRUE(u.Ticked(2));
    EXPECT_EQ(u.Size(), "700KB");  // the shared download once: not 1,200KB
    u.ClickBox(1);  // unticks and selects
    EXPECT_FALSE(u.Ticked(1));
    EXPECT_EQ(u.Selected(), 1);
    EXPECT_EQ(u.Size(), "700KB");
    u.DoubleClickBox(1);  // ticks and unticks
    EXPECT_FALSE(u.Ticked(1));
    EXPECT_EQ(u.Size(), "700KB");
    u.Click(2, 40, 9);  // on the picture: selects only
    EXPECT_TRUE(u.Ticked(2));
    u.HoldSpace(3);  // one flip however long it is held
    EXPECT_FALSE(u.Ticked(2));
    EXPECT_EQ(u.Size(), "0KB");
    EXPECT_FALSE(u.OkEnabled());
    // Cancel with a row ticked is the update flow's end-to-end case.
    EXPECT_TRUE(ui::PressButton(u.dialog, IDCANCEL));
  });
  EXPECT_EQ(result, IDCANCEL);
  // Closing deletes the picture files of the map.
  EXPECT_FALSE(FileExists(picture));
  EXPECT_FALSE(FileExists(notAPicture));
}

TEST_F(SelectionDialogTest, DevicesForOtherSystemsOnlyLeaveAnEmptyList) {
  SetProcessArguments({"/Devices"});
  ComponentCatalog catalog = {Named("Reader (Device Plug-in)", {}, kOlderFamilyOnly),
                              Named("Stick (Device Plug-in)", {}, kNt4Only)};
  const INT_PTR result =
      Show(catalog, {}, "PelloryManager Mobile Devices Update", [](const User& u) {
        EXPECT_EQ(u.Count(), 0);
        EXPECT_EQ(ui::ControlText(u.dialog, IDC_SELECTION_PROMPT),
                  "Select the mobile devices you want to add or update");
        EXPECT_EQ(u.Size(), "0KB");
        EXPECT_FALSE(u.OkEnabled());
        u.Space();
        EXPECT_FALSE(u.OkEnabled());
        EXPECT_TRUE(ui::PressButton(u.dialog, IDCANCEL));
      });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(SelectionDialogTest, PicturesInEnglishAndGerman) {
  const std::string folder = WinePath(ARTEFACTS_DIR_UNIX);
  ComponentCatalog catalog = {Named("Player", {File("Player.dll", "player.cab", 300)}),
                              Named("Reader (Device Plug-in)", {File("Reader.dll", "reader.cab", 1500)}),
                              Named("Codecs", {})};
  for (LANGID language : {kUsEnglish, kGerman}) {
    SCOPED_TRACE(language);
    SetPreferredResourceLanguage(language);
    InitSkinColours(language);
    const std::string caption = LoadResString(IDS_CAPTION_UPDATE);
    Show(catalog, {}, caption, [&](const User& u) {
      ASSERT_EQ(u.Count(), 3);
      EXPECT_EQ(u.rows->Row(0)->sStatus, LoadResString(IDS_STATUS_NOT_INSTALLED));
      u.ClickBox(0);
      u.ClickBox(1);
      u.Click(2, 100, 9);
      EXPECT_EQ(u.Size(), "1,800KB");
      ::RedrawWindow(u.dialog, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
      ::Sleep(500);
      ui::Bitmap shot;
      ASSERT_TRUE(ui::CaptureWindow(u.dialog, shot));
      EXPECT_TRUE(ui::SaveBitmap(
          shot, folder + (language == kGerman ? "\\selection_de.bmp" : "\\selection_en.bmp")));

      // On screen: the head band in the skin's background, the ticked box
      // with its dark tick, the unticked box of the selected row in white.
      RECT frame = {};
      ::GetWindowRect(u.dialog, &frame);
      RECT listFrame = {};
      ::GetWindowRect(u.list, &listFrame);
      const auto at = [&](HWND window, int x, int y) {
        POINT p = {x, y};
        ::ClientToScreen(window, &p);
        return shot.At(p.x - frame.left, p.y - frame.top);
      };
      const COLORREF band = SkinColour(5);
      const uint32_t bandPixel = (GetRValue(band) << 16) | (GetGValue(band) << 8) | GetBValue(band);
      EXPECT_EQ(shot.At(listFrame.left - frame.left + 20, listFrame.top - frame.top + 2), bandPixel);
      const RECT first = u.RowRect(0);
      EXPECT_EQ(at(u.list, first.left + 2 + 7, first.top + 2 + 9), 0x000000u);  // the tick
      EXPECT_EQ(at(u.list, first.left + 2 + 4, first.top + 2 + 4), 0xFFFFFFu);  // box inside
      const RECT third = u.RowRect(2);
      EXPECT_EQ(at(u.list, third.left + 2 + 1, third.top + 2 + 1), 0xFFFFFFu);  // white frame
      EXPECT_NE(at(u.list, third.left + 2 + 4, third.top + 2 + 4), 0xFFFFFFu);  // highlight through
      EXPECT_TRUE(ui::PressButton(u.dialog, IDCANCEL));
    });
  }
}

}  // namespace
