// POSIX files: names are bytes, opened as they are.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/file_name.h"
#include "platform/input_file.h"
#include "platform/output_file.h"

namespace ordil::platform {

namespace {

std::string systemReason(int error) { return std::strerror(error); }

int fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

NativeFileName nativeFileName(const std::string& narrowPath) {
  return narrowPath;
}

std::string displayFileName(const NativeFileName& name) { return name; }

// Reads go straight to the descriptor.
struct InputFile::Stream {};

InputFile::InputFile(const std::string& narrowPath) : path_(narrowPath) {
  // O_NONBLOCK so that a FIFO does not hold the open until a writer comes;
  // it is refused below, and regular files read the same either way.
  const int f = ::open(narrowPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (f < 0) {
    error_ = systemReason(errno);
    return;
  }
  handle_ = f;
  struct stat st;
  if (::fstat(f, &st) != 0) {
    error_ = systemReason(errno);
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    error_ = systemReason(EISDIR);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    // A FIFO, socket or device has no size to read up to: it would convert
    // as an empty file and pass for complete.
    error_ = "not a regular file";
    return;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  open_ = true;
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(fd(handle_));
}

size_t InputFile::read(char* buffer, size_t n) {
  size_t done = 0;
  while (open_ && done < n) {
    const ssize_t got = ::read(fd(handle_), buffer + done, n - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      error_ = systemReason(errno);
      break;
    }
    if (got == 0) break;  // the file is shorter than its size said
    done += static_cast<size_t>(got);
  }
  return done;
}

OutputFile::~OutputFile() {
  std::string ignored;
  close(&ignored);
}

bool OutputFile::create(const NativeFileName& name, std::string* reason) {
  const int f = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                       0666);
  if (f < 0) {
    *reason = systemReason(errno);
    return false;
  }
  handle_ = f;
  return true;
}

bool OutputFile::isOpen() const { return handle_ >= 0; }

bool OutputFile::write(const char* data, size_t n, std::string* reason) {
  if (handle_ < 0) {
    *reason = systemReason(EBADF);
    return false;
  }
  while (n > 0) {
    const ssize_t put = ::write(fd(handle_), data, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      *reason = systemReason(errno);
      return false;
    }
    data += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool OutputFile::close(std::string* reason) {
  if (handle_ < 0) return true;
  const int f = fd(handle_);
  handle_ = -1;
  if (::close(f) != 0) {
    *reason = systemReason(errno);
    return false;
  }
  return true;
}

}  // namespace ordil::platform
