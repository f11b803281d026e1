// File names in the form the platform's file interface takes them: bytes on
// POSIX, UTF-16 on Windows.
#ifndef ORDIL_PLATFORM_FILE_NAME_H_
#define ORDIL_PLATFORM_FILE_NAME_H_

#include <cstdint>
#include <string>
#include <type_traits>

namespace ordil::platform {

#ifdef _WIN32
using NativeFileName = std::u16string;
#else
using NativeFileName = std::string;
#endif

// Whether file names are UTF-16 (Windows) rather than bytes (POSIX).
inline constexpr bool kWideFileNames = std::is_same_v<NativeFileName, std::u16string>;

// The platform form of a path in the narrow code page. On POSIX the bytes
// themselves, so a name that is not valid in any encoding still names its
// file; on Windows the path converted with narrowToWide.
NativeFileName nativeFileName(const std::string& narrowPath);

// The name as bytes for messages (UTF-8 on Windows).
std::string displayFileName(const NativeFileName& name);

// The name as the platform's file systems compare names, so that two names
// of one file compare equal: as it is on POSIX, in upper case on Windows.
NativeFileName comparableFileName(NativeFileName name);

// What a document takes from its cache file, and what tells the cache file
// apart from every other file.
struct FileFacts {
  uint64_t device = 0;  // the file system (POSIX) or volume (Windows)
  uint64_t file = 0;    // the inode (POSIX) or file index (Windows)
  uint32_t mode = 0;    // permission bits (POSIX)
  uint32_t owner = 0, group = 0;  // (POSIX)

  // Unknown identities (0, where the system gave none) match nothing.
  bool sameFile(const FileFacts& other) const {
    return file != 0 && device == other.device && file == other.file;
  }
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_FILE_NAME_H_
