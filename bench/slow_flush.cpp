// A library to preload (LD_PRELOAD) that makes every flush to the device
// slow, as on a hard disk or a NAS, and counts the flushes: fsync,
// fdatasync, syncfs and sync each sleep ORDIL_SLOW_FLUSH_MS milliseconds
// (10 by default) before they run. At exit the count is appended, as a
// line "flushes N", to the file ORDIL_FLUSH_COUNT names, if any. For
// bench/run; Linux only.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

std::atomic<unsigned long> flushes{0};

void slowDown() {
  ++flushes;
  const char* text = std::getenv("ORDIL_SLOW_FLUSH_MS");
  const long ms = text != nullptr ? std::atol(text) : 10;
  timespec wait{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&wait, &wait) != 0) {
  }
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

__attribute__((destructor)) void report() {
  const char* path = std::getenv("ORDIL_FLUSH_COUNT");
  if (path == nullptr) return;
  if (FILE* out = std::fopen(path, "a")) {
    std::fprintf(out, "flushes %lu\n", flushes.load());
    std::fclose(out);
  }
}

}  // namespace

extern "C" {

int fsync(int fd) {
  slowDown();
  return next<int (*)(int)>("fsync")(fd);
}

int fdatasync(int fd) {
  slowDown();
  return next<int (*)(int)>("fdatasync")(fd);
}

int syncfs(int fd) {
  slowDown();
  return next<int (*)(int)>("syncfs")(fd);
}

void sync() {
  slowDown();
  next<void (*)()>("sync")();
}

}  // extern "C"
