// The dry run ("/DryRun"), as an administrator uses it before a real run:
// the real Upgrade.exe fetches the catalogue from a server on 127.0.0.1,
// says in Update.json (and interactively in a box) what it would do, and
// leaves the machine exactly as it was; the real run then changes what the
// dry run listed.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/ServedRunTest.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/JsonValue.h"
#include "tests/support/MachineSnapshot.h"

namespace e2e {
namespace {

using namespace testing_support;

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kLineKey[] = "Software\\Pellory\\DryRunLine";

class DryRunE2E : public ServedRunTest {
 protected:
  void TearDown() override {
    ServedRunTest::TearDown();
    RegDeleteTree(HKEY_LOCAL_MACHINE, kLineKey);
  }

  // Everything a run of the program may change: the installation, the
  // program's folder in the user's documents, the temporary folder, the
  // product's keys, the restart's work. The log and the summary are what a
  // dry run writes: their folder is made first, and they are left out.
  MachineSnapshot Machine() const {
    const std::string log = UserLogPath();
    const std::string pellory = log.substr(0, log.find("\\Logs\\") + 1);
    ::CreateDirectoryA(pellory.c_str(), nullptr);
    ::CreateDirectoryA((pellory + "Logs").c_str(), nullptr);
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    MachineSnapshot snapshot;
    snapshot.Folder(install_.Dir())
        .Folder(pellory, {"Update.log", "Update.json"})
        .Folder(temp)
        .Key(HKEY_LOCAL_MACHINE, "HKLM", "SOFTWARE\\Pellory")
        .Key(HKEY_CURRENT_USER, "HKCU", "Software\\Pellory")
        .Key(HKEY_LOCAL_MACHINE, "HKLM", kUninstallKey)
        .Key(HKEY_LOCAL_MACHINE, "HKLM", kRunOnce)
        .Value(HKEY_LOCAL_MACHINE, "HKLM", kSessionManager, "PendingFileRenameOperations");
    return snapshot;
  }

  JsonValue Summary() const {
    const std::string log = UserLogPath();
    const std::string text =
        FileContent(log.substr(0, log.find_last_of('\\') + 1) + "Update.json");
    JsonValue value;
    std::string error;
    EXPECT_TRUE(ParseJson(text, value, &error)) << error << "\n" << text;
    return value;
  }

  // The summary's files, path -> action.
  static std::map<std::string, std::string> Files(const JsonValue& summary) {
    std::map<std::string, std::string> files;
    for (const JsonValue& file : summary["files"].items) files[file["path"].text] = file["action"].text;
    return files;
  }

  // "Books": a file the user has (held open by a program), a new one, and a
  // registry line.
  void ServeBooks() {
    CatalogueComponent books = ComponentWith("Books", {{"Books.txt", "books.cab", "2,0,0,0"},
                                                       {"Shelf.txt", "books.cab", "2,0,0,0"}});
    books.addRegistry = {std::string("HKLM,") + kLineKey + ",Shelf,FLG_ADDREG_TYPE_SZ,placed"};
    server_.Serve(kCataloguePath, CatalogueCabinet({books}));
    server_.Serve("/PM50/Quoma/books.cab",
                  CabinetBytes({{"Books.txt", "new books"}, {"Shelf.txt", "shelf"}}));
    ASSERT_TRUE(WriteFileBytes(install_.Dir() + "Books.txt", "old books"));
  }
};

// A quiet Setup dry run with a file in use: 36, nothing changed, and the
// summary lists each file with what would become of it, the registry line
// and the restart. The real run then does just that.
TEST_F(DryRunE2E, ASetupDryRunChangesNothingAndTheRealRunChangesWhatItListed) {
  ServeBooks();
  const std::string books = install_.Dir() + "Books.txt";
  const std::string shelf = install_.Dir() + "Shelf.txt";
  HeldFile holder;
  ASSERT_TRUE(holder.Hold(books));

  const MachineSnapshot before = Machine();
  EXPECT_EQ(Run("/Setup /q /DryRun"), 36);
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});
  EXPECT_FALSE(CloseManager()) << "a dry run starts no manager";

  const JsonValue dry = Summary();
  EXPECT_TRUE(dry["dryRun"].boolean);
  EXPECT_EQ(dry["mode"].text, "setup");
  EXPECT_EQ(dry["result"].text, "restartRequired");
  ASSERT_EQ(dry["components"].items.size(), 1u);
  const JsonValue& component = dry["components"].items[0];
  EXPECT_EQ(component["action"].text, "wouldInstall");
  ASSERT_EQ(component["registry"].items.size(), 1u);
  EXPECT_EQ(component["registry"].items[0].text,
            std::string("add HKLM\\") + kLineKey + "\\Shelf");
  EXPECT_EQ(Files(dry), (std::map<std::string, std::string>{{books, "wouldDefer"},
                                                            {shelf, "wouldInstall"}}));
  for (const JsonValue& file : dry["files"].items) {
    const bool isBooks = file["path"].text == books;
    EXPECT_EQ(file["exists"].boolean, isBooks);
    EXPECT_EQ(file["inUse"].boolean, isBooks);
    EXPECT_EQ(file["offeredVersion"].text, "2.0.0.0");
    EXPECT_EQ(file["installedVersion"].kind, JsonValue::Kind::kNull);
  }
  ASSERT_EQ(dry["restartReasons"].items.size(), 1u);
  EXPECT_EQ(dry["restartReasons"].items[0].text, books);

  // The real run: the same files, put in place or left for the restart.
  EXPECT_EQ(Run("/Setup /q"), 36);
  ASSERT_TRUE(holder.Release());
  CloseManager();
  EXPECT_EQ(Files(Summary()), (std::map<std::string, std::string>{{books, "deferred"},
                                                                   {shelf, "installed"}}));
  EXPECT_EQ(FileContent(shelf), "shelf");
  std::string line;
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kLineKey, "Shelf", line));
  EXPECT_EQ(line, "placed");
}

// One component by name, then the quiet check before and after it is
// installed, and a catalogue that cannot be had: each dry run changes
// nothing and ends as its real run would.
TEST_F(DryRunE2E, ANamedComponentAndTheQuietCheckDryRunAsTheirRealRunsWouldEnd) {
  ServeBooks();
  const std::string books = install_.Dir() + "Books.txt";
  const std::string shelf = install_.Dir() + "Shelf.txt";

  MachineSnapshot before = Machine();
  EXPECT_EQ(Run("/q /DryRun"), 0);
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});
  JsonValue summary = Summary();
  EXPECT_EQ(summary["mode"].text, "quiet");
  EXPECT_EQ(summary["components"].items[0]["action"].text, "wouldInstall");

  EXPECT_EQ(Run("/q /NoMessages /Component:Books /DryRun"), 0);
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});
  summary = Summary();
  EXPECT_EQ(summary["mode"].text, "component");
  EXPECT_EQ(summary["result"].text, "success");
  const std::map<std::string, std::string> planned = Files(summary);
  EXPECT_EQ(planned, (std::map<std::string, std::string>{{books, "wouldInstall"},
                                                        {shelf, "wouldInstall"}}));

  // The real run changes those files (and its own records), nothing else.
  EXPECT_EQ(Run("/q /NoMessages /Component:Books"), 0);
  std::map<std::string, std::string> changed;
  for (const std::string& change : SnapshotChanges(before, Machine())) {
    for (const auto& file : planned)
      if (change.rfind("+ " + file.first + " ", 0) == 0) changed[file.first] = "wouldInstall";
  }
  EXPECT_EQ(changed, planned);
  EXPECT_EQ(FileContent(books), "new books");

  // Up to date now (as recorded, and without files to look at): the quiet
  // check offers nothing.
  server_.Serve(kCataloguePath, CatalogueCabinet({ComponentWith("Books", {})}));
  before = Machine();
  EXPECT_EQ(Run("/q /DryRun"), 0);
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});
  summary = Summary();
  EXPECT_EQ(summary["components"].items[0]["action"].text, "upToDate");
  EXPECT_EQ(summary["files"].items.size(), 0u);

  // A cabinet the real run would refuse to fetch (a file share named by a
  // catalogue from the network) fails it, and so the dry run.
  server_.Serve(kCataloguePath,
                CatalogueCabinet({ComponentWith("Far", {{"Far.txt", "file:/=/=/C:/far.cab"}})}));
  EXPECT_EQ(Run("/Setup /q /DryRun"), -1);
  EXPECT_EQ(Summary()["components"].items[0]["action"].text, "failed");
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});

  server_.ServeStatus(kCataloguePath, 404);
  EXPECT_EQ(Run("/Setup /q /DryRun"), -1);
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});
  EXPECT_EQ(Summary()["result"].text, "failed");
}

// Interactively, the selection dialog's OK shows what would happen instead
// of installing: one box, then the program ends; nothing is changed.
TEST_F(DryRunE2E, TheSelectionDialogsOkShowsWhatWouldHappen) {
  ServeBooks();
  const MachineSnapshot before = Machine();
  ChildProcess child;
  ASSERT_TRUE(Start(child, "/DryRun"));
  ASSERT_NE(Answer(child, IDYES).window, nullptr) << "no question before the connection";
  HWND selection = WaitForDialogWith(child.Id(), 201);
  ASSERT_NE(selection, nullptr) << "no selection dialog";
  ASSERT_TRUE(ui::TickRow(::GetDlgItem(selection, 201), 0));
  ui::PressButton(selection, IDOK);
  const SeenBox report = Answer(child, IDOK);
  EXPECT_EQ(report.text.rfind("This was a dry run: nothing was changed on this computer.", 0), 0u)
      << report.text;
  EXPECT_NE(report.text.find("Books would be installed."), std::string::npos) << report.text;
  EXPECT_NE(report.text.find(UserLogPath()), std::string::npos) << report.text;
  EXPECT_EQ(AsInt(child.Wait()), 0);
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});
  EXPECT_EQ(Summary()["components"].items[0]["action"].text, "wouldInstall");
}

// The mode switch the manager asks for, as a dry run: it waits for no
// process, deletes nothing and starts nothing.
TEST_F(DryRunE2E, AModeSwitchDryRunDoesNothing) {
  const std::string plugin = install_.Bin() + "Plugins\\Reader.dll";
  ::CreateDirectoryA((install_.Bin() + "Plugins").c_str(), nullptr);
  ASSERT_TRUE(WriteFileBytes(plugin, "plug-in"));
  const MachineSnapshot before = Machine();
  // This test's own process stands for the manager: it never ends meanwhile.
  EXPECT_EQ(AsInt(RunUpgrade(install_.InstalledUpgrade(),
                             "/SwitchMode:" + std::to_string(::GetCurrentProcessId()) +
                                 " /RemoveFile:" + plugin + " /DryRun",
                             20000)),
            0);
  EXPECT_EQ(SnapshotChanges(before, Machine()), std::vector<std::string>{});
  EXPECT_FALSE(CloseManager()) << "a dry run starts no manager";
  const JsonValue summary = Summary();
  EXPECT_EQ(summary["mode"].text, "switchmode");
  EXPECT_TRUE(summary["dryRun"].boolean);
}

}  // namespace
}  // namespace e2e
