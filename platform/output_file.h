// The output document's file.
#ifndef ORDIL_PLATFORM_OUTPUT_FILE_H_
#define ORDIL_PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_name.h"

namespace ordil::platform {

// A file opened for writing bytes exactly as given (no line-end
// translation), other processes being allowed to read and write it
// meanwhile. Closed by close() or on destruction.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file, or truncates an existing one. On failure returns false
  // with the system's reason in *reason.
  bool create(const NativeFileName& name, std::string* reason);

  bool isOpen() const;

  // Writes all n bytes at data. On failure returns false with the reason.
  bool write(const char* data, size_t n, std::string* reason);

  // Closes the file; false with the reason if the system reports a failure.
  bool close(std::string* reason);

 private:
  intptr_t handle_ = -1;
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_OUTPUT_FILE_H_
