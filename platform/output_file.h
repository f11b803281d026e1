// The output document's file, which appears whole or not at all.
#ifndef ORDIL_PLATFORM_OUTPUT_FILE_H_
#define ORDIL_PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "platform/file_name.h"
#include "platform/interrupt.h"

namespace ordil::platform {

// A file written with bytes exactly as given (no line-end translation) that
// replaces its destination only once it is complete.
//
// create() makes a new hidden file in the destination's folder (named
// ".NAME." and a random suffix, created exclusively, never through an
// existing link); write() appends to it; commit() flushes it to the device,
// closes it and renames it over the destination, so that a reader sees the
// old file or the whole new one and never a part. The new file takes the
// permission bits (and, where allowed, the owner) of the file it replaces;
// a new name gets 0666 less the umask. Until commit() the destination is
// untouched: discard(), destruction without commit(), and an interruption
// (platform/interrupt.h) remove the hidden file.
//
// A destination that is a symbolic link is written through: its final
// target is replaced and the link stays. A destination that exists and is
// not a regular file (a device such as /dev/null, a FIFO) cannot be
// replaced: it is opened and written in place, and commit() closes it.
//
// On Windows the hidden file is shared for reading, writing and deletion,
// and commit() replaces the destination with MoveFileExW.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // discard() unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Prepares to write the destination name. Fails (kind kIo) with
  // "cannot create: reason".
  Status create(const NativeFileName& name);

  // Writes to the process's standard output instead, in place; commit()
  // leaves it open.
  void useStandardOutput();

  // Writes all n bytes at data. Fails with "write failed: reason".
  Status write(const char* data, size_t n);

  // Makes the written bytes the destination's. Fails with "write failed:
  // reason" or "cannot replace: reason"; the hidden file is then removed
  // and the destination left as it was (a file written in place keeps
  // what reached it).
  Status commit();

  // Removes the hidden file; the destination stays as it was.
  void discard();

 private:
  // Forgets the hidden file once it has been renamed or removed.
  void forgetTemporary() {
    forgetPendingFile(pendingTicket_);
    pendingTicket_ = -1;
    temporary_.clear();
  }

  intptr_t handle_ = -1;
  NativeFileName destination_;  // the file replaced, links resolved
  NativeFileName temporary_;    // empty when writing in place
  int pendingTicket_ = -1;
  bool standardOutput_ = false;
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_OUTPUT_FILE_H_
