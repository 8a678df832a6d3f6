// An update is whole or not at all: the real Upgrade.exe, a served catalogue
// and cabinets, runs that fail half-way, downloads cut in the middle, and work
// an earlier run left for the next start of Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/ServedRunTest.h"
#include "tests/support/CatalogueCabinet.h"

namespace e2e {
namespace {

using namespace testing_support;

constexpr int kFailed = -1;
constexpr char kHooksKey[] = "Software\\Pellory\\Upgrade\\Hooks";

class WholeUpdateE2E : public ServedRunTest {
 protected:
  int Run(const std::string& args) {
    return AsInt(RunUpgrade(install_.InstalledUpgrade(), args + " " + UrlSwitch(), 90000));
  }
  void ServeInf(const std::vector<std::string>& lines) {
    server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", InfText(lines)}}));
  }
};

// A run that fails in either phase records no version of a component whose
// files never arrived, nor of a hook of that run: the next check offers them
// again.
TEST_F(WholeUpdateE2E, AVersionIsRecordedOnlyForWhatIsReallyInstalled) {
  // The second component's cabinet is missing: the download phase fails
  // after the first component was fetched.
  CatalogueComponent first{"First"}, second{"Second"};
  first.files = {{"First.txt", "first.cab"}};
  second.files = {{"Second.txt", "second.cab"}};
  server_.Serve(kCataloguePath, CatalogueCabinet({first, second}));
  server_.Serve("/PM50/Quoma/first.cab", CabinetBytes({{"First.txt", "first"}}));
  EXPECT_EQ(Run("/Setup /q"), kFailed);
  EXPECT_FALSE(FileExists(install_.Dir() + "First.txt"));
  EXPECT_EQ(Recorded("First"), "<none>") << Log();

  // A hook that cannot start fails the installation phase after the files
  // were put in place.
  ServeInf({"[Components]", "Player=2,0,0,0", "[Player]", "SourceDisksFiles=Player Files",
            "Hook1=Broken.exe", "[Player Files]", "1=Player.txt", "[Player.txt]",
            "File=player.cab", "FileVersion=2,0,0,0", "[Broken.exe]", "File=player.cab",
            "FileVersion=1,0,0,0"});
  server_.Serve("/PM50/Quoma/player.cab",
                CabinetBytes({{"Player.txt", "player"}, {"Broken.exe", "not a program"}}));
  EXPECT_EQ(Run("/Setup /q"), kFailed);
  const std::string log = Log();
  EXPECT_EQ(Recorded("Player"), "<none>") << log;
  std::string hook;
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kHooksKey, "Broken.exe", hook)) << hook;
}

}  // namespace
}  // namespace e2e
