#include "platform/memory.h"

namespace ordil::platform {

// Windows has no call that commits demand-zero pages ahead of their first
// write; they are faulted in as they are filled.
bool prepareWritable(void* p, size_t n) {
  static_cast<void>(p);
  static_cast<void>(n);
  return false;
}

}  // namespace ordil::platform
