// Memory the product takes in large blocks (the read windows and the
// document buffers), and the buffer made of them.
#ifndef ORDIL_PLATFORM_MEMORY_H_
#define ORDIL_PLATFORM_MEMORY_H_

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace ordil::platform {

// Takes an uninitialised block of at least n bytes (n > 0) for a large
// buffer, or returns nullptr when the memory cannot be had. Where the
// system has large pages (2 MiB on Linux), a block of 512 KiB or more is
// placed and marked so that it can be backed by them: filling it then
// takes one fault per large page instead of one per 4 KiB page, which on
// virtual machines costs far more. Such a block may reserve up to a large
// page more than n. Release it with releaseLarge(p, n), n as given here.
void* allocateLarge(size_t n);
void releaseLarge(void* p, size_t n);

// The size of the pages a block of n bytes from allocateLarge is meant to
// be backed by: what making part of it resident makes resident at once.
size_t pageSizeFor(size_t n);

// Makes the whole pages of [p, p + n) resident and writable now, in one
// call, where the system can (Linux 5.14 and later); returns whether it
// did. A fresh block that is then filled page by page otherwise takes a
// fault for each page, which on some machines, virtual ones above all,
// costs ten times as much. The memory works the same either way, so a
// false return needs no handling. Touches nothing outside [p, p + n).
bool prepareWritable(void* p, size_t n);

// A block of uninitialised bytes that only grows. Whoever converts many
// files keeps one per job, so that memory is taken once, not per file.
class Buffer {
 public:
  char* data() { return data_.get(); }
  size_t capacity() const { return capacity_; }

  // Makes room for at least n bytes, keeping the first `keep` of them.
  // Large blocks come from allocateLarge, backed by large pages
  // where the system has them. Throws std::bad_alloc when the memory
  // cannot be had.
  void reserve(size_t n, size_t keep = 0) {
    if (n <= capacity_) return;
    Block wider(static_cast<char*>(allocateLarge(n)), Release{n});
    if (wider == nullptr) throw std::bad_alloc();
    if (keep > 0) std::memcpy(wider.get(), data_.get(), keep);
    data_ = std::move(wider);
    capacity_ = n;
    prepared_ = 0;
  }

  // Makes the first upTo bytes (at most the capacity) resident ahead of
  // their first write, in one call for the part not made so before
  // (prepareWritable), in whole pages of the size backing the
  // buffer; a buffer about to be filled then takes no fault per page.
  // Cheap when they are resident already.
  void prepare(size_t upTo) {
    if (upTo <= prepared_) return;
    if (upTo >= capacity_) {
      upTo = capacity_;
    } else {
      const size_t page = pageSizeFor(capacity_);
      upTo += std::min(capacity_ - upTo, (page - upTo % page) % page);  // to the page's end
    }
    if (upTo <= prepared_) return;
    prepareWritable(data_.get() + prepared_, upTo - prepared_);
    prepared_ = upTo;
  }

 private:
  struct Release {
    size_t size;
    void operator()(char* p) const { releaseLarge(p, size); }
  };
  using Block = std::unique_ptr<char[], Release>;

  Block data_{nullptr, Release{0}};
  size_t capacity_ = 0;
  size_t prepared_ = 0;
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_MEMORY_H_
