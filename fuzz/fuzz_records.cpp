// The record walk and chat formatting over arbitrary bytes, in memory.
// Checks that whatever the bytes, the walk ends (at the end or at a failure
// offset inside the data), the document is well-formed UTF-8, and walking
// the bytes fed in windows (their size taken from the first byte) gives the
// same chats and the same end as walking them whole.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "cache/cache_record.h"
#include "fuzz/fuzz_checks.h"
#include "xml/comment_xml_writer.h"

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

// Feeds windows of the bytes not yet walked plus up to step new ones, each
// in a fresh string so that a view into an old window would show. Like the
// converter, takes twice as many new bytes when a record holds up a window.
Walk walkInWindows(std::string_view bytes, size_t step) {
  Walk walk;
  ordil::RecordWalker walker;
  ordil::CacheRecord record;
  uint32_t number = 1;
  size_t fed = 0;
  std::string window;
  do {
    if (walker.unconsumed().size() >= step) step *= 2;
    const size_t n = std::min(step, bytes.size() - fed);
    window = std::string(walker.unconsumed()).append(bytes.substr(fed, n));
    fed += n;
    walker.feed(window, fed == bytes.size());
    while (walker.next(&record)) ordil::appendChat(number++, record, &walk.chats);
  } while (walker.hungry());
  finish(walker, &walk);
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
  const Walk windowed = walkInWindows(bytes, step);
  check(windowed.chats == whole.chats && windowed.failed == whole.failed &&
        windowed.offset == whole.offset);
  return 0;
}
