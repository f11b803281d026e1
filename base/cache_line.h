// The span of memory that processors keep coherent as one: state that two
// threads write often is kept on lines of its own (alignas(kCacheLine)),
// or each write by one would take the line from the other.
#ifndef ORDIL_BASE_CACHE_LINE_H_
#define ORDIL_BASE_CACHE_LINE_H_

#include <cstddef>

namespace ordil {

// 64 bytes on x86 and most other processors.
inline constexpr size_t kCacheLine = 64;

}  // namespace ordil

#endif  // ORDIL_BASE_CACHE_LINE_H_
