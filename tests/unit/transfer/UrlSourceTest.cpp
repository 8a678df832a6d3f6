// Which download sources a catalogue may name: over the network, HTTP ones
// only, whatever the name's spelling; from a local copy, any.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/CapturedLog.h"
#include "transfer/UrlResolution.h"

namespace {

using testing_support::CapturedLog;

const char kServed[] = "http://127.0.0.1:8080/PM50/Quoma/PM_InstallQuoma.cab";
const char kLocal[] = "file:///C:/Updates/PM_Install.cab";

TEST(UrlSource, ANetworkCatalogueNamesHttpSourcesOnly) {
  const struct {
    const char* catalogue;
    const char* source;
    bool allowed;
  } kCases[] = {
      {kServed, "Player.cab", true},
      {kServed, "Sub\\Player.cab", true},
      // Relative to the catalogue's folder: still asked of the same server.
      {kServed, "\\\\evil\\share\\Player.cab", true},
      {kServed, "FILE://evil/share/Player.cab", true},
      {kServed, "https://cdn.example/Player.cab", true},
      {kServed, "http://other.example/Player.cab", true},
      {kServed, "file://evil/share/Player.cab", false},
      {kServed, "file:///C:/Secret/Player.cab", false},
      {kServed, "ftp://evil/Player.cab", false},
      {"HTTPS://host/PM_Install.cab", "file://evil/share/Player.cab", false},
      // A local copy the user pointed the program at keeps its local sources.
      {kLocal, "Player.cab", true},
      {kLocal, "file://server/share/Player.cab", true},
      {"FILE:///C:/Updates/PM_Install.cab", "file:///D:/Player.cab", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.catalogue) + " names " + c.source);
    CapturedLog log;
    EXPECT_EQ(IsSourceAllowed(c.source, c.catalogue), c.allowed);
    if (c.allowed) {
      EXPECT_TRUE(log.lines.empty());
    } else {
      EXPECT_EQ(log.lines, std::vector<std::string>{
                               std::string("Refused to download '") + c.source +
                               "': a catalogue from '" + c.catalogue +
                               "' may name HTTP sources only."});
    }
  }
}

TEST(UrlSource, SchemeIsTheLeadingNameBeforeItsColon) {
  std::string schemes;
  for (const char* url : {"HTTP://h/x", "file:///C:/x", "svn+ssh://h", "C:\\dir\\x.cab",
                          "x.cab", "a b:c", ":x", "1http://h"})
    schemes += "[" + UrlScheme(url) + "]";
  // A drive letter reads as a one-letter scheme; the resolution never gives one
  // for a network catalogue, whose sources all start with its own scheme.
  EXPECT_EQ(schemes, "[http][file][svn+ssh][c][][][][]");
}

}  // namespace
