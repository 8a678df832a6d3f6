// The INF reader's grammar and lookups, on bytes (files: LoadComponentsFromAFile).
#include "catalog/IniFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/catalog/CatalogTestUtil.h"

namespace {

IniFile Parsed(const std::string& text, uint16_t langId = 0x0409) {
  IniFile ini(langId);
  ini.Parse(text.data(), text.size());
  return ini;
}

std::string Dump(const IniFile& ini) {
  std::string out;
  for (const IniSection& s : ini.Sections()) {
    out += "[" + s.name + "]";
    for (const IniEntry& e : s.entries) out += "{" + e.key + "|" + e.value + "}";
  }
  return out;
}

TEST(IniGrammar, LinesSplitIntoSectionsAndPairs) {
  struct Case {
    const char* name;
    std::string text;
    std::string dump;
  } cases[] = {
      {"CR LF", "[A]\r\nk=v\r\n[B]\r\nx=y\r\n", "[A]{k|v}[B]{x|y}"},
      {"CR only", "[A]\rk=v\r[B]\rx=y\r", "[A]{k|v}[B]{x|y}"},
      {"LF only: no line at all", "[A]\nk=v\n", ""},
      {"last line without CR is lost", "[A]\rk=v\rlast=1", "[A]{k|v}"},
      {"lone LF joins lines", "[A]\rk=v\nw=x\r", "[A]{k|v\nwx}"},
      {"CR CR LF: one empty line", "[A]\r\r\nk=v\r", "[A]{k|v}"},
      {"blanks around header", "  [Components]  \r", "[Components]"},
      {"text before [", "xyz[Files]\r", "[Files]"},
      {"comment after value", "[A]\rKey=Value // note\r", "[A]{Key|Value}"},
      {"comment inside value", "[A]\rMore Info=a//b\r", "[A]{More Info|a}"},
      {"URL keeps the scheme", "[A]\rImage=http://host/x.bmp\r", "[A]{Image|http:}"},
      {"cut at [ before comment", "// [Old]\r", "[Old]"},
      {"further = dropped", "[A]\rName=a=b=c\rCmdLine=/a=1\r", "[A]{Name|abc}{CmdLine|/a1}"},
      {"= after // drops the line", "[A]\rx//=y\r", "[A]"},
      {"comment lines", "[A]\r; comment\r# comment\r; a=b\r", "[A]{; a|b}"},
      {"header without ]", "[A]\rk=1\r[Components\rj=2\r", "[A]{k|1}{j|2}"},
      {"text after ]", "[Name] x\r", "[Name] ]"},
      {"empty header", "[]\rk=v\r", "[]{k|v}"},
      {"untrimmed key and value", "[A]\rSize = 100\r", "[A]{Size | 100}"},
      {"trimmed line ends", "[A]\r\t k=v \t\r", "[A]{k|v}"},
      {"empty value and empty key", "[A]\rk=\r=v\r", "[A]{k|}{|v}"},
      {"keys before the first header", "k=v\r[A]\rj=w\r", "[A]{j|w}"},
      {"duplicates kept", "[A]\rk=1\rk=2\r[A]\rk=3\r", "[A]{k|1}{k|2}[A]{k|3}"},
      {"empty file text", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Dump(Parsed(c.text)), c.dump);
  }
}

TEST(IniGrammar, Utf16WithMarkReadsLikeItsAsciiText) {
  const std::string ascii = "[Components]\r\nPlayer=3;2,1,0,7\r\n";
  const std::string wide = catalog_test::Utf16(ascii, true);
  IniFile a = Parsed(ascii);
  IniFile w = Parsed(wide);
  EXPECT_EQ(Dump(w), Dump(a));
  EXPECT_EQ(w.GetValue("Components", "Player"), "3;2,1,0,7");
  // The mark is a character of the first line: a key line there keeps it.
  const std::string keyFirst = catalog_test::Utf16("k=v\r", true);
  EXPECT_EQ(DecodeIniText(keyFirst.data(), keyFirst.size()), "\xFFk=v\r");
  // Non-ASCII code units keep their low byte only.
  std::string u = std::string("\xFF\xFE", 2) + catalog_test::Utf16("[A]\rk=", false);
  u += std::string("\xE9\x00\x01\x04", 4);  // U+00E9, U+0401
  u += catalog_test::Utf16("\r", false);
  EXPECT_EQ(Parsed(u).GetValue("A", "k"), "\xE9\x01");
  // Without the mark, 16-bit text is bytes: nothing useful is found.
  EXPECT_EQ(Parsed(catalog_test::Utf16(ascii, false)).GetValue("Components", "Player"), "");
}

TEST(IniLookup, RawValuesAndSections) {
  IniFile ini = Parsed(
      "[Files]\rA=1\rA=2\r[components]\rKey=x\rEmpty=\r[Files]\rB=3\rA=4\r");
  EXPECT_EQ(ini.GetValue("Files", "A"), "1");
  EXPECT_EQ(ini.GetValue("FILES", "b"), "3");  // second section of the name
  EXPECT_EQ(ini.GetValue("Components", "KEY"), "x");
  EXPECT_EQ(ini.GetValue("Components", "Empty", "def"), "");
  EXPECT_EQ(ini.GetValue("Components", "Missing", "def"), "def");
  EXPECT_EQ(ini.GetValue("Components", "Missing"), "");
  EXPECT_EQ(ini.GetValue("Nowhere", "Key", nullptr), "");

  std::vector<IniEntry> list = {IniEntry{"pre", "existing", 0}};
  EXPECT_TRUE(ini.GetSectionEntries("files", list));
  ASSERT_EQ(list.size(), 3u);  // appended; the second [Files] is not listed
  EXPECT_EQ(list[1].key, "A");
  EXPECT_EQ(list[2].value, "2");
  std::vector<IniEntry> none;
  EXPECT_FALSE(ini.GetSectionEntries("Missing", none));
  IniFile empty = Parsed("[Empty]\r");
  EXPECT_TRUE(empty.GetSectionEntries("Empty", none));
  EXPECT_TRUE(none.empty());
}

const char kLocalized[] =
    "[C]\r"
    "Description=plain\r"
    "Description LANGID 9 SUBLANGID 2=british\r"
    "Description LANGID 7=german\r"
    "Title LANGID 9 SUBLANGID 1=\r"
    "Title=plain title\r"
    "Blank=\r"
    "Count=12KB\r"
    "Count LANGID 12=-7\r"
    "Word=abc\r";

TEST(IniLookup, LanguageAwareStringsForFourLanguages) {
  struct Case {
    uint16_t langId;
    const char* description;
    const char* title;
    int count;
  } cases[] = {
      {0x0409, "plain", "", 12},       // US English: empty long-tag key wins
      {0x0809, "british", "plain title", 12},
      {0x0407, "german", "plain title", 12},
      {0x0C07, "german", "plain title", 12},  // Austrian German: same primary
      {0x040C, "plain", "plain title", -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.langId);
    IniFile ini = Parsed(kLocalized, c.langId);
    EXPECT_EQ(ini.GetString("C", "Description", "def"), c.description);
    EXPECT_EQ(ini.GetString("C", "Title", "def"), c.title);
    EXPECT_EQ(ini.GetInt("C", "Count", 99), c.count);
    EXPECT_EQ(ini.GetString("C", "Blank", "def"), "def");
    EXPECT_EQ(ini.GetString("C", "Missing", "def"), "def");
    EXPECT_EQ(ini.GetInt("C", "Blank", 31), 31);
    EXPECT_EQ(ini.GetInt("C", "Word", 31), 0);
    EXPECT_EQ(ini.GetInt("C", "Missing", 31), 31);
  }
}

TEST(IniLookup, StringIntoBuffer) {
  IniFile ini = Parsed(kLocalized, 0x0409);
  char buffer[8];
  std::memset(buffer, 'X', sizeof(buffer));
  // Present but empty plain key: empty, not the default.
  EXPECT_EQ(ini.GetStringToBuffer("C", "Blank", "def", buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ini.GetStringToBuffer("C", "Missing", "def", buffer, sizeof(buffer)), 17u);
  EXPECT_STREQ(buffer, "def");
  // Cut to capacity less one, always terminated; the count is the full length.
  EXPECT_EQ(ini.GetStringToBuffer("C", "Description", "", buffer, 4), 5u);
  EXPECT_STREQ(buffer, "pla");
  EXPECT_EQ(ini.GetStringToBuffer("C", "Title", "def", buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ini.GetStringToBuffer("C", "Description", "", buffer, 0), 5u);
}

TEST(IniLookup, IntegerConversion) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"12", 12},   {"  +5x", 5},    {"-3", -3},      {"\t42 ", 42},
               {"abc", 0},   {"- 4", 0},      {"12KB", 12},    {"99999999999", 2147483647},
               {"-99999999999", -2147483647 - 1}, {"", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IniToInt(c.text), c.value);
  }
}

// The events a checker gets for each altered or dropped line.
class Recorder : public IniParseObserver {
 public:
  void OnLine(IniLineEvent event, size_t offset, const std::string&,
              const std::string&) override {
    events.push_back({event, offset});
  }
  std::vector<std::pair<IniLineEvent, size_t>> events;
};

TEST(IniGrammar, ObserverHearsEveryAlteredLine) {
  const std::string text =
      "k=v\r"            // 0: before any header
      "[A] x\r"          // 4
      "junk\r"           // 10
      "a=b=c\r"          // 15
      "u=http://x\r"     // 21
      "z//=1\r"          // 32
      "[B\r"             // 38
      "p[C]\r"           // 41
      "tail";            // 46
  Recorder r;
  IniFile ini(0x0409);
  ini.Parse(text.data(), text.size(), &r);
  const std::vector<std::pair<IniLineEvent, size_t>> want = {
      {IniLineEvent::kKeyOutsideSection, 0},    {IniLineEvent::kHeaderTrailingText, 4},
      {IniLineEvent::kDroppedNoMarker, 10},     {IniLineEvent::kExtraEqualsDropped, 15},
      {IniLineEvent::kCommentCut, 21},          {IniLineEvent::kCommentCut, 32},
      {IniLineEvent::kNoEqualsAfterCut, 32},    {IniLineEvent::kHeaderWithoutClose, 38},
      {IniLineEvent::kTextBeforeBracket, 41},   {IniLineEvent::kUnterminatedLastLine, 46},
  };
  EXPECT_EQ(r.events, want);
}

}  // namespace
