// Memory the product takes in large blocks: the read windows and the
// document buffers.
#ifndef ORDIL_PLATFORM_MEMORY_H_
#define ORDIL_PLATFORM_MEMORY_H_

#include <cstddef>

namespace ordil::platform {

// Takes an uninitialised block of at least n bytes (n > 0) for a large
// buffer, or returns nullptr when the memory cannot be had. Where the
// system has large pages (2 MiB on Linux), a block of 512 KiB or more is
// placed and marked so that it can be backed by them: filling it then
// takes one fault per large page instead of one per 4 KiB page, which on
// virtual machines costs far more. Such a block may reserve up to a large
// page more than n. Release it with releaseLarge(p, n), n as given here.
void* allocateLarge(size_t n);
void releaseLarge(void* p, size_t n);

// The size of the pages a block of n bytes from allocateLarge is meant to
// be backed by: what making part of it resident makes resident at once.
size_t pageSizeFor(size_t n);

// Makes the whole pages of [p, p + n) resident and writable now, in one
// call, where the system can (Linux 5.14 and later); returns whether it
// did. A fresh block that is then filled page by page otherwise takes a
// fault for each page, which on some machines, virtual ones above all,
// costs ten times as much. The memory works the same either way, so a
// false return needs no handling. Touches nothing outside [p, p + n).
bool prepareWritable(void* p, size_t n);

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_MEMORY_H_
