#include "cache/cache_record.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace ordil {
namespace {

using testing::bytes;

struct Decoded {
  bool ok;
  std::string mail, text;
  uint32_t position;
  std::string userId;
  size_t consumed;  // bytes of the record
};

Decoded decode(const std::string& data) {
  CacheRecord record;
  const char* error = nullptr;
  const char* end = decodeRecord(data.data(), data.data() + data.size(), &record, &error);
  if (end == nullptr) return {false, "", "", 0, "", 0};
  return {true, std::string(record.mail), std::string(record.text), record.position,
          std::string(record.userId),
          static_cast<size_t>(end - data.data())};
}

// The fixed part after the text: position 995 (E3 03 00 00), eight
// uninterpreted bytes, and the user id abc.
const std::string kTail = bytes("\xE3\x03\x00\x00" "\xAA\xBB\xCC\xDD\xEE\xFF\x11\x22" "\x03" "abc");

TEST(CacheRecord, WorkedRecordDecodes) {
  const std::string data = bytes("\x00" "\x05hello") + kTail + "next";
  const Decoded d = decode(data);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.mail, "");
  EXPECT_EQ(d.text, "hello");
  EXPECT_EQ(d.position, 995u);
  EXPECT_EQ(d.userId, "abc");
  EXPECT_EQ(d.consumed, data.size() - 4);  // the next record starts at "next"
}

TEST(CacheRecord, TextLengthsDecode) {
  struct Case {
    const char* name;
    std::string lengthBytes;
    size_t textSize;
    char firstTextByte;
  } cases[] = {
      {"short", bytes("\x05"), 5, 'A'},
      {"empty", bytes("\x00"), 0, 0},
      {"127 bytes", bytes("\x7F"), 127, 'a'},
      {"128 bytes", bytes("\x80\x01"), 128, 'a'},
      {"200 bytes", bytes("\xC8\x01"), 200, 'a'},
      {"300 bytes", bytes("\xAC\x02"), 300, 'a'},
      {"383 bytes", bytes("\xFF\x02"), 383, 'a'},
      {"384 bytes", bytes("\x80\x03"), 384, 'a'},
      {"1000 bytes", bytes("\xE8\x07"), 1000, 'a'},
      {"20000 bytes", bytes("\xA0\x9C\x01"), 20000, 'a'},
      {"starting with a tab", bytes("\x05"), 5, '\t'},
      {"starting with a line feed", bytes("\x05"), 5, '\n'},
      {"starting with 0x01", bytes("\x05"), 5, '\x01'},
      {"starting with 0x02", bytes("\x05"), 5, '\x02'},
      {"starting with 0x1F", bytes("\x03"), 3, '\x1F'},
      {"long, starting with a tab", bytes("\xAC\x02"), 300, '\t'},
      {"length in a padded 5 bytes", bytes("\x85\x80\x80\x80\x00"), 5, 'a'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text(c.textSize, 'x');
    if (!text.empty()) text[0] = c.firstTextByte;
    const std::string data = bytes("\x02" "ue") + c.lengthBytes + text + kTail;
    const Decoded d = decode(data);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.mail, "ue");
    EXPECT_EQ(d.text, text);
    EXPECT_EQ(d.position, 995u);
    EXPECT_EQ(d.userId, "abc");
    EXPECT_EQ(d.consumed, data.size());
  }
}

TEST(CacheRecord, EmptyTextBeforePositionStartingWithControlByteDecodes) {
  for (const char first : {'\x00', '\x01', '\x02', '\x09', '\x1F'}) {
    SCOPED_TRACE(static_cast<int>(first));
    std::string data = bytes("\x00\x00");
    data.push_back(first);
    data += bytes("\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00" "\x00");
    const Decoded d = decode(data);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(d.position, static_cast<uint8_t>(first));
    EXPECT_EQ(d.consumed, data.size());
  }
}

TEST(CacheRecord, PositionIsLittleEndian) {
  const std::string data = bytes("\x00\x00" "\x78\x56\x34\x12" "\x00\x00\x00\x00\x00\x00\x00\x00" "\x00");
  EXPECT_EQ(decode(data).position, 0x12345678u);
  const std::string high = bytes("\x00\x00" "\xFF\xFF\xFF\xFF" "\x00\x00\x00\x00\x00\x00\x00\x00" "\x00");
  EXPECT_EQ(decode(high).position, 0xFFFFFFFFu);
}

TEST(CacheRecord, FieldsAreCutAtNulButNextFieldStartsAfterFullLength) {
  const std::string data = bytes(
      "\x05" "ab\x00" "cd"      // mail "ab"
      "\x04" "hi\x00" "!"       // text "hi"
      "\x0A\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x04" "\x00" "xyz");     // user id empty
  const Decoded d = decode(data);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.mail, "ab");
  EXPECT_EQ(d.text, "hi");
  EXPECT_EQ(d.position, 10u);
  EXPECT_EQ(d.userId, "");
  EXPECT_EQ(d.consumed, data.size());
}

TEST(CacheRecord, MalformedTextLengthFails) {
  // Five bytes all saying "more follows", and a fifth byte with bits past 32.
  for (const std::string& length : {bytes("\x80\x80\x80\x80\x80\x01"),
                                    bytes("\xFF\xFF\xFF\xFF\x10")}) {
    const std::string data = bytes("\x00") + length + std::string(64, 'a') + kTail;
    EXPECT_FALSE(decode(data).ok);
  }
}

TEST(CacheRecord, EveryTruncatedPrefixFailsWithoutReadingPastIt) {
  const std::string record = bytes("\x03" "red" "\xAC\x02") + std::string(300, 't') + kTail;
  ASSERT_TRUE(decode(record).ok);
  for (size_t n = 0; n < record.size(); ++n) {
    // A heap copy of exactly n bytes, so that a sanitizer sees any overread.
    const auto copy = std::make_unique<char[]>(n);
    std::copy(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(n), copy.get());
    CacheRecord out;
    const char* error = nullptr;
    EXPECT_EQ(decodeRecord(copy.get(), copy.get() + n, &out, &error), nullptr) << n;
    EXPECT_NE(error, nullptr) << n;
  }
}

TEST(CacheRecord, ReadTextLengthReturnsByteAfterLength) {
  struct Case {
    std::string data;
    bool ok;
    uint32_t length;
    size_t lengthBytes;
  } cases[] = {
      {bytes("\x00"), true, 0, 1},
      {bytes("\x7F" "z"), true, 127, 1},
      {bytes("\x80\x01"), true, 128, 2},
      {bytes("\xFF\xFF\xFF\xFF\x0F"), true, 0xFFFFFFFFu, 5},
      {bytes("\xFF\xFF\xFF\xFF\x10"), false, 0, 0},
      {bytes("\x80\x80\x80\x80\x80"), false, 0, 0},
      {bytes("\x80"), false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.data));
    uint32_t length = 12345;
    const char* end = readTextLength(c.data.data(), c.data.data() + c.data.size(), &length);
    if (!c.ok) {
      EXPECT_EQ(end, nullptr);
      continue;
    }
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(static_cast<size_t>(end - c.data.data()), c.lengthBytes);
  }
}

TEST(RecordWalker, FilesOfEightBytesOrFewerHoldNoRecords) {
  for (size_t n = 0; n <= kCacheHeaderSize; ++n) {
    const std::string data(n, '\x05');
    RecordWalker walker(data);
    CacheRecord record;
    EXPECT_FALSE(walker.next(&record));
    EXPECT_FALSE(walker.failed());
  }
}

TEST(RecordWalker, StopsAtCutRecordAfterWholeOnes) {
  const std::string one = bytes("\x00" "\x05hello") + kTail;
  const std::string two = bytes("\x03" "big" "\x03" "bye") + kTail;
  const std::string data = "HEADER!!" + one + two + two.substr(0, 9);
  RecordWalker walker(data);
  CacheRecord record;
  ASSERT_TRUE(walker.next(&record));
  EXPECT_EQ(record.text, "hello");
  EXPECT_EQ(record.mail, "");
  ASSERT_TRUE(walker.next(&record));
  EXPECT_EQ(record.text, "bye");
  EXPECT_EQ(record.mail, "big");
  EXPECT_FALSE(walker.next(&record));
  EXPECT_TRUE(walker.failed());
  EXPECT_EQ(walker.offset(), 8 + one.size() + two.size());
  EXPECT_EQ(walker.errorMessage(), "record at byte " + std::to_string(walker.offset()) +
                                       ": position or user id length runs past the end of the data");
  EXPECT_FALSE(walker.next(&record));  // stays stopped
}

TEST(RecordWalker, FieldsOfEachRecordReplaceThoseBefore) {
  const std::string full = bytes("\x02" "ue" "\x01" "x" "\x0A\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00" "\x02" "id");
  const std::string bare = bytes("\x00" "\x00" "\x00\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00" "\x00");
  const std::string data = "12345678" + full + bare;
  RecordWalker walker(data);
  CacheRecord record;
  ASSERT_TRUE(walker.next(&record));
  ASSERT_TRUE(walker.next(&record));
  EXPECT_EQ(record.mail, "");
  EXPECT_EQ(record.text, "");
  EXPECT_EQ(record.position, 0u);
  EXPECT_EQ(record.userId, "");
  EXPECT_FALSE(walker.next(&record));
  EXPECT_FALSE(walker.failed());
}

// What a walk gives: the records' fields, then how it ended.
struct Walk {
  std::vector<std::string> fields;
  bool failed;
  uint64_t offset;
  std::string error;
  bool operator==(const Walk&) const = default;
};

void take(const CacheRecord& r, Walk* walk) {
  walk->fields.push_back(std::string(r.mail) + "|" + std::string(r.text) + "|" +
                         std::to_string(r.position) + "|" + std::string(r.userId));
}

// Walks data fed as windows of the bytes not yet walked plus up to step new
// bytes, each window in a fresh string so that stale views would show.
Walk walkInWindows(const std::string& data, size_t step) {
  Walk walk;
  RecordWalker walker;
  CacheRecord record;
  size_t fed = 0;
  std::string window;
  do {
    const size_t n = std::min(step, data.size() - fed);
    window = std::string(walker.unconsumed()) + data.substr(fed, n);
    fed += n;
    walker.feed(window, fed == data.size());
    while (walker.next(&record)) take(record, &walk);
  } while (walker.hungry());
  walk.failed = walker.failed();
  walk.offset = walker.offset();
  walk.error = walker.errorMessage();
  return walk;
}

TEST(RecordWalker, WindowsOfEverySizeWalkLikeTheWholeFile) {
  const std::string one = bytes("\x00" "\x05hello") + kTail;
  const std::string two = bytes("\x03" "big" "\x03" "bye") + kTail;
  const std::string longText = bytes("\x02" "ue" "\xAC\x02") + std::string(300, 'L') + kTail;
  const std::string malformedLength = bytes("\x00" "\x80\x80\x80\x80\x80\x01");
  const struct {
    const char* name;
    std::string data;
  } files[] = {
      {"empty", ""},
      {"header cut short", "HEAD"},
      {"header only", "HEADER!!"},
      {"whole records", "HEADER!!" + one + two + longText + one},
      {"last record cut", "HEADER!!" + one + longText + two.substr(0, 9)},
      {"long text cut", "HEADER!!" + two + longText.substr(0, 200)},
      {"malformed length", "HEADER!!" + one + malformedLength + two + two},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    Walk whole;
    RecordWalker walker(file.data);
    CacheRecord record;
    while (walker.next(&record)) take(record, &whole);
    whole.failed = walker.failed();
    whole.offset = walker.offset();
    whole.error = walker.errorMessage();
    for (size_t step = 1; step <= file.data.size() + 1; ++step) {
      SCOPED_TRACE("windows of " + std::to_string(step));
      ASSERT_TRUE(walkInWindows(file.data, step) == whole);
    }
  }
}

}  // namespace
}  // namespace ordil
