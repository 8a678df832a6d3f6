// catcheck on small catalogues with known traps (tests/unit/catalog/catcheck).
#include "tools/catcheck/CatalogChecker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

std::string Data(const std::string& name) {
  std::string path = std::string(CATCHECK_DATA_DIR) + "/" + name;
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
  path = "Z:" + path;  // the source tree as Wine sees it
#endif
  return path;
}

struct CatcheckRun { int code; std::string out; };

CatcheckRun Catcheck(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = RunCatcheck(args, out, err);
  return {code, out.str()};
}

// Each finding at its line; a clean catalogue prints nothing.
TEST(Catcheck, ExitCodesAndExactFindings) {
  const struct {
    const char* file;
    const char* cabinets;  // the cabinet folder, or null
    int code;
    std::vector<std::string> lines;  // each must appear in the output
  } cases[] = {
      {"clean.inf", nullptr, 0, {}},
      {"cabinets.inf", nullptr, 0, {}},  // cabinets are looked at only in a folder given
      {"lf-only.inf", nullptr, 1, {": the file has no carriage return (LF line ends)"}},
      {"dropped.inf",
       nullptr,
       1,
       {":6: hook 'H2' has no \"File\": the hook list ends here",
        ":7: Hook4 is never read: the list ends at Hook3",
        ":9: Add Registry2 is never read: the list ends at Add Registry1",
        ":10: ForceInstall=yes is not exactly \"Yes\": it reads as false",
        ":13: component 'A' is dropped: the file section 'noversion.dll' has no "
        "\"FileVersion\"",
        "5 findings"}},
      {"unsafe.inf",
       nullptr,
       1,
       {":3: component 'Ghost' has no section of its own",
        ":5: '//' cuts the line, what stays is 'Image=http:'",
        ":7: DeleteFiles=Gone names a section that does not exist",
        ":12: file name '..\\evil.dll' is absolute or climbs out",
        ":17: every '=' after the first is removed: the value reads '/a1'",
        ":21: DestDir=LDID_APP is no known folder",
        ":23: delete line 'HKLM,Software\\Pellory,' has no name",
        ":24: registry line 'hklm,Software\\X,Y' names no root",
        ":26: DWORD data 'ten' reads as 0",
        ":27: registry line 'HKCU,Software\\X,N,REG_SZ,ten' has no known flag",
        "11 findings"}},
      // Each line the reader alters or drops; a UTF-8 mark and a ';' comment are fine.
      {"reader-traps.inf",
       nullptr,
       1,
       {":3: text before '[' is removed, the line reads '[Old]': a header behind '//' is not",
        ":5: line feed without carriage return", ":7: Platform=256 matches no system",
        ":8: section [P] appears again (first on line 4)", ":14: key 'P' appears again",
        ":9: line dropped: its '=' stands after '//'", ":11: line dropped: it holds neither",
        ":10: section header without ']' is ignored", ":16: the last line has no carriage",
        ":15: text after ']' is part of the section name: the section is 'Q] '",
        "12 findings"}},
      // 2KB for 2048 bytes fits, 10 bytes for 5000 do not; c.cab is fine.
      {"cabinets.inf",
       "cabinets",
       1,
       {":14: cabinet 'missing.cab' is not in the cabinet folder",
        ":18: Size of 'h.cab' says 10 bytes, the cabinet has 5000 bytes", "2 findings"}},
  };
  for (const auto& c : cases) {
    const CatcheckRun run = c.cabinets ? Catcheck({Data(c.file), Data(c.cabinets)})
                                       : Catcheck({Data(c.file)});
    EXPECT_EQ(run.code, c.code) << c.file << "\n" << run.out;
    for (const std::string& line : c.lines)
      EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    if (c.code == 0) { EXPECT_EQ(run.out, ""); }
    EXPECT_EQ(run.out.find("c.cab"), std::string::npos) << run.out;
  }
  // Missing input or a missing cabinet folder is a usage error.
  EXPECT_EQ(Catcheck({Data("no-such.inf")}).code, 2);
  EXPECT_EQ(Catcheck({Data("clean.inf"), Data("no-such-folder")}).code, 2);
  EXPECT_EQ(Catcheck({}).code, 2);
}

}  // namespace
