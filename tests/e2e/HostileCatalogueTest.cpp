// Catalogues written to make the real Upgrade.exe do more than they should,
// served on 127.0.0.1 and run as a quiet Setup run from the installation's
// "Bin\": what the hook programs were started with.
#include "tests/e2e/ServedRunTest.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/CatalogueCabinet.h"
#include "tests/support/HttpServer.h"

namespace e2e {
namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;


// A command line split as a program's start-up code splits it.
Lines Arguments(const std::string& commandLine) {
  const std::wstring wide(commandLine.begin(), commandLine.end());
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(wide.c_str(), &count);
  Lines split;
  if (!args) return split;
  for (int i = 0; i < count; ++i) {
    std::string narrow;
    for (const wchar_t* c = args[i]; *c; ++c) narrow.push_back(static_cast<char>(*c));
    split.push_back(narrow);
  }
  ::LocalFree(args);
  return split;
}

class HostileCatalogueE2E : public ServedRunTest {};

// A "Run" text holding double quotes (or ending in a backslash) reaches its
// hook as the one argument it is, never as more arguments.
TEST_F(HostileCatalogueE2E, QuotesInARunTextAddNoArguments) {
  const std::string injected = "a\" /extra \"b", folder = "C:\\Some Dir\\";
  const std::string catalogue =
      "[Components]\r\nTools=1,0,0,0\r\n"
      "[Tools]\r\nRequiresPMClosed=No\r\nHook1=First.exe\r\nHook2=Second.exe\r\n"
      "[First.exe]\r\nFile=tools.cab\r\nFileVersion=1,0,0,0\r\nRun=" + injected + "\r\n"
      "[Second.exe]\r\nFile=tools.cab\r\nFileVersion=1,0,0,0\r\nRun=" + folder + "\r\n";
  std::string hook;
  ASSERT_TRUE(ReadFileBytes(FixturePath("Hook.exe"), hook));
  server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", catalogue}}));
  server_.Serve("/PM50/Quoma/tools.cab", CabinetBytes({{"First.exe", hook}, {"Second.exe", hook}}));

  EXPECT_EQ(Run("/Setup /q"), 0);
  const std::string first = install_.Dir() + "First.exe", second = install_.Dir() + "Second.exe";
  std::string runs = FileContent(first + ".runs");
  EXPECT_EQ(Arguments(runs.substr(0, runs.find("\r\n"))), (Lines{first, injected})) << runs;
  runs = FileContent(second + ".runs");
  EXPECT_EQ(Arguments(runs.substr(0, runs.find("\r\n"))), (Lines{second, folder})) << runs;
}

// The reader cuts a value at "//" but drops every "=" after the first, so
// "file:/=/=/C:/..." reaches the program as a file URL. A catalogue served
// over HTTP may not send the program to the disk or to a share: the run
// fails with a log line, and nothing is read, installed or recorded. Without
// the refusal the cabinet on the disk would be installed.
TEST_F(HostileCatalogueE2E, AFileSourceInAServedCatalogueIsRefused) {
  const std::string folder = "C:\\LocalSource\\";
  RemoveTree(folder);
  ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(folder + "local.cab", CabinetBytes({{"Secret.txt", "from the disk"}})));
  const struct {
    const char* spelt;    // as the catalogue spells it
    const char* reached;  // as the program reads it
  } kSources[] = {{"file:/=/=/C:/LocalSource/local.cab", "file:///C:/LocalSource/local.cab"},
                  {"file:/=/evil/share/local.cab", "file://evil/share/local.cab"}};
  for (const auto& source : kSources) {
    SCOPED_TRACE(source.spelt);
    ResetMachineState();
    install_.Register();
    ::DeleteFileA((install_.Dir() + "Secret.txt").c_str());
    const std::string catalogue =
        "[Components]\r\nLocal=1,0,0,0\r\n"
        "[Local]\r\nRequiresPMClosed=No\r\nSourceDisksFiles=Local Files\r\n"
        "[Local Files]\r\n1=Secret.txt\r\n"
        "[Secret.txt]\r\nFile=" + std::string(source.spelt) + "\r\nFileVersion=1,0,0,0\r\n";
    server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", catalogue}}));

    EXPECT_EQ(Run("/Setup /q"), -1);
    const std::string log = FileContent(UserLogPath());
    EXPECT_NE(log.find(std::string("Refused to download '") + source.reached +
                       "': a catalogue from '" + server_.Url(kCataloguePath) +
                       "' may name HTTP sources only.\r\n"),
              std::string::npos)
        << log;
    EXPECT_FALSE(FileExists(install_.Dir() + "Secret.txt"));
    std::string recorded;
    EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, "Software\\Pellory\\Upgrade\\Components",
                               "Local", recorded))
        << recorded;
  }
  EXPECT_EQ(server_.RequestCount(kCataloguePath), 2u);  // each run read its catalogue
  RemoveTree(folder);
}

}  // namespace
}  // namespace e2e
