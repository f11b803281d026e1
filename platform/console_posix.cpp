#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "platform/console.h"

namespace ordil::platform {

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

unsigned processorCount() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online > 0) return static_cast<unsigned>(online);
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

bool isFolder(const std::string& narrowPath) {
  struct stat st;
  return ::stat(narrowPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void allowManyOpenFiles() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);  // a refusal leaves the limit as it was
}

}  // namespace ordil::platform
