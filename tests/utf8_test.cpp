#include <random>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "tests/test_support.h"
#include "text/utf8.h"

namespace ordil {
namespace {

using testing::bytes;

constexpr char16_t R = 0xFFFD;

TEST(Utf8Codec, ReplacesEachMaximalSubpart) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string wide;
  } cases[] = {
      {"ascii", "abc", u"abc"},
      {"empty", "", u""},
      {"two-byte", "\xC3\xA9", u"\u00E9"},
      {"kana", "\xE3\x81\x82", u"\u3042"},
      {"four-byte", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"max scalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"the standard's example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       {u'a', R, R, R, u'b', R, u'c', R, R, u'd'}},
      {"overlong two-byte", "\xC0\xAF", {R, R}},
      {"overlong three-byte", "\xE0\x80\xAF", {R, R, R}},
      {"encoded surrogate", "\xED\xA0\x80", {R, R, R}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
      {"F5 lead", "\xF5\x80", {R, R}},
      {"truncated at the end", "a\xE3\x81", {u'a', R}},
      {"lone continuation", "\x80z", {R, u'z'}},
      {"FF", "\xFF", {R}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8ToUtf16(c.utf8), c.wide);
    // Where the platform converts UTF-8 with our codec, it must agree;
    // elsewhere its converter may count replacements differently, but it
    // must still replace every ill-formed byte and keep the rest.
    std::u16string wide = u"not empty";
    ASSERT_TRUE(platform::utf8ToWide(c.utf8, &wide));
    if (platform::narrowCodePage() == platform::kUtf8CodePage) {
      EXPECT_EQ(wide, c.wide);
    } else {
      std::u16string kept;
      for (const char16_t u : c.wide) if (u != R) kept.push_back(u);
      std::u16string platformKept;
      for (const char16_t u : wide) if (u != R) platformKept.push_back(u);
      EXPECT_EQ(platformKept, kept);
      EXPECT_EQ(wide.empty(), c.wide.empty());
    }
  }
}

}  // namespace
}  // namespace ordil
