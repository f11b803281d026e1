#include <windows.h>

#include <cstdint>

#include "platform/resources.h"

namespace ordil::platform {

unsigned processorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

size_t allowManyOpenFiles() { return SIZE_MAX; }

}  // namespace ordil::platform
