// A block of uninitialised bytes that only grows. Whoever converts many
// files keeps one per job, so that memory is taken once, not per file.
#ifndef ORDIL_BASE_BUFFER_H_
#define ORDIL_BASE_BUFFER_H_

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "platform/memory.h"

namespace ordil {

class Buffer {
 public:
  char* data() { return data_.get(); }
  size_t capacity() const { return capacity_; }

  // Makes room for at least n bytes, keeping the first `keep` of them.
  // Large blocks come from platform::allocateLarge, backed by large pages
  // where the system has them. Throws std::bad_alloc when the memory
  // cannot be had.
  void reserve(size_t n, size_t keep = 0) {
    if (n <= capacity_) return;
    Block wider(static_cast<char*>(platform::allocateLarge(n)), Release{n});
    if (wider == nullptr) throw std::bad_alloc();
    if (keep > 0) std::memcpy(wider.get(), data_.get(), keep);
    data_ = std::move(wider);
    capacity_ = n;
    prepared_ = 0;
  }

  // Makes the first upTo bytes (at most the capacity) resident ahead of
  // their first write, in one call for the part not made so before
  // (platform::prepareWritable), in whole pages of the size backing the
  // buffer; a buffer about to be filled then takes no fault per page.
  // Cheap when they are resident already.
  void prepare(size_t upTo) {
    if (upTo <= prepared_) return;
    if (upTo >= capacity_) {
      upTo = capacity_;
    } else {
      const size_t page = platform::pageSizeFor(capacity_);
      upTo += std::min(capacity_ - upTo, (page - upTo % page) % page);  // to the page's end
    }
    if (upTo <= prepared_) return;
    platform::prepareWritable(data_.get() + prepared_, upTo - prepared_);
    prepared_ = upTo;
  }

 private:
  struct Release {
    size_t size;
    void operator()(char* p) const { platform::releaseLarge(p, size); }
  };
  using Block = std::unique_ptr<char[], Release>;

  Block data_{nullptr, Release{0}};
  size_t capacity_ = 0;
  size_t prepared_ = 0;
};

}  // namespace ordil

#endif  // ORDIL_BASE_BUFFER_H_
