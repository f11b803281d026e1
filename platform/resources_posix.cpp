#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

#include "platform/resources.h"

namespace ordil::platform {

unsigned processorCount() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online > 0) return static_cast<unsigned>(online);
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

size_t allowManyOpenFiles() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 256;  // the least a system has
  if (limit.rlim_cur < limit.rlim_max) {
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = before;
  }
  return limit.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<size_t>(limit.rlim_cur);
}

}  // namespace ordil::platform
