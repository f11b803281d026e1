// POSIX files: names are bytes, opened as they are.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/file_name.h"
#include "platform/folder.h"
#include "platform/input_file.h"
#include "platform/interrupt.h"
#include "platform/output_file.h"
#include "platform/temporary_name.h"
#include "text/quote.h"

namespace ordil::platform {

namespace {

std::string systemReason(int error) { return std::strerror(error); }

// Running out of descriptors is the run's failure, not the file's.
bool outOfFiles(int error) { return error == EMFILE || error == ENFILE; }

Status failure(int error, const std::string& what) {
  std::string message = what + ": " + systemReason(error);
  return outOfFiles(error) ? Status::tooManyFiles(std::move(message)) : Status::io(std::move(message));
}

Status cannotCreate(int error) { return failure(error, "cannot create"); }

Status writeFailed(int error) {
  if (error == EPIPE) return Status::closedOutput("write failed: " + systemReason(error));
  return failure(error, "write failed");
}

// The process's umask, read once before any thread starts: reading it
// means setting it, which a thread creating files meanwhile would feel.
const mode_t kUmask = [] {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}();

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

Status cannotOpen(int error) { return failure(error, "cannot open"); }

// The last component of a name, as a message names the file.
std::string ownName(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

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

// Whether what is at name, whose lstat is st (a link, a FIFO, a device),
// may be followed or written: it is the running user's, or root's in a
// folder that root alone may write, where nobody else can have put it.
bool trustedOwner(int folder, const std::string& name, const struct stat& link) {
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
    if (reached == first) return quotedName(ownName(destination));
    return quotedName(ownName(destination)) + " leads to " + quotedName(whole(reached)) + ", which";
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
    if (!trustedOwner(names.folder, name, out->st)) {
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

// The names of a file, relative to the folder given (or the working
// folder for a whole name).
Names namesOf(const std::string& name, intptr_t folder) {
  const bool inFolder = folder >= 0;
  return Names{at(folder), name, inFolder ? ownName(name) : name,
               inFolder ? name.substr(0, name.rfind('/') + 1) : ""};
}

}  // namespace

Status InputFile::open(const std::string& narrowPath) { return openNative(narrowPath); }

Status InputFile::openNative(const NativeFileName& name, const Folder* folder, Links links) {
  name_ = name;
  refused_ = false;
  const Names names = namesOf(name, folder != nullptr ? folder->descriptor() : -1);
  // O_NONBLOCK so that a FIFO does not hold the open until a writer comes;
  // it is refused below, and regular files read the same either way.
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  const bool trustedOnly = links == Links::kTrustedOnly;
  int f = ::openat(names.folder, names.first.c_str(), trustedOnly ? flags | O_NOFOLLOW : flags);
  if (f < 0 && trustedOnly && errno == ELOOP) {
    // A link: followed only along a trusted chain, and what it leads to
    // opened without following a link put there since.
    Resolved place;
    if (const int error = resolveLinks(names, &place); error != 0) return cannotOpen(error);
    if (!place.refusal.empty()) {
      refused_ = true;
      return Status::io("not read: " + place.refusal);
    }
    f = ::openat(names.folder, place.name.c_str(), flags | O_NOFOLLOW);
  }
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
  facts_ = FileFacts{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                     static_cast<uint32_t>(st.st_mode & 07777), static_cast<uint32_t>(st.st_uid),
                     static_cast<uint32_t>(st.st_gid)};
  open_ = true;
  return Status();
}

uint32_t folderMode(const NativeFileName& name) {
  struct stat st;
  if (::stat(name.empty() ? "." : name.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0777;
  return static_cast<uint32_t>(st.st_mode & 07777);
}

Status checkLinksAlong(const NativeFileName& path) {
  // Walks the path a part at a time; a link met is checked and its target
  // put in its place, so that the links it leads along are checked too.
  std::string done = !path.empty() && path.front() == '/' ? "/" : "";
  std::string rest = path;
  for (int hops = 0; !rest.empty();) {
    const size_t slash = rest.find('/');
    const std::string part = rest.substr(0, slash);
    rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    const std::string name = done.empty() ? part : (done.back() == '/' ? done : done + "/") + part;
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0) return Status();  // the rest is met later
    if (!S_ISLNK(st.st_mode)) {
      done = name;
      continue;
    }
    if (++hops > kMaxLinks) return Status::io("cannot open the folder: " + systemReason(ELOOP));
    if (!trustedOwner(AT_FDCWD, name, st)) {
      return notWritten(quotedName(ownName(name)) + " is a link owned by another user");
    }
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlink(name.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return Status();  // met later
    target.resize(static_cast<size_t>(n));
    if (!target.empty() && target.front() == '/') done = "/";
    rest = rest.empty() ? target : target + "/" + rest;
  }
  return Status();
}

namespace {

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

namespace {

// Renames without replacing: renameat2's RENAME_NOREPLACE on Linux, a hard
// link and the removal of the old name where it is missing. Returns 0 or
// the error (EEXIST when something stands there).
int renameNoReplace(int folder, const char* from, const char* to) {
#if defined(__linux__) && defined(SYS_renameat2)
  if (::syscall(SYS_renameat2, folder, from, folder, to, 1 /* RENAME_NOREPLACE */) == 0) return 0;
  if (errno != ENOSYS && errno != EINVAL) return errno;
#endif
  if (::linkat(folder, from, folder, to, 0) != 0) return errno;
  ::unlinkat(folder, from, 0);
  return 0;
}

// Runs flush (syncfs or fsync) on a new descriptor of a finished hidden
// file; returns 0 or the error. Opened without waiting, so that a FIFO put
// in the hidden file's place by another user cannot hold the batch up.
// Where the process may open no more files, the other jobs release theirs
// within moments: the open is tried again for a second before the flush
// is given up.
template <typename Flush>
int flushThrough(int folder, const std::string& name, Flush flush) {
  int f = -1;
  for (int tries = 0; tries < 200; ++tries) {
    f = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (f >= 0 || !outOfFiles(errno)) break;
    const timespec pause{0, 5000000};
    ::nanosleep(&pause, nullptr);
  }
  if (f < 0) return errno;
  const int error = flush(f) == 0 ? 0 : errno;
  ::close(f);
  return error;
}

class PosixFileOps final : public FileOps {
 public:
  Status place(const NativeFileName& name, const Creation& how, Place* out) override {
    const Placement placement = how.placement;
    out->folder = how.folder != nullptr ? how.folder->descriptor() : -1;
    const Names names = namesOf(name, out->folder);
    out->wholePrefix = names.prefix;
    out->separators = "/";
    Resolved place;
    if (const int error = resolveLinks(names, &place); error != 0) return cannotCreate(error);
    if (!place.refusal.empty() && !how.onlyWhereNothingStands) return notWritten(place.refusal);
    const std::string& target = place.name;
    const struct stat& st = place.st;
    out->target = target;
    out->replacesCache = how.cache != nullptr && place.exists && S_ISREG(st.st_mode) &&
                         static_cast<uint64_t>(st.st_dev) == how.cache->device &&
                         static_cast<uint64_t>(st.st_ino) == how.cache->file;
    if (out->replacesCache) return Status::io("its document would replace its cache file");
    if (how.onlyWhereNothingStands &&
        (place.exists || !place.refusal.empty() || target != names.first)) {
      out->skip = true;  // anything in the place, a link too, stays as it is
      return Status();
    }
    if (!place.exists || S_ISREG(st.st_mode)) return Status();
    // A folder fails as it should; a device or FIFO cannot be replaced.
    if (S_ISDIR(st.st_mode)) return cannotCreate(EISDIR);
    if (placement == Placement::kBatch) {
      return notWritten(names.place(target) + " is not a regular file");
    }
    // One planted by another user (in a sticky folder, say) would receive
    // the document: only the runner's own, or root's where only root
    // writes (/dev/null), is written unless the user named it.
    if (placement == Placement::kDerived && !trustedOwner(names.folder, target, st)) {
      return notWritten(names.place(target) +
                        (S_ISFIFO(st.st_mode) ? " is a FIFO owned by another user"
                                              : " is a device owned by another user"));
    }
    int f = -1;
    const Status opened = openInPlace(names.folder, target, names.place(target),
                                      S_ISFIFO(st.st_mode), placement, &f);
    if (!opened.ok()) return opened;
    out->inPlace = f;
    return Status();
  }

  Status createHidden(const Place& place, const NativeFileName& hidden, intptr_t* handle,
                      bool* taken) override {
    // Readable by its owner alone until it is whole and has its final
    // permissions: a watcher of the folder reads nothing of it before.
    const int f = ::openat(at(place.folder), hidden.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (f < 0) {
      *taken = errno == EEXIST;
      return cannotCreate(errno);
    }
    *handle = f;
    return Status();
  }

  Status write(intptr_t handle, const char* data, size_t n) override {
    while (n > 0) {
      const ssize_t put = ::write(fd(handle), data, n);
      if (put < 0) {
        if (errno == EINTR) continue;
        return writeFailed(errno);
      }
      data += put;
      n -= static_cast<size_t>(put);
    }
    return Status();
  }

  void setPermissions(intptr_t handle, const FileFacts* cache) override {
    static const uid_t user = ::geteuid();
    static const gid_t userGroup = ::getegid();
    const int f = fd(handle);
    if (cache == nullptr) {
      ::fchmod(f, 0666 & ~kUmask);
      return;
    }
    mode_t mode = cache->mode & 0777;
    if (user == 0) {
      // Root gives the document to the cache file's owner and group.
      if ((cache->owner != user || cache->group != userGroup) &&
          ::fchown(f, cache->owner, cache->group) != 0) {
        mode &= ~mode_t{077};
      }
    } else if (cache->group != userGroup &&
               ::fchown(f, static_cast<uid_t>(-1), cache->group) != 0) {
      // Not in the cache file's group: this group gets no more than others.
      mode = (mode & ~mode_t{070}) | (mode & (mode >> 3) & 070);
    }
    ::fchmod(f, mode);
  }

  Status flush(intptr_t handle) override {
    return ::fsync(fd(handle)) == 0 ? Status() : writeFailed(errno);
  }

  void startWriteBack(intptr_t handle, uint64_t* device) override {
    struct stat st;
    if (::fstat(fd(handle), &st) == 0) *device = static_cast<uint64_t>(st.st_dev);
#ifdef __linux__
    ::sync_file_range(fd(handle), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  }

  Status close(intptr_t handle) override {
    return ::close(fd(handle)) == 0 ? Status() : writeFailed(errno);
  }

  Status rename(const Place& place, const NativeFileName& hidden, bool replace,
                bool* taken) override {
    const int folder = at(place.folder);
    const int error =
        !replace ? renameNoReplace(folder, hidden.c_str(), place.target.c_str())
        : ::renameat(folder, hidden.c_str(), folder, place.target.c_str()) == 0 ? 0
                                                                              : errno;
    if (error == 0) return Status();
    *taken = error == EEXIST;
    return Status::io("cannot replace: " + systemReason(error));
  }

  void remove(const Place& place, const NativeFileName& hidden) override {
    ::unlinkat(at(place.folder), hidden.c_str(), 0);
  }

  // One syncfs writes every dirty byte and the metadata of the file
  // system, and waits for them: the group's files are all on the device
  // once it returns (and since Linux 5.8 it reports a failed write-back).
  bool flushFileSystem(const Place& place, const NativeFileName& hidden) override {
#ifdef __linux__
    return flushThrough(at(place.folder), hidden, ::syncfs) == 0;
#else
    return false;
#endif
  }

  Status flushFile(const Place& place, const NativeFileName& hidden) override {
    const int error = flushThrough(at(place.folder), hidden, ::fsync);
    return error == 0 ? Status() : writeFailed(error);
  }

  intptr_t descriptor(int number) override { return number; }
};

}  // namespace

FileOps* systemFileOps() {
  static PosixFileOps ops;
  return &ops;
}

}  // namespace ordil::platform
