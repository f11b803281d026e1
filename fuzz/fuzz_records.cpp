// The record walk and chat formatting over arbitrary bytes, in memory.
// Checks that whatever the bytes, the walk ends (at the end or at a failure
// offset inside the data), the document is well-formed UTF-8, and reading
// the bytes through the converter's record reader in windows (their size
// taken from the first byte), with and without reading ahead on a second
// thread, gives the same chats and the same end as walking them whole; so
// does splitting the records off the front of the walk at a byte count
// taken from the third byte, as the converter shares a window between
// threads. At the first offsets, skipping a record by its lengths ends
// where decoding it does.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "cache/cache_record.h"
#include "cache/record_reader.h"
#include "driver/background.h"
#include "fuzz/fuzz_checks.h"
#include "tests/memory_source.h"
#include "xml/chat_format.h"

using ordil::fuzz::check;

namespace {

struct Walk {
  std::string chats;
  bool failed = false;
  uint64_t offset = 0;
};

void finish(const ordil::RecordWalker& walker, Walk* walk) {
  walk->failed = walker.failed();
  walk->offset = walker.offset();
}

// Reads the bytes through the converter's reader in windows of `step`
// bytes (widened by records longer than that), each next window read on
// the background thread, when given, while the one before is walked, with
// `carried` bytes of room.
Walk readInWindows(std::string_view bytes, size_t step, ordil::Background* background = nullptr,
                   size_t carried = 0) {
  Walk walk;
  ordil::testing::MemorySource source(bytes);
  ordil::platform::Buffer window;
  ordil::platform::Buffer spare;
  ordil::RecordReader reader(&source, bytes.size(), &window, step);
  if (background != nullptr) reader.readAhead(&spare, carried);
  ordil::CacheRecord record;
  uint32_t number = 1;
  while (reader.nextWindow()) {
    ordil::Background::Ticket read = 0;
    if (ordil::WindowRead* ahead = reader.pendingRead()) {
      read = background->start([ahead] { ahead->run(); });
    }
    while (reader.walker()->next(&record)) ordil::appendChat(number++, record, &walk.chats);
    if (background != nullptr) background->wait(read);
  }
  check(reader.readStatus().ok());
  walk.failed = !reader.decodeStatus().ok();
  walk.offset = reader.decodeStatus().offset().value_or(bytes.size());
  return walk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Walk whole;
  ordil::CacheRecord record;
  ordil::RecordWalker walker(bytes);
  uint32_t number = 1;
  while (walker.next(&record)) {
    check(record.mail.size() <= 255 && record.userId.size() <= 255 &&
          record.text.size() <= size);
    ordil::appendChat(number++, record, &whole.chats);
  }
  finish(walker, &whole);
  check(whole.failed ? whole.offset < size : whole.offset >= size);
  check(ordil::fuzz::isWellFormedUtf8(whole.chats));

  const size_t step = size == 0 ? 1 : 1 + static_cast<size_t>(data[0]) % 97;
  const Walk windowed = readInWindows(bytes, step);
  check(windowed.chats == whole.chats && windowed.failed == whole.failed &&
        windowed.offset == whole.offset);
  // Each window read ahead is a hand-over between threads, so at most
  // about 16 of them, to keep the runs quick.
  static ordil::Background background;
  const size_t carried = size < 2 ? 0 : static_cast<size_t>(data[1]) % 64;
  const Walk ahead = readInWindows(bytes, std::max(step, size / 16 + 1), &background, carried);
  check(ahead.chats == whole.chats && ahead.failed == whole.failed &&
        ahead.offset == whole.offset);

  const char* const limit = bytes.data() + size;
  for (size_t at = 0; at < std::min<size_t>(size, 64); ++at) {
    ordil::Status status;
    check(ordil::recordEnd(bytes.data() + at, limit) ==
          ordil::decodeRecord(bytes.data() + at, limit, &record, &status));
  }

  ordil::RecordWalker rest(bytes);
  ordil::RecordWalker front;
  uint32_t inFront = 0;
  const size_t splitAt = size < 3 ? 0 : (size_t{data[2]} << 8 | data[1]) % size;
  if (rest.splitFront(splitAt, &front, &inFront)) {
    Walk split;
    number = 1;
    while (front.next(&record)) ordil::appendChat(number++, record, &split.chats);
    check(number - 1 == inFront && !front.failed() && !front.hungry());
    while (rest.next(&record)) ordil::appendChat(number++, record, &split.chats);
    finish(rest, &split);
    check(split.chats == whole.chats && split.failed == whole.failed &&
          split.offset == whole.offset);
  }
  return 0;
}
