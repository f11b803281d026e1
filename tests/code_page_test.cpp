// Behaviour that depends on the narrow code page: the Japanese code page 932
// and the Western 1252 of Windows, and UTF-8 on POSIX. Each case runs where
// its code page is in force and is skipped elsewhere.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "text/encoding.h"
#include "xml/comment_xml_writer.h"

namespace ordil {
namespace {

using platform::narrowCodePage;

TEST(CodePage, IsTheOneTheTestRunAskedFor) {
  // The CI runs this suite under chosen code pages; make sure it got them.
  const char* expected = std::getenv("ORDIL_EXPECT_CODE_PAGE");
  if (expected == nullptr) GTEST_SKIP() << "no code page asked for";
  EXPECT_EQ(std::to_string(narrowCodePage()), expected);
}

TEST(CodePage, KanaRoundTripsThroughShiftJis) {
  if (narrowCodePage() != 932) GTEST_SKIP() << "needs code page 932";
  std::string narrow;
  wideToNarrow(u"\u3042.ashx", &narrow);
  EXPECT_EQ(narrow, "\x82\xA0.ashx");
  std::u16string wide;
  narrowToWide(narrow, &wide);
  EXPECT_EQ(wide, u"\u3042.ashx");
}

TEST(CodePage, MissingCharacterBecomesTheConvertersSubstitute) {
  if (narrowCodePage() == platform::kUtf8CodePage) GTEST_SKIP() << "UTF-8 lacks nothing";
  // Thai lies outside both 932 and 1252, and has no best-fit there.
  std::string narrow;
  wideToNarrow(u"a\u0E01b", &narrow);
  EXPECT_EQ(narrow, "a?b");
  if (narrowCodePage() == 1252) {
    narrow.clear();
    wideToNarrow(u"\u3042", &narrow);
    EXPECT_EQ(narrow, "?");
  }
}

TEST(CodePage, AshxInsideADoubleByteCharacterIsNoMatch) {
  if (narrowCodePage() != 932) GTEST_SKIP() << "needs code page 932";
  // 83 61 is one katakana character whose second byte is the letter a, so
  // the bytes spell "ashx" but the characters do not.
  const std::string path = "\x83" "ashx";
  std::u16string wide;
  narrowToWide(path, &wide);
  ASSERT_EQ(wide.size(), 4u);
  EXPECT_FALSE(outputNameFor(path).has_value());
  EXPECT_FALSE(outputNameFor("dir\\" + path + ".txt").has_value());
  EXPECT_TRUE(outputNameFor("\x83" "a.ashx").has_value());
}

}  // namespace
}  // namespace ordil
