#include "driver/path_argument.h"

#include <type_traits>
#include <typeinfo>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "tests/test_support.h"

namespace ordil {
namespace {

// What callers catch a failed cast as.
static_assert(std::is_base_of_v<std::bad_cast, clx::bad_lexical_cast>);

using testing::bytes;

TEST(PathArgument, ParseHexByteReadsLikeStreamExtraction) {
  struct Case {
    const char* text;
    uint32_t value;
  } cases[] = {
      {"41", 0x41}, {"ff", 0xFF}, {"FF", 0xFF}, {"aB", 0xAB}, {"2g", 0x02},
      {"0g", 0x00}, {" 4", 0x04}, {"+7", 0x07}, {"-1", 0xFFFFFFFFu},
      {"4", 0x04}, {"0", 0x00}, {"00", 0x00}, {"a", 0x0A}, {"\t9", 0x09},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseHexByte(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(PathArgument, ParseHexByteRejectsTextWithoutDigits) {
  for (const char* text : {"", "  ", "+", "-", "-g", "gg", ".a", "of", "0x", "0X", "%4", "x1", "+ "}) {
    SCOPED_TRACE(std::string("\"") + text + "\"");
    try {
      parseHexByte(text);
      ADD_FAILURE() << "no exception";
    } catch (const clx::bad_lexical_cast& e) {
      EXPECT_STREQ(e.what(), "bad lexical cast");
      EXPECT_EQ(e.source_type(), typeid(std::string));
      EXPECT_EQ(e.target_type(), typeid(uint32_t));
    }
  }
}

TEST(PathArgument, PercentDecodeTable) {
  struct Case {
    const char* argument;
    std::string decoded;
  } cases[] = {
      {"C%3A%5Cdata%5C678.ashx", "C:\\data\\678.ashx"},
      {"%41%42.ashx", "AB.ashx"},
      {"%E3%81%82.ashx", "\xE3\x81\x82.ashx"},
      {"%22C%3A%5Ca.ashx%22", "\"C:\\a.ashx\""},
      {"a%2gb.ashx", bytes("a\x02" "b.ashx")},
      {"a%4", bytes("a\x04")},
      {"% 4", bytes("\x04")},
      {"%+7", bytes("\x07")},
      {"%-1", "\xFF"},
      {"%0g.", bytes("\x00.")},
      {"a%00b.ashx", bytes("a\x00" "b.ashx")},
      {"a+b%2B", "a+b+"},
      {"plain", "plain"},
      // Malformed escapes stay literal percent signs.
      {"100%.ashx", "100%.ashx"},
      {"50%off.ashx", "50%off.ashx"},
      {"%", "%"},
      {"a%", "a%"},
      {"%0x.ashx", "%0x.ashx"},
      {"%%41", "%A"},
      {"%zz%41", "%zzA"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(percentDecode(c.argument), c.decoded) << c.argument;
  }
}

TEST(PathArgument, ArgumentWithoutPercentPassesThroughByteForByte) {
  for (const std::string& argument : {std::string("678.ashx"), std::string("\xFF\xFE bad.ashx"),
                                      std::string("\"quoted.ashx\""), std::string("a+b.ashx")}) {
    EXPECT_EQ(decodePathArgument(argument), argument);
  }
}

TEST(PathArgument, DecodedBytesAreReadAsUtf8) {
  EXPECT_EQ(decodePathArgument("%41%42.ashx"), "AB.ashx");
  EXPECT_EQ(decodePathArgument("a%00b.ashx"), "a");  // a decoded NUL ends the path
  EXPECT_EQ(decodePathArgument("%22C%3A%5Ca.ashx%22"), "\"C:\\a.ashx\"");
  EXPECT_EQ(decodePathArgument("100%.ashx"), "100%.ashx");
  if (platform::narrowCodePage() == platform::kUtf8CodePage) {
    EXPECT_EQ(decodePathArgument("%E3%81%82.ashx"), "\xE3\x81\x82.ashx");
    EXPECT_EQ(decodePathArgument("%FF%E3%81.ashx"), "\xEF\xBF\xBD\xEF\xBF\xBD.ashx");
  }
}

}  // namespace
}  // namespace ordil
