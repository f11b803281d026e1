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

  // Reads up to n of the bytes that follow those read before into buffer,
  // and sets *got to how many were read: fewer than n only at the end of
  // the source (the result is then ok) or when a read failed (the result
  // says why; *got counts the bytes read before the failure).
  virtual Status read(char* buffer, size_t n, size_t* got) = 0;
};

}  // namespace ordil

#endif  // ORDIL_BASE_BYTE_SOURCE_H_
