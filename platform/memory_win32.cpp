#include "platform/memory.h"

#include <cstdlib>

namespace ordil::platform {

// Large pages on Windows need a privilege that ordinary users lack: the
// heap serves every block.
void* allocateLarge(size_t n) { return std::malloc(n); }

void releaseLarge(void* p, size_t) { std::free(p); }

size_t pageSizeFor(size_t) { return 4096; }

// Windows has no call that commits demand-zero pages ahead of their first
// write; they are faulted in as they are filled.
bool prepareWritable(void* p, size_t n) {
  static_cast<void>(p);
  static_cast<void>(n);
  return false;
}

}  // namespace ordil::platform
