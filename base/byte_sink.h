// Where the bytes of a document go, in order: a file, standard output, a
// string in tests, or nowhere. The formatter hands them over a block at a
// time and knows nothing of what takes them.
#ifndef ORDIL_BASE_BYTE_SINK_H_
#define ORDIL_BASE_BYTE_SINK_H_

#include <cstddef>

namespace ordil {

class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // Takes the n bytes at data, which follow those taken before. A sink
  // that fails keeps the failure itself (its owner reads it) and drops
  // what follows; write() throws only what its owner lets through (no
  // memory, a failure on another thread).
  virtual void write(const char* data, size_t n) = 0;
};

}  // namespace ordil

#endif  // ORDIL_BASE_BYTE_SINK_H_
