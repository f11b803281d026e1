// Memory the product takes in large blocks: the read window and the
// document buffers.
#ifndef ORDIL_PLATFORM_MEMORY_H_
#define ORDIL_PLATFORM_MEMORY_H_

#include <cstddef>

namespace ordil::platform {

// Makes the whole pages of [p, p + n) resident and writable now, in one
// call, where the system can (Linux 5.14 and later); returns whether it
// did. A fresh block that is then filled page by page otherwise takes a
// fault for each page, which on some machines, virtual ones above all,
// costs ten times as much. The memory works the same either way, so a
// false return needs no handling. Touches nothing outside [p, p + n).
bool prepareWritable(void* p, size_t n);

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_MEMORY_H_
