// POSIX folders: a descriptor, reached with O_NOFOLLOW below the named one.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/folder.h"
#include "text/quote.h"

namespace ordil::platform {

namespace {

// A descriptor for a folder serves only as the base of later calls: O_PATH
// asks for no read permission on it, as walking a path does not.
#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

Status failure(int error, const std::string& what) {
  std::string message = what + ": " + std::strerror(error);
  if (error == EMFILE || error == ENFILE) return Status::tooManyFiles(std::move(message));
  return Status::io(std::move(message));
}

}  // namespace

Folder::~Folder() { close(); }

void Folder::close() {
  if (descriptor_ >= 0) ::close(static_cast<int>(descriptor_));
  descriptor_ = -1;
}

Status Folder::open(const NativeFileName& base, const std::vector<NativeFileName>& below,
                    bool create, const std::function<uint32_t(size_t)>& modeOf) {
  close();
  int fd = ::open(base.empty() ? "." : base.c_str(), kFolderFlags);
  if (fd < 0) return failure(errno, "cannot open the folder");
  for (size_t i = 0; i < below.size(); ++i) {
    const NativeFileName& name = below[i];
    // Made only where missing; its mode is looked up only then.
    struct stat st;
    if (create && ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT &&
        ::mkdirat(fd, name.c_str(), modeOf ? modeOf(i) & 07777 : 0777) != 0 && errno != EEXIST) {
      const int error = errno;
      ::close(fd);
      return failure(error, "cannot make the folder " + quotedName(name));
    }
    const int next = ::openat(fd, name.c_str(), kFolderFlags | O_NOFOLLOW);
    const int error = errno;
    ::close(fd);
    if (next < 0) {
      // A link gives ELOOP; a file put in the folder's place, ENOTDIR.
      if (error == ELOOP || error == ENOTDIR) {
        return Status::io(quotedName(name) + (create ? " is not a folder" : " is no longer a folder"));
      }
      return failure(error, "cannot open the folder " + quotedName(name));
    }
    fd = next;
  }
  descriptor_ = fd;
  return Status();
}

bool isFolder(const std::string& narrowPath) {
  struct stat st;
  return ::stat(narrowPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<int64_t> modifiedTime(const NativeFileName& name, bool followLink,
                                    const Folder* folder) {
  const bool inFolder = folder != nullptr && folder->descriptor() >= 0;
  const int at = inFolder ? static_cast<int>(folder->descriptor()) : AT_FDCWD;
  const NativeFileName own = inFolder ? name.substr(name.rfind('/') + 1) : name;
  struct stat st;
  if (::fstatat(at, own.c_str(), &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode)) {
    return std::nullopt;
  }
  return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace ordil::platform
