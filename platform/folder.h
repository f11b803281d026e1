// A folder held open while the files in it are read and written, so that
// they stay in that folder whatever is renamed, or planted as a link, along
// its path meanwhile.
#ifndef ORDIL_PLATFORM_FOLDER_H_
#define ORDIL_PLATFORM_FOLDER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/file_name.h"

namespace ordil::platform {

// The batch mode lists a folder the user named, then converts the files it
// found there, perhaps minutes later. A folder below the named one that
// another user has replaced by a link in between would lead the document
// elsewhere (into the victim's folder). A Folder is reached from the named
// one without following any link, and files are then opened, made and
// renamed relative to it: on POSIX through its descriptor (openat,
// renameat); on Windows each folder below the named one is held open
// without delete sharing, so that none of them can be renamed or removed
// while the Folder is open.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens `base` (links followed: the user named it), then each folder
  // named in `below` in turn, inside the one before, following no link.
  // With create, a folder of `below` that is not there is made first, as
  // mkdir -p makes it (mode 0777 less the umask). Fails (kind kIo) with
  // "NAME is no longer a folder" when one of them is now a link or
  // something else ("NAME is not a folder" with create), "cannot make the
  // folder NAME: reason", or "cannot open the folder: reason".
  // modeOf, when given, says the mode of the folder made for below[i], less
  // the umask (the mode of the folder it mirrors, as cp -r makes it).
  Status open(const NativeFileName& base, const std::vector<NativeFileName>& below,
              bool create = false, const std::function<uint32_t(size_t)>& modeOf = nullptr);

  // The descriptor files are opened relative to (POSIX), or -1 when the
  // Folder is not open or the platform opens files by their whole names.
  intptr_t descriptor() const { return descriptor_; }

 private:
  void close();

  intptr_t descriptor_ = -1;
  std::vector<intptr_t> held_;  // Windows: the folders below base, held open
};

// When the file was last modified, in units of the platform's own (to be
// compared with each other only), or none when nothing is there, or when
// it is not a regular file: a link, when followLink is false, is not one.
// name is the whole name; when folder is given and open, the file is looked
// at in it (platform/folder.h), like InputFile::openNative.
std::optional<int64_t> modifiedTime(const NativeFileName& name, bool followLink,
                                    const Folder* folder = nullptr);

// Whether the path in the narrow code page names a folder (links
// followed).
bool isFolder(const std::string& narrowPath);

// The permission bits of a folder (links followed), or 0777 where the
// platform has none or it cannot be looked at.
uint32_t folderMode(const NativeFileName& name);

// Checks the links along a folder's path that the user named, where the
// documents go (-d): each link met, in the path or where a link leads,
// must be trusted (platform/output_file.h's Placement), or this fails with
// "not written: out is a link owned by another user". A part that does not
// exist ends the check. Windows has no owners to check here.
Status checkLinksAlong(const NativeFileName& path);

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_FOLDER_H_
