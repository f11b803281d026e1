// The 16-byte blocks of SSE2, part of every x86-64 processor: the
// primitives xml/escape_blocks.inc is written in, for the SSE2 kernel, and
// the loads the AVX2 kernel builds its 32-byte blocks from.
#ifndef ORDIL_XML_ESCAPE_SSE2_BLOCKS_H_
#define ORDIL_XML_ESCAPE_SSE2_BLOCKS_H_

#if defined(__SSE2__)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "xml/escape_kernel.h"

namespace ordil::escape_kernel {

namespace sse2 {

using Block = __m128i;
constexpr size_t kWidth = 16;

[[gnu::always_inline]] inline Block loadWhole(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Two overlapping loads at most. (x86 is little-endian, so a loaded word's
// first byte is its lowest.)
[[gnu::always_inline]] inline Block loadPart(const unsigned char* p, size_t n) {
  if (n >= 8) {
    uint64_t low;
    uint64_t high = 0;
    std::memcpy(&low, p, 8);
    if (n > 8) {
      std::memcpy(&high, p + n - 8, 8);
      high >>= 8 * (16 - n);
    }
    return _mm_set_epi64x(static_cast<int64_t>(high), static_cast<int64_t>(low));
  }
  uint64_t word = 0;
  if (n >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    word = first | uint64_t{last} << (8 * (n - 4));  // the overlap holds the same bytes
  } else if (n > 0) {
    word = uint64_t{p[0]} | uint64_t{p[n / 2]} << (8 * (n / 2)) | uint64_t{p[n - 1]} << (8 * (n - 1));
  }
  return _mm_set_epi64x(0, static_cast<int64_t>(word));
}

[[gnu::always_inline]] inline void storeWhole(char* out, Block v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}
[[gnu::always_inline]] inline uint64_t topBits(Block v) {
  return static_cast<uint32_t>(_mm_movemask_epi8(v));
}
template <int byte>
[[gnu::always_inline]] inline Block splat() {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(splatBytes<byte>()));
}
[[gnu::always_inline]] inline Block orB(Block a, Block b) { return _mm_or_si128(a, b); }
[[gnu::always_inline]] inline Block andB(Block a, Block b) { return _mm_and_si128(a, b); }
[[gnu::always_inline]] inline Block andNotB(Block a, Block b) { return _mm_andnot_si128(a, b); }
[[gnu::always_inline]] inline Block eqB(Block a, Block b) { return _mm_cmpeq_epi8(a, b); }
[[gnu::always_inline]] inline Block lessSigned(Block a, Block b) { return _mm_cmplt_epi8(a, b); }
[[gnu::always_inline]] inline Block maxUnsigned(Block a, Block b) { return _mm_max_epu8(a, b); }
[[gnu::always_inline]] inline Block zeroBlock() { return _mm_setzero_si128(); }
template <int k>
[[gnu::always_inline]] inline Block shiftBits(Block v) { return _mm_slli_epi16(v, k); }
template <int k>
[[gnu::always_inline]] inline Block bytesAfter(Block v) { return _mm_srli_si128(v, k); }

}  // namespace sse2

}  // namespace ordil::escape_kernel

#endif  // defined(__SSE2__)

#endif  // ORDIL_XML_ESCAPE_SSE2_BLOCKS_H_
