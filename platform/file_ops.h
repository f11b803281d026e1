// The few file operations the output file's protocol (platform/output_file.h)
// is made of: each platform implements them (file_posix.cpp,
// file_win32.cpp), the protocol itself is written once above them
// (output_file.cpp), and tests wrap them to make any step fail (leveldb's
// Env and fault-injection Env are the model).
#ifndef ORDIL_PLATFORM_FILE_OPS_H_
#define ORDIL_PLATFORM_FILE_OPS_H_

#include <cstddef>
#include <cstdint>

#include "base/status.h"
#include "platform/file_name.h"

namespace ordil::platform {

struct Creation;

class FileOps {
 public:
  // Where a document goes, as place() found it.
  struct Place {
    intptr_t folder = -1;       // POSIX: the descriptor the names are relative to
    NativeFileName target;      // the name renamed over, links resolved
    NativeFileName wholePrefix; // what makes a hidden name whole, for the interrupt handler
    const char* separators = "/";  // of the platform's names
    intptr_t inPlace = -1;      // a device or FIFO opened to be written in place
    bool skip = false;          // something stands there and is to stay: nothing is written
    bool replacesCache = false; // the place is the cache file itself
  };

  virtual ~FileOps() = default;

  // Resolves the name and applies the placement rules (platform/
  // output_file.h): fills *place, opening a device or FIFO that is to be
  // written in place. Fails with "cannot create: ..." or "not written: ...".
  virtual Status place(const NativeFileName& name, const Creation& how, Place* place) = 0;

  // Creates the hidden file at place, exclusively, readable by its owner
  // alone, never through a link. *taken is set when the name exists.
  virtual Status createHidden(const Place& place, const NativeFileName& hidden, intptr_t* handle,
                              bool* taken) = 0;

  // Writes all n bytes. Fails with "write failed: reason" (kind
  // kClosedOutput for a pipe whose reader has gone).
  virtual Status write(intptr_t handle, const char* data, size_t n) = 0;

  // Gives the file the permission bits and, run by root, the owner of the
  // cache file, or 0666 less the umask without one.
  virtual void setPermissions(intptr_t handle, const FileFacts* cache) = 0;

  // Flushes the file's bytes to the device and waits.
  virtual Status flush(intptr_t handle) = 0;

  // Starts the write-back of the file's bytes without waiting; sets
  // *device to its file system or volume.
  virtual void startWriteBack(intptr_t handle, uint64_t* device) = 0;

  virtual Status close(intptr_t handle) = 0;

  // Renames the hidden file over place.target, or, without replace, only
  // where nothing stands (*taken set when something did).
  virtual Status rename(const Place& place, const NativeFileName& hidden, bool replace,
                        bool* taken) = 0;

  virtual void remove(const Place& place, const NativeFileName& hidden) = 0;

  // Flushes every finished file of the hidden file's file system (one
  // syncfs on Linux), or returns false where that fails or the platform
  // has no such flush.
  virtual bool flushFileSystem(const Place& place, const NativeFileName& hidden) = 0;

  // Flushes the closed hidden file alone.
  virtual Status flushFile(const Place& place, const NativeFileName& hidden) = 0;

  // The handle of the process's open descriptor (1 standard output).
  virtual intptr_t descriptor(int number) = 0;
};

// The platform's own operations.
FileOps* systemFileOps();

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_FILE_OPS_H_
