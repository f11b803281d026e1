#include "cache/cache_record.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "tools/cache_builder.h"

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
  Status status;
  const char* end = decodeRecord(data.data(), data.data() + data.size(), &record, &status);
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

TEST(CacheRecord, FieldsKeepTheirStoredBytesAndTheirValuesEndAtNul) {
  const std::string data = bytes(
      "\x05" "ab\x00" "cd"      // mail "ab"
      "\x04" "hi\x00" "!"       // text "hi"
      "\x0A\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x04" "\x00" "xyz");     // user id empty
  const Decoded d = decode(data);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.mail, bytes("ab\x00" "cd"));
  EXPECT_EQ(d.text, bytes("hi\x00" "!"));
  EXPECT_EQ(d.position, 10u);
  EXPECT_EQ(d.userId, bytes("\x00" "xyz"));
  EXPECT_EQ(d.consumed, data.size());
  EXPECT_EQ(fieldValue(d.mail), "ab");
  EXPECT_EQ(fieldValue(d.text), "hi");
  EXPECT_EQ(fieldValue(d.userId), "");
  EXPECT_EQ(fieldValue("no nul"), "no nul");
}

// The reason decodeRecord gives for data, or "" when it decodes.
std::string failureOf(const std::string& data) {
  // A heap copy of exactly the bytes, so that a sanitizer sees any overread.
  const auto copy = std::make_unique<char[]>(data.size());
  std::copy(data.begin(), data.end(), copy.get());
  CacheRecord out;
  Status status;
  if (decodeRecord(copy.get(), copy.get() + data.size(), &out, &status) != nullptr) return "";
  return status.message();
}

TEST(CacheRecord, MalformedTextLengthFails) {
  // Five bytes all saying "more follows", and a fifth byte with bits past 32.
  for (const std::string& length : {bytes("\x80\x80\x80\x80\x80\x01"),
                                    bytes("\xFF\xFF\xFF\xFF\x10")}) {
    const std::string data = bytes("\x00") + length + std::string(64, 'a') + kTail;
    EXPECT_EQ(failureOf(data), "text length is malformed (over 5 bytes or 32 bits)");
  }
}

TEST(CacheRecord, EveryTruncatedPrefixFailsWithItsReason) {
  // mail "red" (1 + 3 bytes), a two-byte text length, 300 bytes of text,
  // position and 8 bytes, user id "abc" (1 + 3 bytes): 325 bytes.
  const std::string record = bytes("\x03" "red" "\xAC\x02") + std::string(300, 't') + kTail;
  ASSERT_EQ(failureOf(record), "");
  const struct {
    size_t firstCut, lastCut;  // prefixes of these lengths, inclusive
    const char* reason;
  } cuts[] = {
      {0, 0, "mail length missing"},
      {1, 3, "mail runs past the end of the data"},
      {4, 5, "text length runs past the end of the data"},
      {6, 305, "text runs past the end of the data"},
      {306, 318, "position or user id length runs past the end of the data"},
      {319, 321, "user id runs past the end of the data"},
  };
  ASSERT_EQ(cuts[std::size(cuts) - 1].lastCut + 1, record.size());
  for (const auto& cut : cuts) {
    for (size_t n = cut.firstCut; n <= cut.lastCut; ++n) {
      EXPECT_EQ(failureOf(record.substr(0, n)), cut.reason) << "cut at " << n;
    }
  }
}

// Far from the end of the data one check covers a whole record; near it,
// every field is checked. Both must give the same fields and end.
TEST(CacheRecord, RecordsDecodeAlikeNearAndFarFromTheEnd) {
  std::vector<tools::Comment> comments = tools::randomRecords(5, 300, tools::RandomMix::kAnyBytes);
  const std::vector<tools::Comment> realistic =
      tools::randomRecords(6, 300, tools::RandomMix::kRealistic);
  comments.insert(comments.end(), realistic.begin(), realistic.end());
  comments.push_back({std::string(255, 'm'), std::string(127, 't'), 1, std::string(255, 'u')});
  comments.push_back({std::string(255, 'm'), std::string(128, 't'), 2, std::string(255, 'u')});
  comments.push_back({"", "", 3, ""});
  std::string records;
  for (const tools::Comment& c : comments) tools::appendRecord(c.record(), &records);
  const std::string padded = records + std::string(1000, '\xFF');
  const char* p = padded.data();
  for (size_t i = 0; i < comments.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    CacheRecord far;
    Status status;
    const char* const end = decodeRecord(p, padded.data() + padded.size(), &far, &status);
    ASSERT_NE(end, nullptr);
    CacheRecord near;
    ASSERT_EQ(decodeRecord(p, end, &near, &status), end);  // the record and nothing after it
    EXPECT_EQ(far.mail, near.mail);
    EXPECT_EQ(far.text, near.text);
    EXPECT_EQ(far.position, near.position);
    EXPECT_EQ(far.userId, near.userId);
    EXPECT_EQ(far.mail, std::string_view(comments[i].mail).substr(0, 255));
    EXPECT_EQ(far.text, comments[i].text);
    EXPECT_EQ(far.userId, std::string_view(comments[i].userId).substr(0, 255));
    EXPECT_EQ(recordEnd(p, padded.data() + padded.size()), end);
    EXPECT_EQ(recordEnd(p, end), end);
    EXPECT_EQ(recordEnd(p, end - 1), nullptr);
    EXPECT_EQ(decodeRecord(p, end - 1, &near, &status), nullptr);
    p = end;
  }
}

// Skipping a record must end where decoding it does, and fail where it
// fails, whatever the bytes: at every offset of random bytes, with the end
// of the data far off, near, and at every byte of the record.
TEST(CacheRecord, RecordEndAgreesWithDecoding) {
  std::mt19937 random(11);
  std::string data(6000, '\0');
  for (char& c : data) {
    // Mostly small bytes, so that lengths often fit what follows.
    const auto r = static_cast<uint32_t>(random());
    c = static_cast<char>(r % 4 == 0 ? r >> 8 : (r >> 8) % 40);
  }
  const char* const begin = data.data();
  for (size_t at = 0; at < 4000; ++at) {
    for (const size_t left : {size_t{0}, size_t{1}, size_t{20}, size_t{700}, data.size() - at}) {
      const char* const p = begin + at;
      const char* const limit = p + left;
      CacheRecord record;
      Status status;
      const char* const decoded = decodeRecord(p, limit, &record, &status);
      ASSERT_EQ(recordEnd(p, limit), decoded) << "at " << at << ", " << left << " bytes left";
      if (decoded != nullptr) {
        for (const char* cut = p; cut < decoded; ++cut) {
          ASSERT_EQ(recordEnd(p, cut), nullptr);
          ASSERT_EQ(decodeRecord(p, cut, &record, &status), nullptr);
        }
      }
    }
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
  EXPECT_EQ(walker.status().message(), "record at byte " + std::to_string(walker.offset()) +
                                       ": position or user id length runs past the end of the data");
  EXPECT_FALSE(walker.next(&record));  // stays stopped
}

TEST(RecordWalker, EveryPrefixOfAFileStopsWithTheExactReason) {
  const std::string first = bytes("\x02" "ue" "\xC8\x01") + std::string(200, 'a') + kTail;
  const std::string second = bytes("\x00" "\x02" "hi") + kTail;
  const std::string file = "HEADER!!" + first + second;
  // Where each cut falls, in bytes from the start of the file: the records
  // before it are taken whole, and the walk stops at the cut record with
  // the reason named. A cut at a record's start ends the walk cleanly.
  const struct {
    size_t firstCut, lastCut;  // prefixes of these lengths, inclusive
    size_t records;            // records decoded before the stop
    const char* reason;        // nullptr: no failure
  } cuts[] = {
      {0, 8, 0, nullptr},                                          // header
      {9, 10, 0, "mail runs past the end of the data"},            // "ue"
      {11, 12, 0, "text length runs past the end of the data"},    // C8 01
      {13, 212, 0, "text runs past the end of the data"},
      {213, 225, 0, "position or user id length runs past the end of the data"},
      {226, 228, 0, "user id runs past the end of the data"},     // "abc"
      {229, 229, 1, nullptr},                                      // first record whole
      {230, 230, 1, "text length runs past the end of the data"},  // no mail
      {231, 232, 1, "text runs past the end of the data"},         // "hi"
      {233, 245, 1, "position or user id length runs past the end of the data"},
      {246, 248, 1, "user id runs past the end of the data"},
      {249, 249, 2, nullptr},
  };
  ASSERT_EQ(cuts[std::size(cuts) - 1].lastCut, file.size());
  for (const auto& cut : cuts) {
    for (size_t n = cut.firstCut; n <= cut.lastCut; ++n) {
      SCOPED_TRACE("cut at " + std::to_string(n));
      const std::string prefix = file.substr(0, n);
      RecordWalker walker(prefix);
      CacheRecord record;
      size_t records = 0;
      while (walker.next(&record)) ++records;
      EXPECT_EQ(records, cut.records);
      ASSERT_EQ(walker.failed(), cut.reason != nullptr);
      if (cut.reason == nullptr) continue;
      const size_t at = cut.records == 0 ? 8 : 8 + first.size();
      EXPECT_EQ(walker.status().message(),
                "record at byte " + std::to_string(at) + ": " + cut.reason);
    }
  }
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

// What a walk gives: each record's offset and text, then how it ended.
struct Walked {
  std::vector<std::string> records;
  bool hungry = false;
  std::string status;
  uint64_t offset = 0;
  size_t unconsumed = 0;
  bool operator==(const Walked&) const = default;
};

void walkOn(RecordWalker* walker, Walked* walked) {
  CacheRecord record;
  for (uint64_t at = walker->offset(); walker->next(&record); at = walker->offset()) {
    walked->records.push_back(std::to_string(at) + ":" + std::string(record.text));
  }
  walked->hungry = walker->hungry();
  walked->status = walker->status().message();
  walked->offset = walker->offset();
  walked->unconsumed = walker->unconsumed().size();
}

TEST(RecordWalker, SplittingOffTheFrontKeepsEveryRecordAndTheEnding) {
  const std::string a = bytes("\x00" "\x05hello") + kTail;
  const std::string b = bytes("\x03" "big" "\x03" "bye") + kTail;
  const std::string c = bytes("\x02" "ue" "\xC8\x01") + std::string(200, 'c') + kTail;
  const std::string records = a + b + c + a + b;
  const struct {
    const char* name;
    std::string window;
    bool last;
  } windows[] = {
      {"whole file", "HEADER!!" + records, true},
      {"cut record in the last window", "HEADER!!" + records + c.substr(0, 30), true},
      {"cut record before more windows", "HEADER!!" + records + c.substr(0, 30), false},
      {"malformed length", "HEADER!!" + a + b + bytes("\x00\x80\x80\x80\x80\x80\x01") + a, true},
  };
  for (const auto& w : windows) {
    SCOPED_TRACE(w.name);
    RecordWalker whole;
    whole.feed(w.window, w.last);
    const size_t size = whole.unconsumed().size();
    Walked expected;
    walkOn(&whole, &expected);
    // The ends of the records taken, relative to the first record: where
    // each next one starts, and last where the walk stopped.
    std::vector<size_t> ends;
    for (size_t i = 1; i < expected.records.size(); ++i) {
      ends.push_back(std::stoul(expected.records[i]) - 8);
    }
    ends.push_back(static_cast<size_t>(expected.offset - 8));

    for (size_t bytes = 0; bytes <= size + 1; ++bytes) {
      SCOPED_TRACE("splitting off " + std::to_string(bytes) + " bytes");
      RecordWalker walker;
      walker.feed(w.window, w.last);
      RecordWalker front;
      uint32_t count = 0;
      Walked split;
      // A split takes every record that starts within the bytes: it is
      // made when there is one, they are all whole, and bytes are left.
      size_t taken = 0;
      while (taken < ends.size() && (taken == 0 ? 0 : ends[taken - 1]) < bytes) ++taken;
      const bool wholeOnes = taken > 0 && (taken < ends.size() || ends.back() >= bytes);
      const bool expectSplit = bytes <= size && wholeOnes && ends[taken - 1] < size;
      ASSERT_EQ(walker.splitFront(bytes, &front, &count), expectSplit);
      if (expectSplit) {
        Walked fromFront;
        walkOn(&front, &fromFront);
        EXPECT_EQ(count, fromFront.records.size());
        EXPECT_EQ(count, taken);
        EXPECT_FALSE(fromFront.hungry);
        EXPECT_EQ(fromFront.status, "");
        split.records = fromFront.records;
      }
      walkOn(&walker, &split);
      EXPECT_TRUE(split == expected);
    }
  }
}

}  // namespace
}  // namespace ordil
