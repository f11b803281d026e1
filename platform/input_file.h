// The input cache file: its size and its bytes.
#ifndef ORDIL_PLATFORM_INPUT_FILE_H_
#define ORDIL_PLATFORM_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/byte_source.h"
#include "base/status.h"
#include "platform/file_name.h"
#include "platform/folder.h"

namespace ordil::platform {

// An input file opened for reading, sharing reading, writing and deletion
// with other processes; the file has to exist and be a regular file. It
// stays open until destruction.
class InputFile : public ByteSource {
 public:
  InputFile();
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens the file by its path in the narrow code page (on Windows through
  // CreateFileA) and takes its size. Fails with kind kIo and
  // "cannot open: reason".
  Status open(const std::string& narrowPath);

  // Which symbolic links the open follows.
  enum class Links {
    // All: the user named the file.
    kFollow,
    // Only trusted ones (the rule of platform/output_file.h's Placement),
    // for a file met in a folder, where another user may have planted a
    // link to a file of the runner's. Any other link fails with "not
    // read: x.ashx is a link owned by another user" and refused() true;
    // the file reached is opened without following a link put there
    // since. On Windows no link or junction is followed.
    kTrustedOnly,
  };

  // The same by the platform's own form of the name (on Windows the wide
  // name, so that names the narrow code page cannot hold open too). When
  // folder is given, name is a file in it, and is opened there whatever
  // has become of the folder's path (platform/folder.h).
  Status openNative(const NativeFileName& name, const Folder* folder = nullptr,
                    Links links = Links::kFollow);

  // Whether the open failed because a link was not trusted.
  bool refused() const { return refused_; }

  // The opened file's identity, permissions and owner.
  const FileFacts& facts() const { return facts_; }

  // The file's full size in bytes, taken when it was opened.
  uint64_t size() const { return size_; }

  // Reads on from where the last read ended (ByteSource).
  Status read(char* buffer, size_t n, size_t* got) override;

 private:
  struct Stream;  // what read() reads through, where the platform needs one

  // Takes the size of the file just opened (Windows).
  Status takeSize(intptr_t opened);

  NativeFileName name_;
  std::unique_ptr<Stream> stream_;
  bool open_ = false;
  bool refused_ = false;
  uint64_t size_ = 0;
  FileFacts facts_;
  intptr_t handle_ = -1;
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_INPUT_FILE_H_
