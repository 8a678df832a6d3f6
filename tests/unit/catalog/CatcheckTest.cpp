// catcheck on small catalogues with known traps (tests/unit/catalog/catcheck).
#include "tools/catcheck/CatalogChecker.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string Data(const std::string& name) {
  std::string path = std::string(CATCHECK_DATA_DIR) + "/" + name;
#ifdef _WIN32
  // The build tree as Wine sees it.
  for (char& c : path)
    if (c == '/') c = '\\';
  path = "Z:" + path;
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
    int code;
    std::vector<std::string> lines;  // each must appear in the output
  } cases[] = {
      {"clean.inf", 0, {}},
      {"lf-only.inf", 1, {": the file has no carriage return (LF line ends)"}},
      {"dropped.inf",
       1,
       {":6: hook 'H2' has no \"File\": the hook list ends here",
        ":7: Hook4 is never read: the list ends at Hook3",
        ":9: Add Registry2 is never read: the list ends at Add Registry1",
        ":10: ForceInstall=yes is not exactly \"Yes\": it reads as false",
        ":13: component 'A' is dropped: the file section 'noversion.dll' has no "
        "\"FileVersion\"",
        "5 findings"}},
      {"unsafe.inf",
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
  };
  for (const auto& c : cases) {
    const CatcheckRun run = Catcheck({Data(c.file)});
    EXPECT_EQ(run.code, c.code) << c.file << "\n" << run.out;
    for (const std::string& line : c.lines)
      EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    if (c.code == 0) { EXPECT_EQ(run.out, ""); }
  }
  // Missing input or a missing cabinet folder is a usage error.
  EXPECT_EQ(Catcheck({Data("no-such.inf")}).code, 2);
  EXPECT_EQ(Catcheck({Data("clean.inf"), Data("no-such-folder")}).code, 2);
  EXPECT_EQ(Catcheck({}).code, 2);
  EXPECT_EQ(Catcheck({"--help"}).code, 0);
}

// Cabinets are looked for only when a folder is given: 2KB for 2048 bytes
// fits, 10 bytes for 5000 does not.
TEST(Catcheck, CabinetFolderChecksPresenceAndSizes) {
  EXPECT_EQ(Catcheck({Data("cabinets.inf")}).code, 0);
  const CatcheckRun with = Catcheck({Data("cabinets.inf"), Data("cabinets")});
  EXPECT_EQ(with.code, 1);
  for (const char* line : {":14: cabinet 'missing.cab' is not in the cabinet folder",
                           ":18: Size of 'h.cab' says 10 bytes, the cabinet has 5000 bytes",
                           "2 findings"})
    EXPECT_NE(with.out.find(line), std::string::npos) << line << "\n" << with.out;
  EXPECT_EQ(with.out.find("c.cab"), std::string::npos) << with.out;
}

// Each line the reader alters or drops, at its line number.
TEST(Catcheck, ReaderTrapsInText) {
  const std::string text =
      "\xEF\xBB\xBF[Components]\r\n"   // 1: a UTF-8 mark before a header is harmless
      "P=1,0,0,0\r\n"                  // 2
      "// [Old]\r\n"                   // 3: the header is live
      "[P]\r\n"                        // 4
      "Description=a\nMore=b\r\n"      // 5, 6: lone LF
      "Platform=256\r\n"               // 7
      "[P]\r\n"                        // 8: duplicate section
      "x//=y\r\n"                      // 9
      "[Broken\r\n"                    // 10
      "junk\r\n"                       // 11
      "; a comment\r\n"                // 12: fine
      "P=1,0,0,0\r\n"                  // 13: a key in the second [P]
      "P=2,0,0,0\r\n"                  // 14: duplicate key
      "[Q] x\r\n"                      // 15
      "tail=1";                        // 16
  std::string all = "\n";
  for (const CatcheckFinding& f : CheckCatalog(text, CatcheckOptions()))
    all += std::to_string(f.line) + ": " + f.text + "\n";
  for (const char* want :
       {"\n3: text before '[' is removed, the line reads '[Old]': a header behind '//' is not",
        "\n5: line feed without carriage return", "\n7: Platform=256 matches no system",
        "\n8: section [P] appears again (first on line 4)", "\n14: key 'P' appears again",
        "\n9: line dropped: its '=' stands after '//'", "\n11: line dropped: it holds neither",
        "\n10: section header without ']' is ignored", "\n16: the last line has no carriage",
        "\n15: text after ']' is part of the section name: the section is 'Q] '"})
    EXPECT_NE(all.find(want), std::string::npos) << want << all;
  EXPECT_EQ(all.find("\n1: "), std::string::npos) << all;
  EXPECT_EQ(all.find("\n12: "), std::string::npos) << all;
}

}  // namespace
