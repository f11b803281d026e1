#include "tools/cache_builder.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace ordil::tools {
namespace {

using ordil::testing::bytes;

TEST(CacheBuilder, TextLengthIsInSevenBitGroups) {
  struct Case {
    uint32_t length;
    std::string encoded;
  } cases[] = {{0, bytes("\x00")},        {5, "\x05"},
               {127, "\x7F"},             {128, "\x80\x01"},
               {200, "\xC8\x01"},         {300, "\xAC\x02"},
               {1000, "\xE8\x07"},        {0xFFFFFFFFu, "\xFF\xFF\xFF\xFF\x0F"}};
  for (const Case& c : cases) {
    std::string out;
    appendTextLength(c.length, &out);
    EXPECT_EQ(out, c.encoded) << c.length;
  }
}

TEST(CacheBuilder, DescriptionParsesEscapesAndSkipsComments) {
  std::vector<Comment> records;
  std::string error;
  ASSERT_TRUE(parseDescription("# position, user id, mail, text\n"
                               "995\tabc\t\thello\n"
                               "\n"
                               "10\tu\\\\1\tshita red\ta\\tb\\nc\\r\\x00\\xE3\\x81\\x82\r\n",
                               &records, &error))
      << error;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].position, 995u);
  EXPECT_EQ(records[0].userId, "abc");
  EXPECT_EQ(records[0].mail, "");
  EXPECT_EQ(records[0].text, "hello");
  EXPECT_EQ(records[1].userId, "u\\1");
  EXPECT_EQ(records[1].mail, "shita red");
  EXPECT_EQ(records[1].text, bytes("a\tb\nc\r\x00\xE3\x81\x82"));
}

TEST(CacheBuilder, DescriptionErrorsNameTheLine) {
  struct Case {
    const char* description;
    const char* error;
  } cases[] = {
      {"1\ta\tb\n", "line 1: expected 4 tab-separated fields"},
      {"# ok\nx\ta\tb\tc\n", "line 2: position is not a 32-bit unsigned number"},
      {"4294967296\ta\tb\tc", "line 1: position is not a 32-bit unsigned number"},
      {"1\ta\tb\tc\\", "line 1: backslash at the end of a field"},
      {"1\ta\tb\t\\xZ1", "line 1: \\x needs two hexadecimal digits"},
      {"1\ta\tb\t\\q", "line 1: unknown escape \\q"},
  };
  for (const Case& c : cases) {
    std::vector<Comment> records;
    std::string error;
    EXPECT_FALSE(parseDescription(c.description, &records, &error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(CacheBuilder, RandomFilesDecodeBackToTheirRecords) {
  for (const RandomMix mix : {RandomMix::kRealistic, RandomMix::kAnyBytes}) {
    const std::vector<Comment> records = randomRecords(3, 500, mix);
    EXPECT_EQ(randomRecords(3, 500, mix)[499].text, records[499].text);  // repeatable
    const std::string file = buildCacheFile(records);
    RecordWalker walker(file);
    CacheRecord record;
    size_t i = 0;
    for (; walker.next(&record); ++i) {
      ASSERT_LT(i, records.size());
      auto cut = [](const std::string& s) { return s.substr(0, s.find('\0')); };
      EXPECT_EQ(fieldValue(record.mail), cut(records[i].mail));
      EXPECT_EQ(fieldValue(record.text), cut(records[i].text));
      EXPECT_EQ(record.position, records[i].position);
      EXPECT_EQ(fieldValue(record.userId), cut(records[i].userId));
    }
    EXPECT_FALSE(walker.failed());
    EXPECT_EQ(i, records.size());
  }
}

}  // namespace
}  // namespace ordil::tools
