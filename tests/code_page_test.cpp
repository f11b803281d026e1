// The conversions between narrow and wide text, and the behaviour that
// depends on the narrow code page: the Japanese code page 932 and the
// Western 1252 of Windows, and UTF-8 on POSIX. Each case of a code page runs
// where it is in force and is skipped elsewhere.
#include <cstdlib>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "tests/test_support.h"
#include "text/utf8.h"
#include "driver/destination.h"

namespace ordil {
namespace {

using platform::narrowCodePage;
using testing::bytes;

TEST(CodePage, IsTheOneTheTestRunAskedFor) {
  // The CI runs this suite under chosen code pages; make sure it got them.
  const char* expected = std::getenv("ORDIL_EXPECT_CODE_PAGE");
  if (expected == nullptr) GTEST_SKIP() << "no code page asked for";
  EXPECT_EQ(std::to_string(narrowCodePage()), expected);
}

TEST(CodePage, KanaRoundTripsThroughShiftJis) {
  if (narrowCodePage() != 932) GTEST_SKIP() << "needs code page 932";
  std::string narrow;
  ASSERT_TRUE(platform::wideToNarrow(u"\u3042.ashx", &narrow));
  EXPECT_EQ(narrow, "\x82\xA0.ashx");
  std::u16string wide;
  ASSERT_TRUE(platform::narrowToWide(narrow, &wide));
  EXPECT_EQ(wide, u"\u3042.ashx");
}

TEST(CodePage, MissingCharacterBecomesTheConvertersSubstitute) {
  if (narrowCodePage() == platform::kUtf8CodePage) GTEST_SKIP() << "UTF-8 lacks nothing";
  // Thai lies outside both 932 and 1252, and has no best-fit there.
  std::string narrow;
  ASSERT_TRUE(platform::wideToNarrow(u"a\u0E01b", &narrow));
  EXPECT_EQ(narrow, "a?b");
  if (narrowCodePage() == 1252) {
    narrow.clear();
    ASSERT_TRUE(platform::wideToNarrow(u"\u3042", &narrow));
    EXPECT_EQ(narrow, "?");
  }
}

TEST(CodePage, AshxInsideADoubleByteCharacterIsNoMatch) {
  if (narrowCodePage() != 932) GTEST_SKIP() << "needs code page 932";
  // 83 61 is one katakana character whose second byte is the letter a, so
  // the bytes spell "ashx" but the characters do not.
  const std::string path = "\x83" "ashx";
  std::u16string wide;
  ASSERT_TRUE(platform::narrowToWide(path, &wide));
  ASSERT_EQ(wide.size(), 4u);
  EXPECT_FALSE(outputNameFor(path).has_value());
  EXPECT_FALSE(outputNameFor("dir\\" + path + ".txt").has_value());
  EXPECT_TRUE(outputNameFor("\x83" "a.ashx").has_value());
}

TEST(CodePage, ConversionsStopAtFirstNul) {
  std::u16string wide;
  ASSERT_TRUE(platform::utf8ToWide(bytes("ab\x00" "cd"), &wide));
  EXPECT_EQ(wide, u"ab");
  std::string narrow;
  ASSERT_TRUE(platform::wideToUtf8(std::u16string(u"xy\0z", 4), &narrow));
  EXPECT_EQ(narrow, "xy");
  std::u16string fromNarrow;
  ASSERT_TRUE(platform::narrowToWide(bytes("p\x00q"), &fromNarrow));
  EXPECT_EQ(fromNarrow, u"p");
  std::string toNarrow = "old";
  ASSERT_TRUE(platform::wideToNarrow(std::u16string(u"\0z", 2), &toNarrow));
  EXPECT_EQ(toNarrow, "");
}

TEST(CodePage, WideToUtf8ReplacesLoneSurrogates) {
  struct Case {
    std::u16string wide;
    std::string utf8;
  } cases[] = {
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {{0xD83D}, "\xEF\xBF\xBD"},
      {{0xDE00}, "\xEF\xBF\xBD"},
      {{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {{0xD83D, u'a'}, "\xEF\xBF\xBD" "a"},
      {{u'a', 0xD83D, 0xD83D, 0xDE00}, "a\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    std::string utf8;
    ASSERT_TRUE(platform::wideToUtf8(c.wide, &utf8));
    EXPECT_EQ(utf8, c.utf8);
  }
}

TEST(CodePage, WellFormedUtf8RoundTrips) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string utf8;
    for (auto n = rng() % 20; n > 0; --n) {
      auto cp = static_cast<char32_t>(rng() % 0x110000);
      if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 'a';
      appendUtf8(cp, &utf8);
    }
    std::u16string wide;
    ASSERT_TRUE(platform::utf8ToWide(utf8, &wide));
    std::string back;
    ASSERT_TRUE(platform::wideToUtf8(wide, &back));
    ASSERT_EQ(back, utf8);
  }
}

TEST(CodePage, NarrowIsUtf8WhereThePlatformSaysSo) {
  if (narrowCodePage() != platform::kUtf8CodePage) GTEST_SKIP() << "the narrow code page is not UTF-8";
  std::u16string wide;
  ASSERT_TRUE(platform::narrowToWide("\xE3\x81\x82.ashx", &wide));
  EXPECT_EQ(wide, u"\u3042.ashx");
  std::string narrow;
  ASSERT_TRUE(platform::wideToNarrow(wide, &narrow));
  EXPECT_EQ(narrow, "\xE3\x81\x82.ashx");
}

TEST(CodePage, AsciiSurvivesTheNarrowCodePage) {
  std::u16string wide;
  ASSERT_TRUE(platform::narrowToWide("C:\\data\\678.ashx", &wide));
  EXPECT_EQ(wide, u"C:\\data\\678.ashx");
  std::string narrow;
  ASSERT_TRUE(platform::wideToNarrow(wide, &narrow));
  EXPECT_EQ(narrow, "C:\\data\\678.ashx");
}

}  // namespace
}  // namespace ordil
