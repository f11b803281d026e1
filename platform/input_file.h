// The input cache file: its size and its bytes.
#ifndef ORDIL_PLATFORM_INPUT_FILE_H_
#define ORDIL_PLATFORM_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
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

  // Reads up to n bytes from the start of the file into buffer. Returns how
  // many were read: fewer than n when the file ended early or a read failed
  // (then error() tells why).
  size_t readAll(char* buffer, size_t n);

  // The system's reason for the last failure, empty if there was none.
  const std::string& error() const { return error_; }

 private:
  std::string path_;
  bool open_ = false;
  uint64_t size_ = 0;
  intptr_t handle_ = -1;
  std::string error_;
};

// Uninitialised memory to hold a whole input file. Where the system offers
// it, large blocks are backed by huge pages, which makes filling them with
// the file's bytes far cheaper than page by page.
class InputBuffer {
 public:
  // Asks for n bytes (at least one); check data() afterwards. Never throws.
  explicit InputBuffer(size_t n);
  ~InputBuffer();
  InputBuffer(const InputBuffer&) = delete;
  InputBuffer& operator=(const InputBuffer&) = delete;

  // The block, or nullptr when the memory could not be had.
  char* data() const { return data_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_INPUT_FILE_H_
