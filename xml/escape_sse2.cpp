// The SSE2 kernel: 16 bytes at a time, on every x86-64 processor. Builds
// for other processors (the 32-bit Windows program among them) have the
// portable kernel alone.
#if defined(__SSE2__)

#include "xml/escape_kernel.h"
#include "xml/escape_sse2_blocks.h"
#include "xml/xml_escape.h"

namespace ordil {

namespace escape_kernel::sse2 {

#include "xml/escape_blocks.inc"

namespace {

template <const AsciiTable& kTable>
char* escapeWhole(std::string_view utf8, const char* readable, char* out) {
  return escapeField<false>(utf8, readableEnd(utf8, readable), kTable, out);
}

bool always() { return true; }

}  // namespace

}  // namespace escape_kernel::sse2

extern const EscapeKernel kSse2EscapeKernel = {
    "sse2",
    escape_kernel::sse2::always,
    escape_kernel::sse2::escapeWhole<escape_kernel::kTextTable>,
    escape_kernel::sse2::escapeWhole<escape_kernel::kAttributeTable>,
    escape_kernel::sse2::escapeFieldValue<escape_kernel::kTextTable>,
    escape_kernel::sse2::escapeFieldValue<escape_kernel::kAttributeTable>,
};

}  // namespace ordil

#endif  // defined(__SSE2__)
