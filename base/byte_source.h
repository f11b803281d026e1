// The bytes of a file as its reader sees them: from the start, in pieces.
// A file on disk and bytes in memory (in tests) are both byte sources.
#ifndef ORDIL_BASE_BYTE_SOURCE_H_
#define ORDIL_BASE_BYTE_SOURCE_H_

#include <cstddef>

#include "base/status.h"

namespace ordil {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to n of the bytes that follow those read before into buffer.
  // Returns how many were read: fewer than n only at the end of the source,
  // or when a read failed, which *status then says (it stays ok at the
  // end).
  virtual size_t read(char* buffer, size_t n, Status* status) = 0;
};

}  // namespace ordil

#endif  // ORDIL_BASE_BYTE_SOURCE_H_
