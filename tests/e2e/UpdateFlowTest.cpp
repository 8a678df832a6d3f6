// The update and Setup modes of the real Upgrade.exe: a catalogue cabinet
// and component cabinets served on 127.0.0.1 ("/URL:"), the program started
// from the installation's "Bin\" as the manager starts it, its boxes and
// dialogs answered the way a user answers them.
#include <gtest/gtest.h>

#include <string>

#include "frame/Handle.h"
#include "tests/e2e/ServedRunTest.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/HttpServer.h"

namespace e2e {
namespace {

using namespace testing_support;

constexpr int kFailed = -1;
constexpr char kCaptionUpdate[] = "PelloryManager Components Update";
constexpr char kCaptionInstall[] = "PelloryManager Install";
constexpr char kConfirmConnect[] =
    "PelloryManager Component update will connect to Pellory site and retrieve the list of "
    "available components. If you are not connected to the Internet please connect now.\n"
    "Do you want to continue?";
constexpr int kGroupBox = 219;  // only the connect dialog has it

CatalogueComponent Named(const std::string& name, int id, std::vector<CatalogueFile> files = {}) {
  CatalogueComponent component;
  component.name = name;
  component.id = id;
  component.files = std::move(files);
  return component;
}

// The folders the catalogue cabinets are unpacked into ("PGF*.tmp.d" in the
// temporary folder), with their backslash.
std::vector<std::string> UnpackFolders() {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  std::vector<std::string> folders;
  WIN32_FIND_DATAA found = {};
  frame::ScopedFind find(::FindFirstFileA((std::string(temp) + "PGF*.tmp.d").c_str(), &found));
  if (!find) return folders;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      folders.push_back(std::string(temp) + found.cFileName + "\\");
  } while (::FindNextFileA(find.get(), &found));
  return folders;
}

class UpdateFlowE2E : public ServedRunTest {
 protected:
  void ServeCatalogue(const std::vector<CatalogueComponent>& components,
                      const CabinetMembers& others = {}) {
    server_.Serve(kCataloguePath, CatalogueCabinet(components, others));
  }
  void ServeFile(const std::string& cabinet, const std::string& name, const std::string& text) {
    server_.Serve("/PM50/Quoma/" + cabinet, CabinetBytes({{name, text}}));
  }
  void Record(const std::string& component) {
    RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, component, "1, 0, 0, 0");
  }
};

TEST_F(UpdateFlowE2E, QuietSetupInstallsForcedAndPreselectedComponents) {
  CatalogueComponent forced = Named("Forced", 0, {{"Forced.txt", "forced.cab"}});
  forced.forceInstall = true;
  forced.initiallySelected = false;
  CatalogueComponent left = Named("Left", 0, {{"Left.txt", "left.cab"}});
  left.initiallySelected = false;
  ServeCatalogue({forced, Named("Chosen", 0, {{"Chosen.txt", "chosen.cab"}}), left});
  ServeFile("forced.cab", "Forced.txt", "forced");
  ServeFile("chosen.cab", "Chosen.txt", "chosen");
  ServeFile("left.cab", "Left.txt", "left");
  // Windows 7: the manager is started through a scheduled task. One that ran
  // but cannot be deleted has started the manager: no second, direct start.
  const std::string scheduler = install_.Dir() + "FakeScheduler.dll";
  ASSERT_TRUE(::CopyFileA(FixturePath("FakeScheduler.dll").c_str(), scheduler.c_str(), FALSE));
  const std::string server =
      "Software\\Classes\\CLSID\\{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}\\InprocServer32";
  std::string system;
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, server, "", system));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, server, "", scheduler));

  const int result = Run("/Setup /q");
  RegWriteString(HKEY_LOCAL_MACHINE, server, "", system);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(FileContent(install_.Dir() + "Forced.txt"), "forced");
  EXPECT_EQ(FileContent(install_.Dir() + "Chosen.txt"), "chosen");
  EXPECT_FALSE(FileExists(install_.Dir() + "Left.txt"));
  EXPECT_EQ(Recorded("Forced"), "1, 0, 0, 0");
  EXPECT_EQ(Recorded("Chosen"), "1, 0, 0, 0");
  EXPECT_EQ(Recorded("Left"), "<none>");
  EXPECT_EQ(server_.RequestCount("/PM50/Quoma/left.cab"), 0u);
  const std::string log = Log();
  EXPECT_NE(log.find("\r\nAfter CDownloadThread::SpawnDownloadThread.\r\nAfter CComModule::Term.\r\n"),
            std::string::npos) << log;
  EXPECT_NE(log.find("Error deleting the Task : 0x80070005"), std::string::npos) << log;
  EXPECT_EQ(log.find("starting it directly"), std::string::npos) << log;
  EXPECT_EQ(FileContent(scheduler + ".launches"), "\"" + install_.Bin() + "Manager.exe\"\r\n");
  // Run from "Bin\": the new catalogue is the kept copy.
  EXPECT_EQ(FileContent(install_.Bin() + "PM Install1.INF").rfind("[Components]\r\nForced=", 0), 0u);
  EXPECT_FALSE(FileExists(install_.Bin() + "PM_Install.cab"));
  EXPECT_NE(ui::WaitForWindow({"", "PelloryWndClass", 0}), nullptr)
      << "Setup did not start the manager at its end";
  ::Sleep(1000);  // a second start would have come by now
  EXPECT_EQ(CountProcessesNamed("Manager.exe"), 1);
  EXPECT_TRUE(CloseManager());
}

TEST_F(UpdateFlowE2E, QuietCheckSpeaksOnlyWhenSomethingIsNew) {
  Record("Current");
  ServeCatalogue({Named("Current", 0)});
  // A box would block the run: its end within the time says nothing was shown.
  // Run from elsewhere, the program keeps the catalogue copy in Bin.
  ScratchDir elsewhere("flow");
  const std::string exe = elsewhere.Path() + "Upgrade.exe";
  ASSERT_TRUE(::CopyFileA(BuiltUpgradeExe().c_str(), exe.c_str(), FALSE));
  EXPECT_EQ(AsInt(RunUpgrade(exe, "/q " + UrlSwitch())), 0);
  EXPECT_EQ(server_.RequestCount(kCataloguePath), 1u);
  EXPECT_EQ(FileContent(install_.Bin() + "PM Install1.INF"), CatalogueText({Named("Current", 0)}));
  EXPECT_FALSE(FileExists(elsewhere.Path() + "PM Install1.INF"));
  EXPECT_FALSE(FileExists(elsewhere.Path() + "PM_Install.cab"));

  CatalogueComponent notOffered = Named("NotOffered", 0, {{"No.txt", "no.cab"}});
  notOffered.initiallySelected = false;
  ServeCatalogue({Named("Current", 0), notOffered});
  EXPECT_EQ(Run("/q"), 0);

  // Pictures are deleted at the end: a name cannot reach out of the folder.
  CatalogueComponent fresh = Named("Fresh", 0, {{"Fresh.txt", "fresh.cab"}});
  fresh.image = "pictures/../../Victim.txt";
  const std::string victim = install_.Dir() + "Victim.txt";
  ASSERT_TRUE(WriteFileBytes(victim, "keep me"));
  // A picture named like a file of the program names only the unpacked one.
  CatalogueComponent current = Named("Current", 0);
  current.image = "Manager.exe";
  const std::string manager = FileContent(install_.Bin() + "Manager.exe");
  ServeCatalogue({current, fresh}, {{"Manager.exe", "a picture"}});
  ChildProcess child;
  ASSERT_TRUE(Start(child, "/q"));
  // The question comes before any picture is unpacked: a check that shows
  // no selection unpacks only its catalogue.
  ASSERT_NE(ui::WaitForWindow({"", "#32770", child.Id()}), nullptr);
  ASSERT_FALSE(UnpackFolders().empty());
  for (const std::string& folder : UnpackFolders())
    EXPECT_FALSE(FileExists(folder + "Manager.exe")) << "a picture was unpacked in " << folder;
  SeenBox box = Answer(child, IDNO);
  EXPECT_EQ(box.caption, kCaptionUpdate);
  EXPECT_EQ(box.text, "There are new PelloryManager components. Would you like to see them now?");
  EXPECT_EQ(AsInt(child.Wait()), 0);

  // Yes shows the selection; its Cancel installs nothing, not even a ticked
  // row whose cabinet is there.
  ServeFile("fresh.cab", "Fresh.txt", "fresh");
  // The pictures come from the fetched cabinet, kept beside the folder: one
  // damaged meanwhile leaves the selection without them, and the log says so.
  ChildProcess yes;
  ASSERT_TRUE(Start(yes, "/q"));
  ASSERT_NE(ui::WaitForWindow({"", "#32770", yes.Id()}), nullptr);
  for (const std::string& folder : UnpackFolders())
    ASSERT_TRUE(WriteFileBytes(folder.substr(0, folder.size() - 3), "no longer a cabinet"));
  Answer(yes, IDYES);
  HWND selection = WaitForDialogWith(yes.Id(), 201);
  ASSERT_NE(selection, nullptr) << "Yes did not show the selection dialog";
  ASSERT_TRUE(ui::TickRow(::GetDlgItem(selection, 201), 1));
  ASSERT_TRUE(::IsWindowEnabled(::GetDlgItem(selection, IDOK))) << "the row was not ticked";
  ui::PressButton(selection, IDCANCEL);
  EXPECT_EQ(AsInt(yes.Wait()), 0);
  EXPECT_NE(Log().find("Failed to unpack the component pictures from '"), std::string::npos)
      << Log();
  EXPECT_FALSE(FileExists(install_.Dir() + "Fresh.txt"));
  EXPECT_EQ(Recorded("Fresh"), "<none>");
  EXPECT_EQ(FileContent(victim), "keep me");
  EXPECT_TRUE(FileContent(install_.Bin() + "Manager.exe") == manager) << "Bin\\Manager.exe changed";
}

TEST_F(UpdateFlowE2E, OneComponentByNameOrIdentifier) {
  Record("Current");
  ServeCatalogue({Named("Current", 12), Named("Plugin", 7, {{"Plugin.txt", "plugin.cab"}})});
  ServeFile("plugin.cab", "Plugin.txt", "plug-in");

  // Up to date: nothing installed and no message, with or without NoMessages.
  EXPECT_EQ(Run("/q /Component:ID:12"), 0);
  EXPECT_EQ(Run("/q /Component:current"), 0);
  EXPECT_EQ(server_.RequestCount("/PM50/Quoma/plugin.cab"), 0u);

  // By name, any case: the message first, then the installation.
  ChildProcess child;
  ASSERT_TRUE(Start(child, "/q /Component:PLUGIN"));
  SeenBox box = Answer(child, IDOK);
  EXPECT_EQ(box.caption, kCaptionUpdate);
  EXPECT_EQ(box.text, "PelloryManager component \"Plugin\" needs to be updated. \n"
                      "Press OK button to update this component now.");
  EXPECT_EQ(AsInt(child.Wait()), 0);
  EXPECT_EQ(FileContent(install_.Dir() + "Plugin.txt"), "plug-in");
  EXPECT_EQ(Recorded("Plugin"), "1, 0, 0, 0");

  // By identifier with NoMessages: no box at all (it would block the run).
  ServeFile("plugin.cab", "Plugin.txt", "plug-in 2");
  EXPECT_EQ(Run("/q /NoMessages /Component:ID:7"), 0);
  EXPECT_EQ(FileContent(install_.Dir() + "Plugin.txt"), "plug-in 2");
}

TEST_F(UpdateFlowE2E, DevicesKeepOnlyNumberedComponents) {
  HttpRoute slow;  // long enough to look at the connect dialog
  slow.body = CatalogueCabinet({Named("Plain", 0, {{"Plain.txt", "plain.cab"}}),
                                Named("Reader", 3, {{"Reader.txt", "reader.cab"}}),
                                Named("Unnumbered", -1, {{"Minus.txt", "minus.cab"}})},
                               {{"Padding.bin", std::string(20000, 'p')}});
  slow.pieceSize = 2000;
  slow.pieceDelayMs = 100;
  server_.SetRoute(kCataloguePath, slow);
  ServeFile("plain.cab", "Plain.txt", "plain");
  ServeFile("reader.cab", "Reader.txt", "reader");
  ServeFile("minus.cab", "Minus.txt", "minus");

  // Setup without quiet asks nothing but shows the fetch, on top, as WebInstall.
  ChildProcess child;
  ASSERT_TRUE(Start(child, "/Setup /Devices"));
  HWND dialog = WaitForDialogWith(child.Id(), kGroupBox);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ui::WindowText(dialog), "PelloryManager WebInstall");
  EXPECT_NE(::GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_EQ(AsInt(child.Wait()), 0);
  EXPECT_EQ(FileContent(install_.Dir() + "Reader.txt"), "reader");
  EXPECT_FALSE(FileExists(install_.Dir() + "Plain.txt"));
  EXPECT_FALSE(FileExists(install_.Dir() + "Minus.txt"));
  EXPECT_EQ(Recorded("Plain"), "<none>");
  EXPECT_EQ(Recorded("Unnumbered"), "<none>");
}

TEST_F(UpdateFlowE2E, CatalogueThatCannotBeFetchedOrRead) {
  // Quiet: every failure ends with -1 and only the log tells. A catalogue
  // without components replaces neither the kept copy nor, by a member's
  // name, a file of the program.
  const std::string kept = install_.Bin() + "PM Install1.INF";
  ASSERT_TRUE(WriteFileBytes(kept, "[Components]\r\nOld=1\r\n"));
  const std::string manager = FileContent(install_.Bin() + "Manager.exe");
  server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", "[Components]\r\n"},
                                              {"Manager.exe", "impostor"}}));
  EXPECT_EQ(Run("/q"), kFailed);
  EXPECT_NE(Log().find("\r\nThe initialization cabinet file is corrupted and does not contain any "
                       "PelloryManager components.\r\n"),
            std::string::npos);
  EXPECT_EQ(FileContent(kept), "[Components]\r\nOld=1\r\n");
  EXPECT_TRUE(FileContent(install_.Bin() + "Manager.exe") == manager) << "Bin\\Manager.exe changed";

  // Interactive: a missing catalogue cabinet is reported with the URL and the reason.
  server_.ServeStatus(kCataloguePath, 404);
  ChildProcess notFound;
  ASSERT_TRUE(Start(notFound, ""));
  EXPECT_EQ(Answer(notFound, IDYES).text, kConfirmConnect);
  const std::string failed = "Failed to download components initialization file " +
                             server_.Url(kCataloguePath) + ".\nError 0x02. ";
  SeenBox error = Answer(notFound, IDOK);
  EXPECT_EQ(error.caption, kCaptionInstall);
  EXPECT_EQ(error.text.rfind(failed, 0), 0u) << error.text;
  EXPECT_EQ(AsInt(notFound.Wait()), kFailed);
  EXPECT_NE(Log().find("\r\n" + failed + "\r\n"), std::string::npos);

  // An error page instead of the cabinet is diagnosed, shown and logged.
  server_.Serve(kCataloguePath, "<html><body>Service unavailable</body></html>");
  ChildProcess page;
  ASSERT_TRUE(Start(page, ""));
  Answer(page, IDYES);
  SeenBox corrupted = Answer(page, IDOK);
  EXPECT_EQ(corrupted.caption, kCaptionUpdate);
  EXPECT_EQ(corrupted.text,
            "The cabinet file " + install_.Bin() + "PM_Install.cab contained corrupted data.");
  EXPECT_EQ(AsInt(page.Wait()), kFailed);
  EXPECT_NE(Log().find("Corrupted data\n\n<html><body>Service unavailable"), std::string::npos);

  // A cabinet without the catalogue: string 1012 naming where it was looked
  // for, then the thrown error's box. The kept copy neither stands in for it
  // nor goes.
  server_.Serve(kCataloguePath, CabinetBytes({{"Other.INF", "[Components]\r\n"}}));
  ChildProcess missing;
  ASSERT_TRUE(Start(missing, ""));
  Answer(missing, IDYES);
  SeenBox first = Answer(missing, IDOK);
  EXPECT_EQ(first.caption, kCaptionUpdate);
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  const std::string head = "The intialization cabinet file is corrupted. Failed to extract "
                           "components initialization file " + std::string(temp) + "PGF";
  const std::string tail = ".tmp.d\\PM Install1.INF.";
  EXPECT_EQ(first.text.rfind(head, 0), 0u) << first.text;
  EXPECT_EQ(first.text.size() > tail.size() &&
                first.text.compare(first.text.size() - tail.size(), tail.size(), tail) == 0,
            true) << first.text;
  SeenBox second = Answer(missing, IDOK);
  EXPECT_EQ(second.caption, kCaptionInstall);
  EXPECT_FALSE(second.text.empty());
  EXPECT_EQ(AsInt(missing.Wait()), kFailed);
  EXPECT_EQ(FileContent(kept), "[Components]\r\nOld=1\r\n");
}

TEST_F(UpdateFlowE2E, ServerDownAfterTheDamagedFilesAreGone) {
  const std::string damaged = install_.Dir() + "Plug~1.dll";
  ASSERT_TRUE(WriteFileBytes(damaged, "mangled"));
  const std::string url = server_.Url(kCataloguePath);
  server_.Stop();

  ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  SeenBox sweep = Answer(child, IDOK);
  EXPECT_EQ(sweep.caption, kCaptionUpdate);
  EXPECT_EQ(sweep.text.rfind("There are several damaged PelloryManager binary files", 0), 0u);
  EXPECT_EQ(Answer(child, IDYES).text, kConfirmConnect);
  EXPECT_FALSE(FileExists(damaged));
  // WinInet's own code: the box says what WinInet says about it.
  SeenBox error = Answer(child, IDOK);
  EXPECT_EQ(error.caption, kCaptionInstall);
  EXPECT_EQ(error.text, "The attempt to connect to the server failed.");
  EXPECT_EQ(AsInt(child.Wait()), kFailed);
  EXPECT_NE(Log().find("\r\nFailed to download components initialization file " + url +
                       ".\nError 0x0" "2efd. The attempt to connect to the server failed.\r\n"),
            std::string::npos) << Log();

  // Quiet: nothing shown, the reason in the log.
  EXPECT_EQ(Run("/q"), kFailed);
  EXPECT_NE(Log().find("\r\nFailed to download INF file. Error 0x02efd\r\n"), std::string::npos);
}

// A row's text. Across processes Wine hands the text over in UTF-16, so ask
// for it in that form; the names here are ASCII.
std::string RowText(HWND list, int row) {
  wchar_t text[256] = L"";
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0, SMTO_BLOCK, 5000,
                             &length) ||
      length >= 256 ||
      !::SendMessageTimeoutW(list, LB_GETTEXT, static_cast<WPARAM>(row),
                             reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &length))
    return "<unreadable>";
  std::string ascii;
  for (const wchar_t* c = text; *c; ++c) ascii += static_cast<char>(*c);
  return ascii;
}

TEST_F(UpdateFlowE2E, InteractiveUpdateFromQuestionToCompletion) {
  Record("Current");
  CatalogueComponent extra = Named("Extra", 0, {{"Extra.txt", "extra.cab"}});
  extra.image = "pictures\\Extra.bmp";
  ServeCatalogue({Named("Current", 0), extra, Named("Second", 0, {{"Second.txt", "second.cab"}})},
                 {{"Extra.bmp", "BM not really a picture"}});
  HttpRoute slow;  // long enough to see the progress dialog
  slow.body = CabinetBytes({{"Extra.txt", std::string(40000, 'x')}});
  slow.pieceSize = 2000;
  slow.pieceDelayMs = 100;
  server_.SetRoute("/PM50/Quoma/extra.cab", slow);
  ServeFile("second.cab", "Second.txt", "second");

  ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  SeenBox ask = Answer(child, IDYES);
  EXPECT_EQ(ask.caption, kCaptionUpdate);
  EXPECT_EQ(ask.text, kConfirmConnect);

  constexpr int kList = 201, kSizeText = 208;
  HWND selection = WaitForDialogWith(child.Id(), kList);
  ASSERT_NE(selection, nullptr) << "no selection dialog";
  EXPECT_EQ(ui::WindowText(selection), kCaptionUpdate);
  // The picture is unpacked into a folder of the fetch's own, not beside the program.
  EXPECT_FALSE(FileExists(install_.Bin() + "Extra.bmp"));
  std::string picture;
  for (const std::string& folder : UnpackFolders())
    if (FileExists(folder + "Extra.bmp")) picture = folder + "Extra.bmp";
  EXPECT_FALSE(picture.empty()) << "no unpacked picture";
  HWND list = ::GetDlgItem(selection, kList);
  ASSERT_EQ(::SendMessageA(list, LB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(RowText(list, 0), "Current");
  EXPECT_EQ(RowText(list, 1), "Extra");
  EXPECT_EQ(RowText(list, 2), "Second");
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(selection, IDOK)));

  // Tick "Extra" by its box, as a click there does.
  ASSERT_TRUE(ui::TickRow(list, 1));
  EXPECT_EQ(ui::ControlText(selection, kSizeText), "1KB");
  ASSERT_TRUE(::IsWindowEnabled(::GetDlgItem(selection, IDOK)));
  ui::PressButton(selection, IDOK);

  ui::WindowQuery progress;
  progress.caption = "PelloryManager Components Download";
  progress.processId = child.Id();
  EXPECT_NE(ui::WaitForWindow(progress), nullptr) << "no progress dialog";
  EXPECT_EQ(AsInt(child.Wait()), 0);
  EXPECT_EQ(FileContent(install_.Dir() + "Extra.txt"), std::string(40000, 'x'));
  EXPECT_FALSE(FileExists(install_.Dir() + "Second.txt"));
  EXPECT_EQ(Recorded("Extra"), "1, 0, 0, 0");
  EXPECT_EQ(Recorded("Second"), "<none>");
  EXPECT_TRUE(UnpackFolders().empty()) << "the unpacked catalogue and pictures go at the end";
  // The confirmed selection runs as Setup does: the manager is started at the end.
  EXPECT_TRUE(CloseManager());
  EXPECT_NE(Log().find("\r\nAfter CComModule::Term.\r\n"), std::string::npos);
}

// The selection dialog's installation ends the program with its own result:
// a failed run -1 after its box, a cancelled one -1, and one that leaves a
// file for the next start of Windows 36 when nothing asked (a quiet check
// whose new components the user chose to see).
TEST_F(UpdateFlowE2E, AnInteractiveUpdateEndsWithTheRunsResult) {
  Record("Current");
  HttpRoute slow;
  slow.body = CabinetBytes({{"Slow.txt", std::string(200000, 's')}});
  slow.pieceSize = 2000;
  slow.pieceDelayMs = 100;
  server_.SetRoute("/PM50/Quoma/slow.cab", slow);
  server_.ServeStatus("/PM50/Quoma/missing.cab", 404);
  ServeFile("held.cab", "Held.txt", "new");
  ServeCatalogue({Named("Current", 0), Named("Missing", 0, {{"Missing.txt", "missing.cab"}}),
                  Named("Slow", 0, {{"Slow.txt", "slow.cab"}}),
                  Named("Held", 0, {{"Held.txt", "held.cab"}})});
  const auto chooseRow = [&](ChildProcess& child, int row) {
    HWND selection = WaitForDialogWith(child.Id(), 201);
    ASSERT_NE(selection, nullptr) << "no selection dialog";
    ASSERT_TRUE(ui::TickRow(::GetDlgItem(selection, 201), row));
    ui::PressButton(selection, IDOK);
  };

  ChildProcess failed;
  ASSERT_TRUE(Start(failed, ""));
  EXPECT_EQ(Answer(failed, IDYES).text, kConfirmConnect);
  chooseRow(failed, 1);
  const SeenBox error = Answer(failed, IDOK);
  EXPECT_EQ(error.caption, kCaptionInstall);
  EXPECT_FALSE(error.text.empty());
  EXPECT_EQ(AsInt(failed.Wait()), kFailed);
  EXPECT_EQ(Recorded("Missing"), "<none>");

  ChildProcess cancelled;
  ASSERT_TRUE(Start(cancelled, ""));
  Answer(cancelled, IDYES);
  chooseRow(cancelled, 2);
  ui::WindowQuery progress;
  progress.caption = "PelloryManager Components Download";
  progress.processId = cancelled.Id();
  HWND dialog = ui::WaitForWindow(progress);
  ASSERT_NE(dialog, nullptr) << "no progress dialog";
  ui::PressButton(dialog, IDCANCEL);
  EXPECT_EQ(Answer(cancelled, IDYES).text,
            "Download is in progress. Are you sure you want to abort it now?");
  EXPECT_EQ(AsInt(cancelled.Wait()), kFailed);
  EXPECT_FALSE(FileExists(install_.Dir() + "Slow.txt"));

  ASSERT_TRUE(WriteFileBytes(install_.Dir() + "Held.txt", "old"));
  HeldFile holder;
  ASSERT_TRUE(holder.Hold(install_.Dir() + "Held.txt"));
  ChildProcess restart;
  ASSERT_TRUE(Start(restart, "/q"));
  EXPECT_EQ(Answer(restart, IDYES).text,
            "There are new PelloryManager components. Would you like to see them now?");
  chooseRow(restart, 3);
  EXPECT_EQ(AsInt(restart.Wait()), 36);
  EXPECT_TRUE(holder.Release());
  EXPECT_EQ(FileContent(install_.Dir() + "Held.txt"), "old");
  EXPECT_EQ(Recorded("Held"), "1, 0, 0, 0");
}

// A copy that fails half-way: the run puts back what it changed (a file it
// had left for the next start of Windows too), says so in its error box,
// asks for no restart, and starts again the manager it closed.
TEST_F(UpdateFlowE2E, AFailedCopyPutsTheInstallationBackAndSaysSo) {
  CatalogueComponent pair = Named("Pair", 0, {{"A.txt", "pair.cab"}, {"Sub\\B.txt", "pair.cab"}});
  pair.requiresPMClosed = true;
  ServeCatalogue({pair});
  server_.Serve("/PM50/Quoma/pair.cab", CabinetBytes({{"A.txt", "new a"}, {"B.txt", "new b"}}));
  // "Sub" is a file: B.txt cannot be put into place.
  ASSERT_TRUE(WriteFileBytes(install_.Dir() + "Sub", "a file, not a folder"));
  const std::string a = install_.Dir() + "A.txt";
  ASSERT_TRUE(WriteFileBytes(a, "old a"));

  HeldFile holder;
  ASSERT_TRUE(holder.Hold(a));
  ChildProcess manager;
  ASSERT_TRUE(StartManager(manager));
  ChildProcess child;
  ASSERT_TRUE(Start(child, "/Setup"));
  EXPECT_EQ(Answer(child, IDOK).text.rfind("PelloryManager is running.", 0), 0u);
  const SeenBox error = Answer(child, IDOK);
  EXPECT_EQ(error.caption, kCaptionInstall);
  EXPECT_NE(error.text.find("Sub\\B.txt"), std::string::npos) << error.text;
  EXPECT_NE(error.text.find("The update failed. The installation was restored as it was "
                            "before the update."),
            std::string::npos)
      << error.text;
  EXPECT_EQ(AsInt(child.Wait()), kFailed) << "a box came after the error";
  EXPECT_TRUE(holder.Release());
  EXPECT_TRUE(CloseManager()) << "the manager the run closed was not started again";
  EXPECT_EQ(Log().find("Files wait for the next start of Windows"), std::string::npos) << Log();
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_EQ(FileContent(a), "old a");
  EXPECT_FALSE(FileExists(a + ".1"));
}

// A package that did not run fails the run with the reason in the log, and
// no component that lists it is recorded (the next check offers it again).
// A package cabinet that does not unpack fails those components only: the
// others are installed, and a later component that lists the same package
// (the same file, or another file of that cabinet with that package) shares
// its outcome without the cabinet being tried again. A package cabinet that
// unpacks but whose program is missing or cannot be run ends the
// installation there: nothing after it is fetched.
TEST_F(UpdateFlowE2E, APackageThatDidNotRunLeavesEveryComponentThatListsItUnrecorded) {
  CatalogueFile setup{"PackSetup.exe", "pack.cab"};
  setup.package = "PackSetup.exe";
  CatalogueFile alsoSetup{"AlsoSetup.exe", "pack.cab"};
  alsoSetup.package = "PackSetup.exe";
  ServeCatalogue({Named("Pack", 0, {setup}), Named("Other", 0, {{"Other.txt", "other.cab"}}),
                  Named("Again", 0, {setup}), Named("Also", 0, {alsoSetup})});
  std::string damaged = CabinetBytes({{"PackSetup.exe", std::string(5000, 'p')}});
  damaged[damaged.size() - 100] ^= 0x55;  // the data no longer matches its checksum
  server_.Serve("/PM50/Quoma/pack.cab", damaged);
  ServeFile("other.cab", "Other.txt", "other");

  EXPECT_EQ(Run("/Setup /q"), kFailed);
  EXPECT_EQ(Recorded("Pack"), "<none>");
  EXPECT_EQ(Recorded("Again"), "<none>");
  EXPECT_EQ(Recorded("Also"), "<none>");
  EXPECT_EQ(Recorded("Other"), "1, 0, 0, 0");
  EXPECT_EQ(FileContent(install_.Dir() + "Other.txt"), "other");
  EXPECT_EQ(server_.RequestCount("/PM50/Quoma/pack.cab"), 1u);
  std::string log = Log();
  for (const char* component : {"Pack", "Again", "Also"})
    EXPECT_NE(log.find(std::string("Component '") + component +
                       "' is not installed: the package 'PackSetup.exe' of '"),
              std::string::npos)
        << component << "\n" << log;

  const struct {
    const char* what;
    CabinetMembers members;
  } kCabinets[] = {{"the program is missing", {{"Readme.txt", "no program here"}}},
                   {"the program is no program", {{"PackSetup.exe", "just text"}}}};
  for (const auto& cabinet : kCabinets) {
    SCOPED_TRACE(cabinet.what);
    ResetMachineState();
    install_.Register();
    server_.ClearRequests();
    ServeCatalogue({Named("Pack", 0, {setup}), Named("Later", 0, {{"Later.txt", "later.cab"}})});
    server_.Serve("/PM50/Quoma/pack.cab", CabinetBytes(cabinet.members));
    ServeFile("later.cab", "Later.txt", "later");

    EXPECT_EQ(Run("/Setup /q"), kFailed);
    EXPECT_EQ(Recorded("Pack"), "<none>");
    EXPECT_EQ(Recorded("Later"), "<none>");
    EXPECT_FALSE(FileExists(install_.Dir() + "Later.txt"));
    EXPECT_EQ(server_.RequestCount("/PM50/Quoma/later.cab"), 0u);
    log = Log();
    EXPECT_NE(log.find("Failed to launch package process '"), std::string::npos) << log;
    EXPECT_NE(log.find("Component 'Pack' is not installed: the package 'PackSetup.exe' of "
                       "'pack.cab' could not be started. Error 0x0"),
              std::string::npos)
        << log;
  }
}

}  // namespace
}  // namespace e2e
