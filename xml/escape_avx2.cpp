// The AVX2 kernel: 32 bytes at a time, where the processor has AVX2. It is
// compiled for AVX2 whatever the build's own target, and chosen only where
// the processor says it has it.
#if defined(__SSE2__)

// Everything included is compiled for the build's own target, before the
// switch to AVX2 below.
#include "xml/escape_kernel.h"
#include "xml/escape_sse2_blocks.h"
#include "xml/xml_escape.h"

#if defined(__clang__)
#define ORDIL_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define ORDIL_END_AVX2 _Pragma("clang attribute pop")
#else
#define ORDIL_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define ORDIL_END_AVX2 _Pragma("GCC pop_options")
#endif

namespace ordil {

namespace escape_kernel::avx2 {

ORDIL_BEGIN_AVX2
using Block = __m256i;
constexpr size_t kWidth = 32;

[[gnu::always_inline]] inline Block loadWhole(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
[[gnu::always_inline]] inline Block loadPart(const unsigned char* p, size_t n) {
  if (n >= 16) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(sse2::loadWhole(p)),
                                   sse2::loadPart(p + 16, n - 16), 1);
  }
  return _mm256_inserti128_si256(_mm256_setzero_si256(), sse2::loadPart(p, n), 0);
}
[[gnu::always_inline]] inline void storeWhole(char* out, Block v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}
[[gnu::always_inline]] inline uint64_t topBits(Block v) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(v));
}
template <int byte>
[[gnu::always_inline]] inline Block splat() {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(splatBytes<byte>()));
}
[[gnu::always_inline]] inline Block orB(Block a, Block b) { return _mm256_or_si256(a, b); }
[[gnu::always_inline]] inline Block andB(Block a, Block b) { return _mm256_and_si256(a, b); }
[[gnu::always_inline]] inline Block andNotB(Block a, Block b) {
  return _mm256_andnot_si256(a, b);
}
[[gnu::always_inline]] inline Block eqB(Block a, Block b) { return _mm256_cmpeq_epi8(a, b); }
[[gnu::always_inline]] inline Block lessSigned(Block a, Block b) { return _mm256_cmpgt_epi8(b, a); }
[[gnu::always_inline]] inline Block maxUnsigned(Block a, Block b) { return _mm256_max_epu8(a, b); }
[[gnu::always_inline]] inline Block zeroBlock() { return _mm256_setzero_si256(); }
template <int k>
[[gnu::always_inline]] inline Block shiftBits(Block v) { return _mm256_slli_epi16(v, k); }
// Within each 128-bit half, alignr takes the bytes above from the next
// half, which the permutation puts beside it (zeros above the top one).
template <int k>
[[gnu::always_inline]] inline Block bytesAfter(Block v) {
  return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, k);
}

#include "xml/escape_blocks.inc"

namespace {

template <const AsciiTable& kTable>
char* escapeWhole(std::string_view utf8, const char* readable, char* out) {
  return escapeField<false>(utf8, readableEnd(utf8, readable), kTable, out);
}

}  // namespace
ORDIL_END_AVX2

namespace {

bool processorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

}  // namespace

}  // namespace escape_kernel::avx2

extern const EscapeKernel kAvx2EscapeKernel = {
    "avx2",
    escape_kernel::avx2::processorHasAvx2,
    escape_kernel::avx2::escapeWhole<escape_kernel::kTextTable>,
    escape_kernel::avx2::escapeWhole<escape_kernel::kAttributeTable>,
    escape_kernel::avx2::escapeFieldValue<escape_kernel::kTextTable>,
    escape_kernel::avx2::escapeFieldValue<escape_kernel::kAttributeTable>,
};

}  // namespace ordil

#endif  // defined(__SSE2__)
