// The INF reader's grammar and lookups, on bytes.
#include "catalog/IniFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

IniFile Parsed(const std::string& text, uint16_t langId = 0x0409) {
  IniFile ini(langId);
  ini.Parse(text.data(), text.size());
  return ini;
}

// ASCII text as UTF-16LE code units, with or without the FF FE mark.
std::string Utf16(const std::string& text, bool withMark) {
  std::string out = withMark ? std::string("\xFF\xFE", 2) : std::string();
  for (char c : text) out += std::string{c, '\0'};
  return out;
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
  const struct {
    const char* name;
    std::string text;
    std::string dump;
  } cases[] = {
      {"CR LF", "[A]\r\nk=v\r\n[B]\r\nx=y\r\n", "[A]{k|v}[B]{x|y}"},
      {"CR only", "[A]\rk=v\r[B]\rx=y\r", "[A]{k|v}[B]{x|y}"},
      {"LF only: no line at all", "[A]\nk=v\n", ""},
      {"last line without CR is lost", "[A]\rk=v\rlast=1", "[A]{k|v}"},
      {"lone LF joins lines", "[A]\rk=v\nw=x\r", "[A]{k|v\nwx}"},
      {"a URL keeps its scheme", "[A]\rImage=http://host/x.bmp // x\r", "[A]{Image|http:}"},
      {"text before [ goes", "  // [Old]  \r", "[Old]"},
      {"further = dropped", "[A]\rName=a=b=c\rCmdLine=/a=1\r", "[A]{Name|abc}{CmdLine|/a1}"},
      {"= after // drops the line", "[A]\rx//=y\r", "[A]"},
      {"comment lines", "[A]\r; comment\r# comment\r; a=b\r", "[A]{; a|b}"},
      {"header without ]", "[A]\rk=1\r[Components\rj=2\r", "[A]{k|1}{j|2}"},
      {"text after ]", "[Name] x\r", "[Name] ]"},
      {"untrimmed key and value", "[A]\r\t Size = 100 \t\r", "[A]{Size | 100}"},
      {"empty value and empty key", "[A]\rk=\r=v\r", "[A]{k|}{|v}"},
      {"keys before the first header", "k=v\r[A]\rj=w\r", "[A]{j|w}"},
      {"duplicates kept", "[A]\rk=1\rk=2\r[A]\rk=3\r", "[A]{k|1}{k|2}[A]{k|3}"},
  };
  for (const auto& c : cases) EXPECT_EQ(Dump(Parsed(c.text)), c.dump) << c.name;
}

TEST(IniGrammar, Utf16WithMarkReadsLikeItsAsciiText) {
  const std::string ascii = "[Components]\r\nPlayer=3;2,1,0,7\r\n";
  EXPECT_EQ(Dump(Parsed(Utf16(ascii, true))), "[Components]{Player|3;2,1,0,7}");
  // The mark is a character of the first line: a key line there keeps it.
  const std::string keyFirst = Utf16("k=v\r", true);
  EXPECT_EQ(DecodeIniText(keyFirst.data(), keyFirst.size()), "\xFFk=v\r");
  // Non-ASCII code units keep their low byte only.
  std::string u = std::string("\xFF\xFE", 2) + Utf16("[A]\rk=", false);
  u += std::string("\xE9\x00\x01\x04", 4) + Utf16("\r", false);  // U+00E9, U+0401
  EXPECT_EQ(Parsed(u).GetValue("A", "k"), "\xE9\x01");
  // Without the mark, 16-bit text is bytes: nothing useful is found.
  EXPECT_EQ(Parsed(Utf16(ascii, false)).GetValue("Components", "Player"), "");
}

TEST(IniLookup, RawValuesAndSections) {
  IniFile ini = Parsed("[Files]\rA=1\rA=2\r[components]\rKey=x\rEmpty=\r[Files]\rB=3\rA=4\r");
  // Any case; the first value wins; later sections of a name are searched too.
  EXPECT_EQ(ini.GetValue("Files", "A") + ini.GetValue("FILES", "b") +
                ini.GetValue("Components", "KEY") + ini.GetValue("Components", "Empty", "def"),
            "13x");
  EXPECT_EQ(ini.GetValue("Components", "Missing", "def"), "def");
  EXPECT_EQ(ini.GetValue("Nowhere", "Key", nullptr), "");
  std::vector<IniEntry> list = {IniEntry{"pre", "existing", 0}};
  EXPECT_TRUE(ini.GetSectionEntries("files", list));
  ASSERT_EQ(list.size(), 3u);  // appended; the second [Files] is not listed
  EXPECT_EQ(list[1].key + list[2].value, "A2");
  EXPECT_FALSE(ini.GetSectionEntries("Missing", list));
}

const char kLocalized[] =
    "[C]\rDescription=plain\rDescription LANGID 9 SUBLANGID 2=british\r"
    "Description LANGID 7=german\rTitle LANGID 9 SUBLANGID 1=\rTitle=plain title\r"
    "Blank=\rCount=12KB\rCount LANGID 12=-7\rWord=abc\r";

TEST(IniLookup, LanguageAwareStringsAndNumbers) {
  // US English takes its empty long-tag key; Austrian German the German one.
  std::string got;
  for (uint16_t langId : {0x0409, 0x0809, 0x0407, 0x0C07, 0x040C}) {
    IniFile ini = Parsed(kLocalized, langId);
    got += ini.GetString("C", "Description", "def") + "|" + ini.GetString("C", "Title", "def") +
           "|" + std::to_string(ini.GetInt("C", "Count", 99)) + "\n";
  }
  EXPECT_EQ(got, "plain||12\nbritish|plain title|12\ngerman|plain title|12\n"
                 "german|plain title|12\nplain|plain title|-7\n");
  IniFile ini = Parsed(kLocalized, 0x0409);
  EXPECT_EQ(ini.GetString("C", "Blank", "def"), "def");  // empty reads as missing
  EXPECT_EQ(ini.GetInt("C", "Blank", 31), 31);
  EXPECT_EQ(ini.GetInt("C", "Word", 31), 0);
  EXPECT_EQ(IniToInt("\t+5x"), 5);
  EXPECT_EQ(IniToInt("- 4"), 0);
  EXPECT_EQ(IniToInt("99999999999"), 2147483647);
  EXPECT_EQ(IniToInt("-99999999999"), -2147483647 - 1);

  // Into a buffer: cut to capacity less one, always terminated; the count is
  // the full length.
  char buffer[8] = "XXXXXXX";
  EXPECT_EQ(ini.GetStringToBuffer("C", "Description", "", buffer, 4), 5u);
  EXPECT_STREQ(buffer, "pla");
  EXPECT_EQ(ini.GetStringToBuffer("C", "Description", "", nullptr, 0), 5u);
}

}  // namespace
