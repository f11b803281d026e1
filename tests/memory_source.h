// A byte source over bytes in memory, for the tests and the fuzz targets:
// it can stop early, as a file that shrank, or fail, as a read error.
#ifndef ORDIL_TESTS_MEMORY_SOURCE_H_
#define ORDIL_TESTS_MEMORY_SOURCE_H_

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/byte_source.h"

namespace ordil::testing {

class MemorySource : public ByteSource {
 public:
  // Gives the bytes, at most `end` of them; then, when failure is not ok,
  // fails with it.
  explicit MemorySource(std::string_view bytes, size_t end = std::string_view::npos,
                        Status failure = Status())
      : bytes_(bytes.substr(0, std::min(end, bytes.size()))), failure_(std::move(failure)) {}

  Status read(char* buffer, size_t n, size_t* got) override {
    *got = std::min(n, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, *got);
    at_ += *got;
    ++reads_;
    return *got < n ? failure_ : Status();
  }

  size_t reads() const { return reads_; }

 private:
  std::string_view bytes_;
  Status failure_;
  size_t at_ = 0;
  size_t reads_ = 0;
};

}  // namespace ordil::testing

#endif  // ORDIL_TESTS_MEMORY_SOURCE_H_
