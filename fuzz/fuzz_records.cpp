// The record walk and chat formatting over arbitrary bytes, in memory.
// Checks that whatever the bytes, the walk ends (at the end or at a failure
// offset inside the data) and the document is well-formed UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

#include "cache/cache_record.h"
#include "fuzz/fuzz_checks.h"
#include "xml/comment_xml_writer.h"

using ordil::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string chats;
  ordil::CacheRecord record;
  ordil::RecordWalker walker(bytes);
  uint32_t number = 1;
  while (walker.next(&record)) {
    check(record.mail.size() <= 255 && record.userId.size() <= 255 &&
          record.text.size() <= size);
    ordil::appendChat(number++, record, &chats);
  }
  check(walker.failed() ? walker.offset() < size : walker.offset() >= size);
  check(ordil::fuzz::isWellFormedUtf8(chats));
  return 0;
}
