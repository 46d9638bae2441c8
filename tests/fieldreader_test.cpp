// Reading a log file as comma-delimited items: quoting, line ends, blanks and character sets.
#include "runtime/FieldReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/Error.h"
#include "tests/TestSupport.h"

namespace varn {
namespace {

using Items = std::vector<std::string>;

Items ReadAll(clsFieldReader& reader) {
  Items v;
  while (!reader.AtEnd()) v.push_back(reader.ReadItem());
  return v;
}

Items ItemsOf(const std::string& sBytes) {
  clsFieldReader reader;
  reader.OpenText(sBytes);
  return ReadAll(reader);
}

int32_t ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const clsError& e) {
    return e.Number();
  }
  return 0;
}

struct ReadCase {
  const char* sLabel;
  std::string sBytes;
  Items vItems;  // every item, blank ones included
};

TEST(FieldReaderTest, SplitsLinesIntoItems) {
  using namespace std::string_literals;
  const std::vector<ReadCase> vCases = {
      {"commas split a line", "a,b\r\nc\r\n", {"a", "b", "c"}},
      {"quotes keep commas",
       "\"PC01,08:00,09:00|,,|Guest:1.50,1.50\"\r\nEnd Total 1.50\r\n",
       {"PC01,08:00,09:00|,,|Guest:1.50,1.50", "End Total 1.50"}},
      {"leading spaces skipped, trailing kept", "   abc   ,  def  \n", {"abc   ", "def  "}},
      {"spaces inside quotes kept", "  \" a, b \"\n", {" a, b "}},
      {"text after a closing quote dropped", "\"abc\"def,ghi\n\"x\"  ,y\n", {"abc", "ghi", "x", "y"}},
      {"a quote inside a field is text", "ab\"c,d\n", {"ab\"c", "d"}},
      {"empty quotes", "\"\",x\n", {"", "x"}},
      {"unclosed quote runs to its line end", "\"abc,def\r\nghi", {"abc,def", "ghi"}},
      {"unclosed quote at the end of the file", "x\n\"abc,def", {"x", "abc,def"}},
      {"LF lines", "a\nb\n", {"a", "b"}},
      {"lone CR lines", "a\rb\rc", {"a", "b", "c"}},
      {"LF CR is two line ends", "a\n\rb", {"a", "", "b"}},
      {"blank lines give blank items", "a\r\n\r\n   \r\nb\r\n", {"a", "", "", "b"}},
      {"last line without a break", "a\r\nb", {"a", "b"}},
      {"trailing comma", "a,\r\nb", {"a", "", "b"}},
      {"spaces at the end of the file", "a\r\n   ", {"a", ""}},
      {"a tab is text", "\t,\tx\t\n", {"\t", "\tx\t"}},
      {"empty file", "", {}},
      {"one line break", "\n", {""}},
      {"BOM skipped", "\xEF\xBB\xBF#25/12/2003#\r\n", {"#25/12/2003#"}},
      {"UTF-8 kept", "caf\xC3\xA9,\xE2\x82\xAC 5\n", {"caf\xC3\xA9", "\xE2\x82\xAC 5"}},
      {"Windows-1252 converted",
       "caf\xE9,\x80 5\n\x93quoted\x94",
       {"caf\xC3\xA9", "\xE2\x82\xAC 5", "\xE2\x80\x9Cquoted\xE2\x80\x9D"}},
      {"undefined Windows-1252 bytes keep their value",
       "\x81\x8D\x8F\x90\x9D",
       {"\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"}},
      {"overlong UTF-8 is not UTF-8", "\xC0\xAF", {"\xC3\x80\xC2\xAF"}},
      {"encoded surrogate is not UTF-8", "\xED\xA0\x80", {"\xC3\xAD\xC2\xA0\xE2\x82\xAC"}},
      {"cut UTF-8 sequence is not UTF-8", "ab\xC3", {"ab\xC3\x83"}},
      {"BOM before Windows-1252", "\xEF\xBB\xBF\xE9t\xE9", {"\xC3\xA9t\xC3\xA9"}},
      {"NUL dropped", "a\0b,c\0\n"s, {"ab", "c"}},
      {"NUL dropped from Windows-1252", "\xE9\0x"s, {"\xC3\xA9x"}},
      {"NUL does not end a quoted field", "\"a\0,b\"\n"s, {"a,b"}},
  };
  for (const auto& c : vCases) {
    SCOPED_TRACE(c.sLabel);
    EXPECT_EQ(ItemsOf(c.sBytes), c.vItems);
  }
}

TEST(FieldReaderTest, OnlySpacesMakeAnItemBlank) {
  EXPECT_TRUE(IsBlankItem(""));
  EXPECT_TRUE(IsBlankItem("    "));
  EXPECT_FALSE(IsBlankItem("\t"));
  EXPECT_FALSE(IsBlankItem(" \xC2\xA0 "));
  EXPECT_FALSE(IsBlankItem(" x "));

  // Empty lines and lines of spaces are not counted; every comma-separated text is.
  Items vItems = ItemsOf("#25/12/2003#\r\n\r\n     \r\n\"PC01,a\", ,PC02\r\n\t\r\nEnd Total 1");
  size_t nNonBlank = 0;
  for (const auto& sItem : vItems) nNonBlank += IsBlankItem(sItem) ? 0 : 1;
  EXPECT_EQ(nNonBlank, 5u);
}

TEST(FieldReaderTest, ReadsAFileAndRefusesToReadPastItsEnd) {
  test::TempFolder folder;
  std::string sPath = test::WriteFile(folder / "25-12-2003.log", "#25/12/2003#\r\n\"PC01,08:00\"\r\nEnd Total 3.45");
  clsFieldReader reader;
  reader.Open(sPath);
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(ReadAll(reader), (Items{"#25/12/2003#", "PC01,08:00", "End Total 3.45"}));
  EXPECT_EQ(ErrorOf([&] { reader.ReadItem(); }), 62);
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());

  clsFieldReader emptyReader;
  emptyReader.Open(test::WriteFile(folder / "empty.log", ""));
  EXPECT_TRUE(emptyReader.AtEnd());
  EXPECT_EQ(ErrorOf([&] { emptyReader.ReadItem(); }), 62);
}

TEST(FieldReaderTest, MissingFilesAndFoldersAreClearErrors) {
  test::TempFolder folder;
  clsFieldReader reader;
  EXPECT_EQ(ErrorOf([&] { reader.Open(folder / "missing.log"); }), errFileNotFound);
  EXPECT_EQ(ErrorOf([&] { reader.Open(folder / "no folder/missing.log"); }), errFileNotFound);
  try {
    reader.Open(folder.Path().string());
    ADD_FAILURE() << "a folder was opened as a log file";
  } catch (const clsError& e) {
    EXPECT_EQ(e.Number(), 75);
    EXPECT_NE(e.Description().find("folder"), std::string::npos) << e.Description();
  }
  EXPECT_FALSE(reader.IsOpen());
}

TEST(FieldReaderTest, ReadsHugeLinesInLinearTime) {
  const size_t nSize = 50u << 20;
  std::string sLine(nSize, 'x');
  test::TempFolder folder;
  std::string sPath = test::WriteFile(folder / "no-line-break.log", sLine);
  std::string sManyItems;
  for (int n = 0; n < 300'000; ++n) sManyItems += "PC01, ";
  std::string sWestern(8u << 20, '\xE9');  // not UTF-8, so the whole file is read as Windows-1252
  auto tStart = std::chrono::steady_clock::now();

  clsFieldReader reader;
  reader.Open(sPath);
  Items vOne = ReadAll(reader);
  ASSERT_EQ(vOne.size(), 1u);
  EXPECT_EQ(vOne[0].size(), nSize);
  Items vQuoted = ItemsOf("\"" + sLine);
  ASSERT_EQ(vQuoted.size(), 1u);
  EXPECT_EQ(vQuoted[0].size(), nSize);
  Items vConverted = ItemsOf(sWestern);
  ASSERT_EQ(vConverted.size(), 1u);
  EXPECT_EQ(vConverted[0].size(), 2 * sWestern.size());
  EXPECT_EQ(ItemsOf(sManyItems).size(), 300'001u) << "the blank after the last comma is an item too";

  auto dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
  EXPECT_LT(dSeconds, 60) << "reading must not grow faster than the file";
}

}  // namespace
}  // namespace varn
