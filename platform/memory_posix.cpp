#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace ordil::platform {

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
