// The input cache file: its size and its bytes.
#ifndef ORDIL_PLATFORM_INPUT_FILE_H_
#define ORDIL_PLATFORM_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ordil::platform {

// An input file opened by its path in the narrow code page for reading,
// sharing reading, writing and deletion with other processes; the file has
// to exist. The file stays open until destruction.
class InputFile {
 public:
  // Opens the file; check isOpen() and error() afterwards.
  explicit InputFile(const std::string& narrowPath);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Whether the file was opened and its size taken.
  bool isOpen() const { return open_; }

  // The file's full size in bytes, taken when it was opened.
  uint64_t size() const { return size_; }

  // Reads up to n of the bytes that follow those read before (the first
  // call starts at the beginning) into buffer. Returns how many were read:
  // fewer than n only when the file ended early or a read failed (then
  // error() tells why).
  size_t read(char* buffer, size_t n);

  // The system's reason for the last failure, empty if there was none.
  const std::string& error() const { return error_; }

 private:
  struct Stream;  // what read() reads through, where the platform needs one

  std::string path_;
  std::unique_ptr<Stream> stream_;
  bool open_ = false;
  uint64_t size_ = 0;
  intptr_t handle_ = -1;
  std::string error_;
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_INPUT_FILE_H_
