// A block of uninitialised bytes that only grows. Whoever converts many
// files keeps one per job, so that memory is taken once, not per file.
#ifndef ORDIL_BASE_BUFFER_H_
#define ORDIL_BASE_BUFFER_H_

#include <cstddef>
#include <cstring>
#include <memory>

#include "platform/memory.h"

namespace ordil {

class Buffer {
 public:
  // Blocks of this size or more are made resident when they are taken
  // (platform::prepareWritable), since they are about to be filled whole.
  static constexpr size_t kPreparedSize = size_t{64} << 10;

  char* data() { return data_.get(); }
  size_t capacity() const { return capacity_; }

  // Makes room for at least n bytes, keeping the first `keep` of them.
  // Throws std::bad_alloc when the memory cannot be had.
  void reserve(size_t n, size_t keep = 0) {
    if (n <= capacity_) return;
    std::unique_ptr<char[]> wider = std::make_unique_for_overwrite<char[]>(n);
    if (n >= kPreparedSize) platform::prepareWritable(wider.get(), n);
    if (keep > 0) std::memcpy(wider.get(), data_.get(), keep);
    data_ = std::move(wider);
    capacity_ = n;
  }

 private:
  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
};

}  // namespace ordil

#endif  // ORDIL_BASE_BUFFER_H_
