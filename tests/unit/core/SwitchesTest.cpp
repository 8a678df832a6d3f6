#include "core/Switches.h"

#include <gtest/gtest.h>

namespace {

struct FlagCase {
  std::vector<std::string> args;
  const char* name;
  bool expected;
};

TEST(Switches, FlagsMatchWithoutCaseAfterDashOrSlash) {
  const FlagCase cases[] = {
      {{"/q"}, "q", true},
      {{"-Q"}, "q", true},
      {{"/Q"}, "q", true},
      {{"q"}, "q", false},             // not a switch without "-" or "/"
      {{"/qq"}, "q", false},           // the whole rest must equal the name
      {{"/q:1"}, "q", false},
      {{"/UNINSTALL"}, "Uninstall", true},
      {{"x", "/Setup"}, "Setup", true},
      {{"/Setup"}, "Uninstall", false},
      {{}, "q", false},
      {{"/"}, "q", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + (c.args.empty() ? "" : c.args[0]));
    EXPECT_EQ(HasSwitchIn(c.args, c.name), c.expected);
  }
}

TEST(Switches, ValueSwitchesAreCaseSensitiveAndNeedTheColon) {
  struct Case {
    std::vector<std::string> args;
    const char* name;
    const char* expected;
  } cases[] = {
      {{"/Component:x"}, "Component", "x"},
      {{"/component:x"}, "Component", ""},
      {{"/Componentx"}, "Component", ""},
      {{"/Component"}, "Component", ""},
      {{"/Component:"}, "Component", ""},
      {{"-Component:ID:42"}, "Component", "ID:42"},      // everything after the first colon
      {{"Component:x"}, "Component", ""},                // not a switch
      {{"/Component:a", "/Component:b"}, "Component", "a"},  // the first one wins
      {{"/URL:http://host/x y"}, "URL", "http://host/x y"},
      {{"/Pass:"}, "Pass", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    EXPECT_EQ(GetSwitchValueIn(c.args, c.name), c.expected);
  }
}

TEST(Switches, DecimalStopsAtTheFirstNonDigit) {
  EXPECT_EQ(ParseDecimal("1234"), 1234);
  EXPECT_EQ(ParseDecimal("-1"), -1);
  EXPECT_EQ(ParseDecimal("12ab"), 12);
  EXPECT_EQ(ParseDecimal("abc"), 0);
  EXPECT_EQ(ParseDecimal(""), 0);
  EXPECT_EQ(ParseDecimal("  77"), 77);
  EXPECT_EQ(ParseDecimal("99999999999"), 2147483647);
  EXPECT_EQ(ParseDecimal("-99999999999"), -2147483647 - 1);
}

}  // namespace
