// The real Upgrade.exe behind a real authenticating proxy (tinyproxy with
// BasicAuth, started beside this test by tests/proxy/with-proxy), set in the
// current user's Internet Settings the way a user's machine has it. The
// catalogue and the cabinets come from the test server through the proxy;
// the system's credential dialog is answered the way a person answers it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "frame/RegKey.h"
#include "tests/e2e/ServedRunTest.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"

namespace e2e {
namespace {

using namespace testing_support;

constexpr int kFailed = -1;
constexpr char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kConfirmConnect[] =
    "PelloryManager Component update will connect to Pellory site and retrieve the list of "
    "available components. If you are not connected to the Internet please connect now.\n"
    "Do you want to continue?";
constexpr int kConnectGroupBox = 219;  // only the connect dialog has it
constexpr int kSelectionList = 201;
constexpr char kWrongPassword[] = "not-the-password";
// Where Wine keeps what its credential dialog was told to save.
constexpr char kWineSavedPasswords[] = "Software\\Wine\\Wine\\Mpr";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The proxy the wrapper started, as it tells it.
struct Proxy {
  std::string port = Env("UPGRADE_PROXY_PORT");
  std::string user = Env("UPGRADE_PROXY_USER");
  std::string password = Env("UPGRADE_PROXY_PASSWORD");
  std::string log = Env("UPGRADE_PROXY_LOG");  // a Unix path
  std::string Log() const { return FileContent(WinePath(log)); }
};

// The proxy in the current user's Internet Settings while it lives.
class ProxySetting {
 public:
  explicit ProxySetting(const std::string& port) {
    ok_ = key_.Create(HKEY_CURRENT_USER, kInternetSettings) == ERROR_SUCCESS &&
          key_.SetDword("ProxyEnable", 1) == ERROR_SUCCESS &&
          key_.SetString("ProxyServer", "127.0.0.1:" + port) == ERROR_SUCCESS;
  }
  ~ProxySetting() {
    key_.SetDword("ProxyEnable", 0);
    key_.DeleteValue("ProxyServer");
  }
  bool ok() const { return ok_; }

 private:
  frame::RegKey key_;
  bool ok_ = false;
};

std::string EditText(HWND edit) {
  char text[512] = "";
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutA(edit, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                             SMTO_BLOCK, 5000, &length))
    return "<unreadable>";
  return std::string(text, length < sizeof(text) ? length : 0);
}

bool SetEditText(HWND edit, const std::string& text) {
  DWORD_PTR ignored = 0;
  return ::SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_BLOCK, 5000, &ignored) != 0;
}

// The system's credential dialog: a dialog with a name and a password box
// (and, where the system offers it, a box to tick for keeping the password).
struct CredentialDialog {
  HWND window = nullptr;
  HWND name = nullptr;
  HWND password = nullptr;
  HWND save = nullptr;
  std::string texts;  // its static texts, joined by " | "
};

CredentialDialog AsCredentialDialog(HWND window) {
  CredentialDialog dialog;
  std::vector<HWND> edits;
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const std::string type = ui::ClassName(child);
    const LONG style = ::GetWindowLongA(child, GWL_STYLE);
    if (type == "Edit") {
      if (style & ES_PASSWORD)
        dialog.password = child;
      else
        edits.push_back(child);
    } else if (type == "Button") {
      const LONG kind = style & BS_TYPEMASK;
      if (kind == BS_AUTOCHECKBOX || kind == BS_CHECKBOX) dialog.save = child;
    }
  }
  if (!dialog.password || edits.empty()) return CredentialDialog();
  dialog.name = edits.back();  // the last plain box before the password box
  dialog.window = window;
  for (const std::string& text : ui::StaticTexts(window))
    dialog.texts += (dialog.texts.empty() ? "" : " | ") + text;
  return dialog;
}

CredentialDialog FindCredentialDialog(DWORD processId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId})) {
    CredentialDialog dialog = AsCredentialDialog(window);
    if (dialog.window) return dialog;
  }
  return CredentialDialog();
}

bool IsMessageBox(HWND window) {
  if (!::GetDlgItem(window, 0xFFFF)) return false;
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (ui::ClassName(child) == "Edit") return false;
  return true;
}

// A picture for people to look at (the folder is made at configure time),
// once the dialog has had time to paint.
void SavePicture(HWND window, const std::string& name) {
  ::Sleep(500);
  ui::Bitmap picture;
  if (ui::CaptureWindow(window, picture))
    ui::SaveBitmap(picture, WinePath(ARTEFACTS_DIR_UNIX) + "\\" + name);
}

// What the played user does at a credential dialog.
struct Typing {
  bool cancel = false;
  std::string name;
  std::string password;
  bool save = false;
  bool keepWhatIsThere = false;  // presses OK on what the dialog offers
};

Typing Cancel() {
  Typing typing;
  typing.cancel = true;
  return typing;
}

// One credential dialog as it was met.
struct MetDialog {
  std::string texts;
  std::string offeredName;      // what its boxes held when it came up
  std::string offeredPassword;
  bool hadSaveBox = false;
  bool duringConnectDialog = false;
};

// A whole run as the user met it.
struct Played {
  int exitCode = 0;
  bool ended = false;
  std::vector<MetDialog> dialogs;
  std::vector<SeenBox> boxes;
  bool selectionShown = false;
};

// Plays the user until the program ends (at most limitMs): question 101
// Yes; a picture of the first credential dialog saved when `picture` names
// one; each credential dialog answered by `typing(n)` (n counts from 0);
// the selection dialog's first row ticked and OK; every other box answered
// No where it has No, else OK. The program is ended if it outlives the limit.
template <typename TypingFor>
Played Play(ChildProcess& child, TypingFor typing, DWORD limitMs = 120000,
            const std::string& picture = std::string()) {
  Played played;
  limitMs = Patience(limitMs);
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < limitMs) {
    if (child.Wait(0) != STILL_ACTIVE) break;
    CredentialDialog dialog = FindCredentialDialog(child.Id());
    if (dialog.window) {
      ::Sleep(300);  // let it finish filling its boxes
      if (played.dialogs.empty() && !picture.empty()) SavePicture(dialog.window, picture);
      MetDialog met;
      met.texts = dialog.texts;
      met.offeredName = EditText(dialog.name);
      met.offeredPassword = EditText(dialog.password);
      met.hadSaveBox = dialog.save != nullptr;
      met.duringConnectDialog = WaitForDialogWith(child.Id(), kConnectGroupBox, 0) != nullptr;
      const Typing answer = typing(static_cast<int>(played.dialogs.size()));
      played.dialogs.push_back(met);
      if (!answer.cancel && !answer.keepWhatIsThere) {
        SetEditText(dialog.name, answer.name);
        SetEditText(dialog.password, answer.password);
        if (dialog.save) {
          DWORD_PTR ignored = 0;
          ::SendMessageTimeoutA(dialog.save, BM_SETCHECK, answer.save ? BST_CHECKED : BST_UNCHECKED,
                                0, SMTO_BLOCK, 5000, &ignored);
        }
      }
      ui::PressButton(dialog.window, answer.cancel ? IDCANCEL : IDOK);
      ui::WaitForWindowGone(dialog.window, 10000);
      continue;
    }
    bool acted = false;
    for (HWND window : ui::FindWindows({"", "#32770", child.Id()})) {
      if (IsMessageBox(window)) {
        SeenBox box;
        ui::DialogTexts texts = ui::ReadDialogTexts(window);
        box.window = window;
        box.caption = texts.caption;
        box.text = texts.text;
        played.boxes.push_back(box);
        // Question 101 comes first (in the user's language): Yes.
        const bool question = played.boxes.size() == 1 && played.dialogs.empty() &&
                              ::GetDlgItem(window, IDYES) != nullptr;
        ui::PressButton(window, question ? IDYES : ::GetDlgItem(window, IDNO) ? IDNO : IDOK);
        ui::WaitForWindowGone(window, 10000);
        acted = true;
        break;
      }
      if (!played.selectionShown && ::GetDlgItem(window, kSelectionList)) {
        played.selectionShown = true;
        HWND list = ::GetDlgItem(window, kSelectionList);
        ui::TickRow(list, 0);
        ::Sleep(200);
        ui::PressButton(window, IDOK);
        acted = true;
        break;
      }
    }
    if (!acted) ::Sleep(50);
  }
  const DWORD code = child.Wait(5000);
  played.ended = code != STILL_ACTIVE;
  if (!played.ended) child.Kill();
  played.exitCode = AsInt(code);
  return played;
}

std::string Describe(const Played& played) {
  std::string text = "credential dialogs: " + std::to_string(played.dialogs.size());
  for (const MetDialog& dialog : played.dialogs)
    text += "\n  [" + dialog.texts + "] offered '" + dialog.offeredName + "'/'" +
            dialog.offeredPassword + "'" + (dialog.hadSaveBox ? " with a save box" : "");
  for (const SeenBox& box : played.boxes) text += "\nbox: " + box.caption + ": " + box.text;
  return text;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class ProxyE2E : public ServedRunTest {
 protected:
  void SetUp() override {
    const std::string missing = Env("UPGRADE_PROXY_MISSING");
    if (!missing.empty()) GTEST_SKIP() << "no proxy to test against: " << missing;
    ASSERT_FALSE(proxy_.port.empty())
        << "run through tests/proxy/with-proxy (ctest -R e2e_proxy), which starts the proxy";
    ServedRunTest::SetUp();
    RegDeleteTree(HKEY_CURRENT_USER, kWineSavedPasswords);
    setting_ = std::make_unique<ProxySetting>(proxy_.port);
    ASSERT_TRUE(setting_->ok());
    logStart_ = proxy_.Log().size();
  }
  void TearDown() override {
    setting_.reset();
    if (!Env("UPGRADE_PROXY_MISSING").empty()) return;
    RegDeleteTree(HKEY_CURRENT_USER, kWineSavedPasswords);
    ServedRunTest::TearDown();
  }

  // One component with one file in its own cabinet.
  void ServeUpdate() {
    CatalogueComponent component;
    component.name = "Reader";
    component.files = {{"Reader.txt", "reader.cab"}};
    server_.Serve(kCataloguePath, CatalogueCabinet({component}));
    server_.Serve("/PM50/Quoma/reader.cab", CabinetBytes({{"Reader.txt", "read through"}}));
  }
  // What the proxy logged since the case began.
  std::string ProxyLog() const { return proxy_.Log().substr(logStart_); }
  Typing Right(bool save = false) const {
    Typing typing;
    typing.name = proxy_.user;
    typing.password = proxy_.password;
    typing.save = save;
    return typing;
  }
  Typing Wrong() const {
    Typing typing = Right();
    typing.password = kWrongPassword;
    return typing;
  }

  Proxy proxy_;
  std::unique_ptr<ProxySetting> setting_;
  size_t logStart_ = 0;
};

TEST_F(ProxyE2E, TheUserTypesTheProxyCredentialsAndTheUpdateCompletes) {
  ServeUpdate();
  ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  const Played played =
      Play(child, [this](int) { return Right(); }, 120000, "credentials-en.bmp");
  const std::string report = Describe(played);
  ASSERT_TRUE(played.ended) << report;
  EXPECT_EQ(played.exitCode, 0) << report << "\n" << Log();
  // Once in the run: the downloads after the catalogue fetch use what the
  // user typed there.
  ASSERT_EQ(played.dialogs.size(), 1u) << report;
  EXPECT_TRUE(played.dialogs[0].duringConnectDialog) << "it comes at the catalogue fetch";
  for (const MetDialog& dialog : played.dialogs) {
    EXPECT_NE(dialog.texts.find("Please enter your username and password:"), std::string::npos)
        << report;
    EXPECT_NE(dialog.texts.find("127.0.0.1:" + proxy_.port), std::string::npos)
        << "it asks for the proxy\n" << report;
  }
  EXPECT_TRUE(played.selectionShown);
  EXPECT_EQ(FileContent(install_.Dir() + "Reader.txt"), "read through");
  EXPECT_EQ(Recorded("Reader"), "1, 0, 0, 0");
  EXPECT_NE(Log().find("Proxy authentication required, dwCode = 407."), std::string::npos) << Log();

  // Everything the server got came through the proxy, which forwards only
  // what carried the right credentials, and kept them to itself.
  const std::vector<HttpRequest> requests = server_.Requests();
  EXPECT_EQ(server_.RequestCount(kCataloguePath), 1u);
  EXPECT_EQ(server_.RequestCount("/PM50/Quoma/reader.cab"), 1u);
  for (const HttpRequest& request : requests) {
    EXPECT_NE(request.Header("Via").find("tinyproxy"), std::string::npos) << request.target;
    EXPECT_EQ(request.Header("Proxy-Authorization"), "") << request.target;
  }
  const std::string log = ProxyLog();
  EXPECT_GE(CountOf(log, "GET " + server_.Url(kCataloguePath) + " HTTP/1."), 2u)
      << "asked for credentials, then let through\n" << log;
  EXPECT_EQ(CountOf(log, "Established connection to host \"127.0.0.1\""), requests.size()) << log;
  std::cout << report << std::endl;
}

// tinyproxy answers a wrong proxy password with 401 (and WWW-Authenticate),
// so the dialogs after the first one ask for the server; each is a request
// of the open all the same, and the open ends after its last one.
TEST_F(ProxyE2E, AWrongPasswordEveryTimeEndsWithTheFailureBox) {
  ServeUpdate();
  ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  const DWORD start = ::GetTickCount();
  const Played played = Play(child, [this](int) { return Wrong(); });
  const std::string report = Describe(played);
  ASSERT_TRUE(played.ended) << "the run did not end\n" << report;
  EXPECT_EQ(played.exitCode, kFailed) << report;
  EXPECT_LT(::GetTickCount() - start, 60000u) << report;
  // Every request of the open but the last one got a dialog.
  EXPECT_EQ(played.dialogs.size(), 3u) << report;
  ASSERT_EQ(played.boxes.size(), 2u) << report;  // question 101, the failure
  EXPECT_EQ(played.boxes[0].text, kConfirmConnect);
  EXPECT_EQ(played.boxes[1].caption, "PelloryManager Install") << report;
  EXPECT_NE(played.boxes[1].text.find("401"), std::string::npos) << report;
  EXPECT_FALSE(played.selectionShown);
  EXPECT_EQ(server_.RequestCount(kCataloguePath), 0u) << "nothing got past the proxy";
  EXPECT_NE(Log().find("HTTP status 401 for URL '" + server_.Url(kCataloguePath) +
                       "' after 4 requests."),
            std::string::npos)
      << Log();
  const std::string log = ProxyLog();
  EXPECT_EQ(CountOf(log, "Established connection to host"), 0u) << log;
  // WinInet may send typed credentials once more by itself on each send.
  EXPECT_LE(CountOf(log, "GET " + server_.Url(kCataloguePath)), 8u) << log;
  std::cout << report << std::endl;
}

// Cancel in the credential dialog ends the run at once, with windows or
// quiet: quiet runs show no boxes of their own, but the proxy's credentials
// can come only from the person at the machine, so the dialog still appears.
TEST_F(ProxyE2E, CancelInTheCredentialDialogEndsTheRunQuietOrNot) {
  ServeUpdate();
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "with windows");
    const size_t logStart = Log().size();
    ChildProcess child;
    ASSERT_TRUE(Start(child, quiet ? "/q" : ""));
    const DWORD start = ::GetTickCount();
    const Played played = Play(child, [](int) { return Cancel(); }, 60000);
    const std::string report = Describe(played);
    ASSERT_TRUE(played.ended) << "the run did not end\n" << report;
    EXPECT_EQ(played.exitCode, kFailed) << report;
    EXPECT_EQ(played.dialogs.size(), 1u) << report;
    EXPECT_LT(::GetTickCount() - start, 30000u) << report;
    EXPECT_FALSE(played.selectionShown);
    // A cancel, as after the connect dialog's own Cancel: the question, where
    // the run asks it, was the only box.
    if (quiet) {
      EXPECT_TRUE(played.boxes.empty()) << report;
    } else {
      ASSERT_EQ(played.boxes.size(), 1u) << report;
      EXPECT_EQ(played.boxes[0].text, kConfirmConnect);
    }
    const std::string log = Log().substr(logStart);
    EXPECT_NE(log.find("The catalogue download was cancelled in the credential dialog."),
              std::string::npos) << log;
    EXPECT_NE(log.find("Proxy authentication required, dwCode = 407."), std::string::npos) << log;
    EXPECT_NE(log.find("InternetErrorDlg returned dwPrompt = "), std::string::npos) << log;
    EXPECT_EQ(server_.RequestCount(kCataloguePath), 0u);
    std::cout << report << std::endl;
  }
}

// "Save this password": Wine keeps the name and password (in the clear,
// under HKCU\Software\Wine\Wine\Mpr, per proxy and realm) and offers them in
// the boxes of every later dialog, which still appears, so a quiet run needs
// one press of OK. A system that uses them without asking shows no dialog.
TEST_F(ProxyE2E, SavedCredentialsAreOfferedToLaterRuns) {
  ServeUpdate();
  {
    ChildProcess child;
    ASSERT_TRUE(Start(child, "/Setup /q"));
    const Played played = Play(child, [this](int) { return Right(true); });
    ASSERT_EQ(played.exitCode, 0) << Describe(played) << "\n" << Log();
    ASSERT_FALSE(played.dialogs.empty());
    EXPECT_TRUE(played.dialogs[0].hadSaveBox) << Describe(played);
  }
  EXPECT_EQ(FileContent(install_.Dir() + "Reader.txt"), "read through");
  CloseManager();
  if (UnderWine()) {
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, kWineSavedPasswords));
  }

  // The next run: a new version of the component, fetched with nothing typed.
  CatalogueComponent component;
  component.name = "Reader";
  component.version = "2,0,0,0";
  component.files = {{"Reader.txt", "reader.cab", "2,0,0,0"}};
  server_.Serve(kCataloguePath, CatalogueCabinet({component}));
  server_.Serve("/PM50/Quoma/reader.cab", CabinetBytes({{"Reader.txt", "read again"}}));
  server_.ClearRequests();
  ChildProcess child;
  ASSERT_TRUE(Start(child, "/Setup /q"));
  const Played played = Play(child, [](int) {
    Typing typing;
    typing.keepWhatIsThere = true;
    return typing;
  });
  const std::string report = Describe(played);
  EXPECT_EQ(played.exitCode, 0) << report << "\n" << Log();
  for (const MetDialog& dialog : played.dialogs) {
    EXPECT_EQ(dialog.offeredName, proxy_.user) << report;
    EXPECT_EQ(dialog.offeredPassword, proxy_.password) << report;
  }
  EXPECT_EQ(FileContent(install_.Dir() + "Reader.txt"), "read again");
  EXPECT_EQ(Recorded("Reader"), "2, 0, 0, 0");
  EXPECT_EQ(server_.RequestCount(kCataloguePath), 1u);
  std::cout << "second run: " << report << std::endl;
}

// Run with a German user language (e2e_proxy_de): the program speaks German,
// the system's dialog its own language, and the way through the proxy is
// the same.
class ProxyLanguageEnv : public ProxyE2E {};

TEST_F(ProxyLanguageEnv, AGermanUserTypesTheProxyCredentials) {
  ASSERT_EQ(::GetUserDefaultLangID(), 0x0407) << "run with LC_ALL=de_DE.UTF-8";
  ServeUpdate();
  ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  const Played played =
      Play(child, [this](int) { return Right(); }, 120000, "credentials-de.bmp");
  const std::string report = Describe(played);
  ASSERT_TRUE(played.ended) << report;
  EXPECT_EQ(played.exitCode, 0) << report << "\n" << Log();
  ASSERT_FALSE(played.boxes.empty()) << report;
  EXPECT_NE(played.boxes[0].text, kConfirmConnect) << "question 101 in German";
  ASSERT_EQ(played.dialogs.size(), 1u) << report;
  EXPECT_TRUE(played.dialogs[0].duringConnectDialog) << report;
  EXPECT_EQ(FileContent(install_.Dir() + "Reader.txt"), "read through");
  EXPECT_EQ(server_.RequestCount("/PM50/Quoma/reader.cab"), 1u);
  std::cout << report << std::endl;
}

}  // namespace
}  // namespace e2e
