// The output document's file, which appears whole or not at all.
#ifndef ORDIL_PLATFORM_OUTPUT_FILE_H_
#define ORDIL_PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/file_name.h"
#include "platform/file_ops.h"
#include "platform/folder.h"
#include "platform/interrupt.h"

namespace ordil::platform {

// What create() may find in the destination's place besides a regular file
// or nothing, by who chose the name.
//
// A symbolic link in the place, or anywhere along the chain of links from
// it, is followed only when it is trusted: owned by the user running the
// program, or owned by root in a folder that root alone may write (as
// /dev/stdout is). Any other link may have been planted by another user
// to turn the document against a file of the runner's, so the document is
// not written ("not written: x.xml is a link owned by another user") and
// the link and what it leads to stay untouched. Linux applies the same
// rule to links in sticky folders (fs.protected_symlinks); here it holds
// in every folder, and for root too.
enum class Placement {
  // A name the user gave (-o): a device or FIFO is written in place,
  // waiting for a FIFO's reader as a shell's redirection does.
  kNamed,
  // A name derived from the cache file's (the single mode): a device is
  // written in place; a FIFO only when someone reads it already, so that
  // nothing planted can make the run wait ("a FIFO that nobody reads").
  kDerived,
  // A document of the batch mode: anything but a regular file is refused
  // ("not a regular file"), so that nothing planted can block or divert
  // the batch.
  kBatch,
};

// How create() makes a document.
struct Creation {
  Placement placement = Placement::kDerived;
  // When given, name is a file in this folder, and the hidden file is made
  // and renamed there whatever has become of the folder's path
  // (platform/folder.h); the folder must stay open until the file is
  // committed or discarded.
  const Folder* folder = nullptr;
  // The cache file the document is made from: the document takes its
  // permission bits, and, when root makes it, its owner and group, as
  // gzip gives them. Without one, a new document gets 0666 less the umask.
  // A destination that is this very file (a hard link, a link, the same
  // name) is refused: create() fails and replacesCache() says why.
  const FileFacts* cache = nullptr;
  // Writes the document only where nothing stands: when anything is in
  // its place, or appears there meanwhile, nothing is written and
  // commit() succeeds.
  bool onlyWhereNothingStands = false;
};

// A file written with bytes exactly as given (no line-end translation) that
// replaces its destination only once it is complete.
//
// create() makes a new hidden file in the destination's folder (named
// ".NAME." and a random suffix, created exclusively, never through an
// existing link, readable by its owner alone); write() appends to it;
// commit() gives it its final permissions and owner (Creation::cache),
// flushes it to the device, closes it and renames it over the
// destination, so that a reader sees the old file or the whole new one and
// never a part, and nobody reads it before it has its final permissions.
// Until commit() the destination is untouched: discard(), destruction
// without commit(), and an interruption (platform/interrupt.h) remove the
// hidden file.
//
// A destination that is a trusted symbolic link (see Placement) is written
// through: its final target is replaced and the link stays. The rename
// never follows a link, so a link put in the target's place after it was
// looked at is replaced, not written through. A destination that exists
// and is not a regular file (a device such as /dev/null, a FIFO) cannot be
// replaced: it is opened and written in place where the placement allows
// (in the single mode only a device or FIFO of the runner's, or root's in
// a folder only root can write: "x.xml is a FIFO owned by another user"),
// and commit() closes it.
//
// On Windows a link or junction in the destination's place is never
// written through: the document replaces the link itself. The hidden file
// is shared for reading, writing and deletion, and commit() replaces the
// destination with MoveFileExW.
//
// Its steps go through FileOps (platform/file_ops.h): the platform's own,
// or, in tests, ones that fail where asked.
class OutputFile {
 public:
  explicit OutputFile(FileOps* ops = systemFileOps()) : ops_(ops) {}
  ~OutputFile();  // discard() unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Prepares to write the destination name. Fails (kind kIo, or
  // kTooManyFiles when the process may open no more) with "cannot create:
  // reason", or "not written: reason" for what the placement refuses in
  // the destination's place.
  Status create(const NativeFileName& name, const Creation& how);
  Status create(const NativeFileName& name, Placement placement,
                const Folder* folder = nullptr) {
    Creation how;
    how.placement = placement;
    how.folder = folder;
    return create(name, how);
  }

  // Writes to one of the process's open descriptors instead (1 for
  // standard output), in place, where it stands (appending where it was
  // opened to append); commit() leaves it open. Writing to a pipe whose
  // reader has gone fails with kind kClosedOutput.
  void useDescriptor(int descriptor);
  void useStandardOutput() { useDescriptor(1); }

  // Writes all n bytes at data. Fails with "write failed: reason".
  Status write(const char* data, size_t n);

  // Makes the written bytes the destination's. Fails with "write failed:
  // reason" or "cannot replace: reason"; the hidden file is then removed
  // and the destination left as it was (a file written in place keeps
  // what reached it).
  Status commit();

  // Removes the hidden file; the destination stays as it was.
  void discard();

  // Whether create() failed because the destination is the cache file.
  bool replacesCache() const { return place_.replacesCache; }

  // For a caller that makes many files durable at once (the batch), commit()
  // in three steps, so that a group of files costs one flush:
  //
  //   finishWriting()          each file, once written: starts the
  //                            write-back of its bytes without waiting
  //                            (Linux: sync_file_range; Windows: its data
  //                            written out, the drive's cache left alone)
  //                            and closes it; the hidden file stays
  //   makeDurable(files)       the group: as few flushes as the platform
  //                            allows (below)
  //   commitFinished()         each file whose flush succeeded: the rename
  //
  // A file written in place (a device, standard output) is closed by
  // finishWriting(), and commitFinished() then does nothing. A file whose
  // finishWriting() or makeDurable() failed is discarded. The folder given
  // to create() must stay open until the file is committed or discarded.
  // Fails as commit() does.
  Status finishWriting();
  Status commitFinished();

  // Makes the bytes of the finished files durable, so that once a file is
  // renamed its name holds its whole bytes after a power loss: one
  // syncfs() for each file system the files lie on (Linux), one
  // FlushFileBuffers() for each volume (Windows), an fsync() for each file
  // elsewhere. When such a flush fails, each file of its file system is
  // flushed alone, so that the failure is known file by file. Sets a
  // status for each file in *results, in order: ok, or "write failed:
  // reason"; takes no memory beyond *results.
  static void makeDurable(const std::vector<OutputFile*>& files, std::vector<Status>* results);

 private:
  // Renames the hidden file over the destination, unless an interruption
  // has begun; removes it when the rename fails.
  Status renameIntoPlace();

  // Forgets the hidden file once it has been renamed or removed.
  void forgetTemporary() {
    forgetPendingFile(pendingTicket_);
    pendingTicket_ = -1;
    temporary_.clear();
    pendingName_.clear();
    finished_ = false;
  }

  FileOps* const ops_;
  FileOps::Place place_;
  intptr_t handle_ = -1;
  NativeFileName temporary_;    // the hidden file; empty when writing in place
  NativeFileName pendingName_;  // the same, whole, as an interruption removes it
  int pendingTicket_ = -1;
  bool standardOutput_ = false;
  bool finished_ = false;  // closed by finishWriting(), the hidden file not yet renamed
  bool noReplace_ = false; // the rename replaces nothing that appeared meanwhile
  bool hasCache_ = false;
  FileFacts cache_;        // what the hidden file takes, when hasCache_
  uint64_t device_ = 0;    // the file system (POSIX) or volume (Windows) of the hidden file
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_OUTPUT_FILE_H_
