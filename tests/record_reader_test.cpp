#include "cache/record_reader.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/memory_source.h"
#include "tests/test_support.h"
#include "tools/cache_builder.h"

namespace ordil {
namespace {

using testing::bytes;
using testing::MemorySource;

// The fixed part after the text: position 995, eight uninterpreted bytes,
// and the user id abc.
const std::string kTail = bytes("\xE3\x03\x00\x00" "\xAA\xBB\xCC\xDD\xEE\xFF\x11\x22" "\x03" "abc");

// What a walk gives: the records' fields, then how it ended.
struct Walk {
  std::vector<std::string> fields;
  std::string decodeFailure, readFailure;
  bool operator==(const Walk&) const = default;
};

void take(const CacheRecord& r, Walk* walk) {
  walk->fields.push_back(std::string(r.mail) + "|" + std::string(r.text) + "|" +
                         std::to_string(r.position) + "|" + std::string(r.userId));
}

Walk walkWhole(const std::string& data) {
  Walk walk;
  RecordWalker walker(data);
  CacheRecord record;
  while (walker.next(&record)) take(record, &walk);
  walk.decodeFailure = walker.status().message();
  return walk;
}

// Reading ahead: the room kept before the bytes read ahead, and the second
// window. The reader runs each read it sets up itself.
struct Ahead {
  size_t carried;
  platform::Buffer spare;
};

Walk readAll(ByteSource* source, uint64_t size, size_t windowSize, platform::Buffer* window,
             Ahead* ahead = nullptr) {
  Walk walk;
  RecordReader reader(source, size, window, windowSize);
  if (ahead != nullptr) reader.readAhead(&ahead->spare, ahead->carried);
  CacheRecord record;
  while (reader.next(&record)) take(record, &walk);
  walk.decodeFailure = reader.decodeStatus().message();
  walk.readFailure = reader.readStatus().message();
  return walk;
}

TEST(RecordReader, WindowsOfEverySizeReadLikeTheWholeFile) {
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
    const Walk whole = walkWhole(file.data);
    for (size_t step = 1; step <= file.data.size() + 1; ++step) {
      SCOPED_TRACE("windows of " + std::to_string(step));
      MemorySource source(file.data);
      platform::Buffer window;
      ASSERT_TRUE(readAll(&source, file.data.size(), step, &window) == whole);
      // Read ahead, with records carried over whole and records moved.
      for (const size_t carried : {size_t{0}, size_t{5}, size_t{1000}}) {
        SCOPED_TRACE("read ahead, carrying " + std::to_string(carried));
        MemorySource again(file.data);
        Ahead ahead{carried, {}};
        ASSERT_TRUE(readAll(&again, file.data.size(), step, &window, &ahead) == whole);
      }
    }
  }
}

TEST(RecordReader, ShortOrFailedReadsEndTheWalkAfterTheBytesGiven) {
  const std::string one = bytes("\x00" "\x05hello") + kTail;
  const std::string data = "HEADER!!" + one + one + one;
  const size_t cut = 8 + one.size() + 5;  // inside the second record's text
  const struct {
    const char* name;
    Status failure;
    const char* readFailure;
  } cases[] = {
      {"file shrank", Status(), "read 36 of 77 bytes: file shrank"},
      {"read error", Status::io("Input/output error"), "read 36 of 77 bytes: Input/output error"},
  };
  for (const auto& c : cases) {
    for (const size_t window : {size_t{7}, size_t{1} << 20}) {
      for (const bool readAhead : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + ", window " + std::to_string(window) +
                     (readAhead ? ", read ahead" : ""));
        MemorySource source(data, cut, c.failure);
        platform::Buffer buffer;
        Ahead ahead{16, {}};
        const Walk walk =
            readAll(&source, data.size(), window, &buffer, readAhead ? &ahead : nullptr);
        EXPECT_EQ(walk.fields, std::vector<std::string>{"|hello|995|abc"});
        EXPECT_EQ(walk.readFailure, c.readFailure);
        // The record the bytes stop in is cut short, not taken as whole.
        EXPECT_EQ(walk.decodeFailure,
                  "record at byte 31: text runs past the end of the data");
      }
    }
  }
}

TEST(RecordReader, ReadAheadThatThrowsEndsTheWalkWithIt) {
  const std::string one = bytes("\x00" "\x05hello") + kTail;
  const std::string data = "HEADER!!" + one + one + one + one;
  class ThrowingSource : public ByteSource {
   public:
    explicit ThrowingSource(std::string_view data) : data_(data) {}
    Status read(char* buffer, size_t n, size_t* got) override {
      if (++reads_ == 2) throw std::bad_alloc();
      std::memcpy(buffer, data_.data(), n);
      data_.remove_prefix(n);
      *got = n;
      return Status();
    }
    std::string_view data_;
    int reads_ = 0;
  } source(data);
  platform::Buffer window, spare;
  RecordReader reader(&source, data.size(), &window, 16);
  reader.readAhead(&spare, 16);
  CacheRecord record;
  EXPECT_THROW(
      {
        while (reader.next(&record)) {
        }
      },
      std::bad_alloc);
  EXPECT_EQ(source.reads_, 2);
}

TEST(RecordReader, RecordsLongerThanTheWindowWidenIt) {
  const std::vector<tools::Comment> comments = {
      {"", "short", 1, "a"}, {"big", std::string(5000, 'x'), 2, "b"}, {"", "after", 3, "c"}};
  const std::string data = tools::buildCacheFile(comments);
  MemorySource source(data);
  platform::Buffer window;
  const Walk walk = readAll(&source, data.size(), 64, &window);
  ASSERT_EQ(walk.fields.size(), 3u);
  EXPECT_EQ(walk.fields[1], "big|" + std::string(5000, 'x') + "|2|b");
  EXPECT_EQ(walk.decodeFailure, "");
  EXPECT_GE(window.capacity(), 5000u);

  // A widened window serves the next file as it is.
  const size_t capacity = window.capacity();
  MemorySource again(data);
  EXPECT_TRUE(readAll(&again, data.size(), 64, &window) == walk);
  EXPECT_EQ(window.capacity(), capacity);

  // Read ahead, the long record is moved in front of the bytes read.
  Ahead ahead{16, {}};
  platform::Buffer other;
  MemorySource aheadSource(data);
  EXPECT_TRUE(readAll(&aheadSource, data.size(), 64, &other, &ahead) == walk);
}

TEST(RecordReader, ReadsNoMoreThanTheSize) {
  // A file that grew after its size was taken is read up to that size.
  const std::string one = bytes("\x00" "\x05hello") + kTail;
  const std::string data = "HEADER!!" + one + one;
  for (const size_t windowSize : {size_t{1} << 20, size_t{10}}) {
    for (const bool readAhead : {false, true}) {
      SCOPED_TRACE("window " + std::to_string(windowSize) + (readAhead ? ", read ahead" : ""));
      MemorySource source(data);
      platform::Buffer window;
      Ahead ahead{16, {}};
      const Walk walk = readAll(&source, 8 + one.size(), windowSize, &window,
                                readAhead ? &ahead : nullptr);
      EXPECT_EQ(walk.fields.size(), 1u);
      EXPECT_EQ(walk.readFailure, "");
      EXPECT_EQ(walk.decodeFailure, "");
    }
  }
}

}  // namespace
}  // namespace ordil
