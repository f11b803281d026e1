// POSIX files: names are bytes, opened as they are.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/file_name.h"
#include "platform/folder.h"
#include "platform/input_file.h"
#include "platform/interrupt.h"
#include "platform/output_file.h"
#include "platform/temporary_name.h"

namespace ordil::platform {

namespace {

std::string systemReason(int error) { return std::strerror(error); }

Status cannotCreate(int error) { return Status::io("cannot create: " + systemReason(error)); }

Status writeFailed(int error) { return Status::io("write failed: " + systemReason(error)); }

int fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

NativeFileName nativeFileName(const std::string& narrowPath) {
  return narrowPath;
}

std::string displayFileName(const NativeFileName& name) { return name; }

NativeFileName comparableFileName(NativeFileName name) { return name; }

// Reads go straight to the descriptor.
struct InputFile::Stream {};

namespace {

Status cannotOpen(int error) { return Status::io("cannot open: " + systemReason(error)); }

// The last component of a name, as a message names the file.
std::string ownName(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

Status InputFile::open(const std::string& narrowPath) { return openNative(narrowPath); }

Status InputFile::openNative(const NativeFileName& name, const Folder* folder) {
  name_ = name;
  // O_NONBLOCK so that a FIFO does not hold the open until a writer comes;
  // it is refused below, and regular files read the same either way.
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  const int f = folder != nullptr && folder->descriptor() >= 0
                    ? ::openat(static_cast<int>(folder->descriptor()), ownName(name).c_str(), flags)
                    : ::open(name.c_str(), flags);
  if (f < 0) return cannotOpen(errno);
  handle_ = f;
  struct stat st;
  if (::fstat(f, &st) != 0) return cannotOpen(errno);
  if (S_ISDIR(st.st_mode)) return cannotOpen(EISDIR);
  if (!S_ISREG(st.st_mode)) {
    // A FIFO, socket or device has no size to read up to: it would convert
    // as an empty file and pass for complete.
    return Status::io("cannot open: not a regular file");
  }
  size_ = static_cast<uint64_t>(st.st_size);
  open_ = true;
  return Status();
}

InputFile::InputFile() = default;

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(fd(handle_));
}

Status InputFile::read(char* buffer, size_t n, size_t* got) {
  *got = 0;
  while (open_ && *got < n) {
    const ssize_t part = ::read(fd(handle_), buffer + *got, n - *got);
    if (part < 0) {
      if (errno == EINTR) continue;
      return Status::io(systemReason(errno));
    }
    if (part == 0) break;  // the file is shorter than its size said
    *got += static_cast<size_t>(part);
  }
  return Status();
}

OutputFile::~OutputFile() { discard(); }

namespace {

constexpr int kMaxLinks = 40;  // as the system's own limit on link chains

// Names below are relative to a folder's descriptor: the Folder's, or
// AT_FDCWD, the working folder, for a whole path.
int at(intptr_t folder) { return folder >= 0 ? static_cast<int>(folder) : AT_FDCWD; }

// The folder part of a name ("." for a bare name).
std::string folderOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : name.substr(0, slash);
}

// Whether a link, whose lstat is st, may be followed: it is the running
// user's, or root's in a folder that root alone may write, where nobody
// else can have put it.
bool trustedLink(int folder, const std::string& name, const struct stat& link) {
  if (link.st_uid == ::geteuid()) return true;
  if (link.st_uid != 0) return false;
  struct stat st;
  return ::fstatat(folder, folderOf(name).c_str(), &st, 0) == 0 && st.st_uid == 0 &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The names create() works with, relative to a folder, and how messages
// and the interrupt handler name them: with the destination's own folder
// before a relative one.
struct Names {
  int folder;
  std::string destination;  // as the caller named it
  std::string first;        // the same, relative to folder
  std::string prefix;       // what makes a relative name whole

  std::string whole(const std::string& name) const {
    return !name.empty() && name.front() == '/' ? name : prefix + name;
  }
  // The place reached from the destination, as a message names it: its
  // own name, or where the chain of links from it leads.
  std::string place(const std::string& reached) const {
    if (reached == first) return ownName(destination);
    return ownName(destination) + " leads to " + whole(reached) + ", which";
  }
};

// Where the chain of links from a destination ends, and what is there.
struct Resolved {
  std::string name;     // the name the chain leads to, links followed
  bool exists = false;  // whether something is there
  struct stat st;       // what is there, when it exists
  std::string refusal;  // why the chain may not be followed, if it may not
};

// Follows the trusted symbolic links from names.first to the name they
// finally lead to, which need not exist yet. Stops at the first link it
// may not follow, saying why in refusal. Returns 0, or the error (ELOOP
// for a chain too long).
int resolveLinks(const Names& names, Resolved* out) {
  std::string name = names.first;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    out->exists = ::fstatat(names.folder, name.c_str(), &out->st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!out->exists || !S_ISLNK(out->st.st_mode)) {
      out->name = std::move(name);
      return 0;
    }
    if (!trustedLink(names.folder, name, out->st)) {
      out->refusal = names.place(name) + " is a link owned by another user";
      return 0;
    }
    std::string target(static_cast<size_t>(out->st.st_size) + 1, '\0');
    const ssize_t n = ::readlinkat(names.folder, name.c_str(), target.data(), target.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) >= target.size()) continue;  // changed meanwhile: look again
    target.resize(static_cast<size_t>(n));
    if (target.empty() || target.front() != '/') {
      target.insert(0, name, 0, name.rfind('/') + 1);  // relative to the link's folder
    }
    name = std::move(target);
  }
  return ELOOP;
}

Status notWritten(const std::string& reason) { return Status::io("not written: " + reason); }

// Opens the device or FIFO found at target to be written in place, never
// through a link put there since it was looked at; place names it in
// messages. Sets *fd.
Status openInPlace(int folder, const std::string& target, const std::string& place, bool fifo,
                   Placement placement, int* fd) {
  const bool waitForReader = placement == Placement::kNamed;
  const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;
  const int f = ::openat(folder, target.c_str(), fifo && !waitForReader ? flags | O_NONBLOCK : flags);
  if (f < 0) {
    if (errno == ENXIO && fifo) return notWritten(place + " is a FIFO that nobody reads");
    return cannotCreate(errno);
  }
  struct stat st;
  if (::fstat(f, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    // A file put there meanwhile is not written in place.
    ::close(f);
    return Status::io("cannot create: " + place + " changed while it was opened");
  }
  // Reads and writes block again from here: the reader is there.
  if (fifo && !waitForReader) ::fcntl(f, F_SETFL, ::fcntl(f, F_GETFL) & ~O_NONBLOCK);
  *fd = f;
  return Status();
}

}  // namespace

Status OutputFile::create(const NativeFileName& name, Placement placement, const Folder* folder) {
  discard();
  folder_ = folder != nullptr ? folder->descriptor() : -1;
  const bool inFolder = folder_ >= 0;
  const Names names{at(folder_), name, inFolder ? ownName(name) : name,
                    inFolder ? name.substr(0, name.rfind('/') + 1) : ""};
  Resolved place;
  if (const int error = resolveLinks(names, &place); error != 0) return cannotCreate(error);
  if (!place.refusal.empty()) return notWritten(place.refusal);
  const std::string& target = place.name;
  const struct stat& st = place.st;
  if (place.exists && !S_ISREG(st.st_mode)) {
    // A folder fails as it should; a device or FIFO cannot be replaced.
    if (S_ISDIR(st.st_mode)) return cannotCreate(EISDIR);
    if (placement == Placement::kBatch) {
      return notWritten(names.place(target) + " is not a regular file");
    }
    int f = -1;
    const Status opened = openInPlace(names.folder, target, names.place(target),
                                      S_ISFIFO(st.st_mode), placement, &f);
    if (!opened.ok()) return opened;
    handle_ = f;
    destination_ = target;
    return Status();
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Remembered before it exists, so that no interruption leaves it behind.
    temporary_ = temporaryNameFor(target, randomNumber(), "/");
    pendingName_ = names.whole(temporary_);
    pendingTicket_ = rememberPendingFile(pendingName_);
    const int f = ::openat(names.folder, temporary_.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (f < 0) {
      const int error = errno;
      forgetTemporary();
      if (error == EEXIST) continue;
      return cannotCreate(error);
    }
    if (interrupted()) {
      // Made after the interruption looked for it: removed here.
      ::unlinkat(names.folder, temporary_.c_str(), 0);
      awaitInterruptionsEnd();
    }
    if (place.exists) {
      // Keep the replaced file's owner where we may, then its permissions
      // (a change of owner clears the set-id bits).
      if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
          ::fchown(f, st.st_uid, st.st_gid) != 0) {
        // Not permitted: the file stays ours.
      }
      ::fchmod(f, st.st_mode & 07777);
    }
    handle_ = f;
    destination_ = target;
    return Status();
  }
  return cannotCreate(EEXIST);
}

void OutputFile::useStandardOutput() {
  discard();
  handle_ = STDOUT_FILENO;
  standardOutput_ = true;
}

Status OutputFile::write(const char* data, size_t n) {
  if (handle_ < 0) return writeFailed(EBADF);
  while (n > 0) {
    const ssize_t put = ::write(fd(handle_), data, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      return writeFailed(errno);
    }
    data += put;
    n -= static_cast<size_t>(put);
  }
  return Status();
}

Status OutputFile::commit() {
  if (handle_ < 0) return writeFailed(EBADF);
  const int f = fd(handle_);
  handle_ = -1;
  if (standardOutput_) {
    standardOutput_ = false;
    return Status();  // standard output stays open for the process
  }
  if (temporary_.empty()) {
    if (::close(f) != 0) return writeFailed(errno);
    return Status();
  }
  // The bytes reach the device before the name does, so that after a power
  // loss the name holds the old document or the whole new one.
  if (::fsync(f) != 0) {
    const int error = errno;
    ::close(f);
    discard();
    return writeFailed(error);
  }
  if (::close(f) != 0) {
    const int error = errno;
    discard();
    return writeFailed(error);
  }
  return renameIntoPlace();
}

Status OutputFile::renameIntoPlace() {
  if (interrupted()) awaitInterruptionsEnd();  // renames nothing once it has begun
  const int folder = at(folder_);
  if (::renameat(folder, temporary_.c_str(), folder, destination_.c_str()) != 0) {
    const int error = errno;
    discard();
    return Status::io("cannot replace: " + systemReason(error));
  }
  forgetTemporary();
  return Status();
}

Status OutputFile::finishWriting() {
  if (handle_ < 0 || standardOutput_ || temporary_.empty()) return commit();
  const int f = fd(handle_);
  handle_ = -1;
  struct stat st;
  if (::fstat(f, &st) == 0) device_ = static_cast<uint64_t>(st.st_dev);
#ifdef __linux__
  // Only starts the write-back; a failure of it shows at the flush.
  ::sync_file_range(f, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  if (::close(f) != 0) {
    const int error = errno;
    discard();
    return writeFailed(error);
  }
  finished_ = true;
  return Status();
}

namespace {

// Runs flush (syncfs or fsync) on a new descriptor of a finished hidden
// file; returns 0 or the error. Opened without waiting, so that a FIFO put
// in the hidden file's place by another user cannot hold the batch up.
template <typename Flush>
int flushThrough(int folder, const std::string& name, Flush flush) {
  const int f = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (f < 0) return errno;
  const int error = flush(f) == 0 ? 0 : errno;
  ::close(f);
  return error;
}

}  // namespace

// One syncfs writes every dirty byte and the metadata of the file system,
// and waits for them: the group's files are all on the device once it
// returns (and since Linux 5.8 it reports a failed write-back).
bool OutputFile::flushFileSystem() const {
#ifdef __linux__
  return flushThrough(at(folder_), temporary_, ::syncfs) == 0;
#else
  return false;
#endif
}

Status OutputFile::flushAlone() const {
  const int error = flushThrough(at(folder_), temporary_, ::fsync);
  return error == 0 ? Status() : writeFailed(error);
}

void OutputFile::discard() {
  if (handle_ >= 0 && !standardOutput_) ::close(fd(handle_));
  handle_ = -1;
  standardOutput_ = false;
  if (!temporary_.empty()) ::unlinkat(at(folder_), temporary_.c_str(), 0);
  forgetTemporary();
}

}  // namespace ordil::platform
