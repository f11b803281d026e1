#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace ordil::platform {

namespace {

#if defined(__linux__)
// Linux's transparent large pages on x86-64 and most other processors.
constexpr size_t kLargePage = size_t{2} << 20;
// Smaller blocks come from the heap: a large page for them would make
// resident far more memory than they use, and cost more to clear than
// their small pages cost to fault in.
constexpr size_t kLargeFrom = size_t{512} << 10;

bool takesLargePages(size_t n) { return n >= kLargeFrom; }

size_t largePagesFor(size_t n) { return (n + kLargePage - 1) & ~(kLargePage - 1); }
#endif

}  // namespace

void* allocateLarge(size_t n) {
#if defined(__linux__)
  if (takesLargePages(n)) {
    if (n > SIZE_MAX - 2 * kLargePage) return nullptr;
    const size_t size = largePagesFor(n);
    // Map a large page more than needed, then give back what lies before
    // the first boundary of a large page and after the block.
    const size_t mapped = size + kLargePage;
    void* const at = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) {
      // Under a limit on the address space the large page more may be
      // what does not fit: the block itself, unaligned, still works.
      void* const block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      return block == MAP_FAILED ? nullptr : block;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(at);
    const uintptr_t aligned = (start + kLargePage - 1) & ~(kLargePage - 1);
    if (aligned > start) munmap(at, aligned - start);
    const uintptr_t end = aligned + size;
    if (start + mapped > end) munmap(reinterpret_cast<void*>(end), start + mapped - end);
    void* const block = reinterpret_cast<void*>(aligned);
    // Only a hint: without large pages the block works the same.
    madvise(block, size, MADV_HUGEPAGE);
    return block;
  }
#endif
  return std::malloc(n);
}

void releaseLarge(void* p, size_t n) {
  if (p == nullptr) return;
#if defined(__linux__)
  if (takesLargePages(n)) {
    munmap(p, largePagesFor(n));
    return;
  }
#endif
  std::free(p);
}

size_t pageSizeFor(size_t n) {
#if defined(__linux__)
  if (takesLargePages(n)) return kLargePage;
#else
  static_cast<void>(n);
#endif
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

bool prepareWritable(void* p, size_t n) {
#if defined(__linux__)
#ifndef MADV_POPULATE_WRITE
  constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it
#endif
  static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
  if (end <= begin) return false;
  return madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0;
#else
  static_cast<void>(p);
  static_cast<void>(n);
  return false;
#endif
}

}  // namespace ordil::platform
