#include "xml/xml_escape.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "text/utf8.h"

// SSE2 is part of every x86-64 processor; other builds (the 32-bit Windows
// program among them) use the portable word-at-a-time path alone.
#if defined(__SSE2__)
#include <immintrin.h>
#define ORDIL_ESCAPE_SSE2 1
// The AVX2 path is compiled for AVX2 whatever the build's own target.
#if defined(__clang__)
#define ORDIL_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define ORDIL_END_AVX2 _Pragma("clang attribute pop")
#else
#define ORDIL_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define ORDIL_END_AVX2 _Pragma("GCC pop_options")
#endif
#else
#define ORDIL_ESCAPE_SSE2 0
#endif

namespace ordil {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// What an ASCII character becomes, held in a fixed 8 bytes so that it is
// copied with one store of fixed size; the room's slack takes the bytes
// stored past size.
struct Reference {
  char bytes[8];
  uint8_t size;
};

constexpr Reference reference(std::string_view s) {
  Reference r{};
  for (size_t i = 0; i < s.size(); ++i) r.bytes[i] = s[i];
  r.size = static_cast<uint8_t>(s.size());
  return r;
}

using AsciiTable = std::array<Reference, 128>;

// Only the entries of the characters that need work are used; the others
// hold the character itself.
constexpr AsciiTable makeTable(bool attribute) {
  AsciiTable table{};
  for (size_t c = 0; c < 128; ++c) table[c] = Reference{{static_cast<char>(c)}, 1};
  for (size_t c = 0; c < 0x20; ++c) table[c] = reference(kReplacement);
  table['\t'] = attribute ? reference("&#9;") : reference("\t");
  table['\n'] = attribute ? reference("&#10;") : reference("\r\n");
  table['\r'] = reference("&#13;");
  table['&'] = reference("&#38;");
  table['<'] = reference("&#60;");
  table['>'] = reference("&#62;");
  table['"'] = reference("&#34;");
  table['\''] = reference("&#39;");
  return table;
}

constexpr AsciiTable kTextTable = makeTable(false);
constexpr AsciiTable kAttributeTable = makeTable(true);

// Whether each byte, on its own, is copied unchanged: ASCII that needs no
// escaping in either context. Tab is escaped in attributes, so it is left
// to the table.
constexpr std::array<bool, 256> makePlain() {
  std::array<bool, 256> plain{};
  for (size_t c = 0x20; c < 0x80; ++c) plain[c] = true;
  for (const char c : {'&', '<', '>', '"', '\''}) plain[static_cast<unsigned char>(c)] = false;
  return plain;
}

constexpr std::array<bool, 256> kPlain = makePlain();

inline bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Words of 8 bytes, built and stored in little-endian order so that the
// first byte is the lowest one on every machine.
inline uint64_t load64(const unsigned char* p) {
  return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 |
         uint64_t{p[3]} << 24 | uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 |
         uint64_t{p[6]} << 48 | uint64_t{p[7]} << 56;
}

inline void store64(char* out, uint64_t v) {
  out[0] = static_cast<char>(v);
  out[1] = static_cast<char>(v >> 8);
  out[2] = static_cast<char>(v >> 16);
  out[3] = static_cast<char>(v >> 24);
  out[4] = static_cast<char>(v >> 32);
  out[5] = static_cast<char>(v >> 40);
  out[6] = static_cast<char>(v >> 48);
  out[7] = static_cast<char>(v >> 56);
}

// Word-at-a-time test of 8 bytes: the high bit of each byte that is not
// plain (a control, non-ASCII, or one of & ' " < >) is set in the result.
// Bytes above the first one marked may be marked wrongly (borrows), so only
// the lowest mark is exact; it is the only one used.
inline uint64_t notPlainMarks(uint64_t v) {
  constexpr uint64_t k01 = 0x0101010101010101u;
  constexpr uint64_t k80 = 0x8080808080808080u;
  const auto zeroBytes = [](uint64_t x) { return (x - k01) & ~x & k80; };
  const uint64_t below20 = (v - k01 * 0x20) & ~v & k80;
  return (v & k80) | below20 | zeroBytes((v | k01) ^ (k01 * 0x27)) |  // & '
         zeroBytes(v ^ (k01 * 0x22)) |                                // "
         zeroBytes((v | (k01 * 2)) ^ (k01 * 0x3E));                   // < >
}

// Index of the byte holding the lowest mark; marks must not be 0.
inline size_t firstMarked(uint64_t marks) {
  return static_cast<size_t>(std::countr_zero(marks)) / 8;
}

// For each lead byte, the length of its sequence when checking that the
// continuation bytes follow is all XML and UTF-8 ask of it: C2-DF (two
// bytes), E1-EC and EE (three bytes: kana, kanji, most scripts, private
// use). Every other lead byte (E0, ED, EF, F0-F4) and every byte that cannot
// lead is 0 and goes to the full decoder.
constexpr std::array<uint8_t, 256> makeSimpleLength() {
  std::array<uint8_t, 256> length{};
  for (size_t b = 0xC2; b <= 0xDF; ++b) length[b] = 2;
  for (size_t b = 0xE1; b <= 0xEC; ++b) length[b] = 3;
  length[0xEE] = 3;
  return length;
}

constexpr std::array<uint8_t, 256> kSimpleLength = makeSimpleLength();

// The length of the well-formed UTF-8 sequence of a non-ASCII character at
// p that XML can carry, or 0 when it must be replaced.
size_t carriedSequenceLength(const unsigned char* p, const unsigned char* limit) {
  const size_t left = static_cast<size_t>(limit - p);
  const size_t simple = kSimpleLength[p[0]];
  if (simple != 0 && left >= simple && isContinuation(p[1]) &&
      (simple == 2 || isContinuation(p[2]))) {
    return simple;
  }
  if (p[0] == 0xEF && left >= 3 && isContinuation(p[1]) && isContinuation(p[2])) {
    // U+FFFE and U+FFFF are forbidden; U+FFFD itself is kept as it is.
    return p[1] == 0xBF && p[2] >= 0xBE ? 0 : 3;
  }
  char32_t cp;
  const char* start = reinterpret_cast<const char*>(p);
  const char* next = decodeUtf8(start, reinterpret_cast<const char*>(limit), &cp);
  if (cp == kReplacementCharacter) return 0;  // ill-formed (FFFD is EF BF BD)
  return static_cast<size_t>(next - start);
}

char* put(char* out, std::string_view s) {
  std::memcpy(out, s.data(), s.size());
  return out + s.size();
}

inline char* putReference(char* out, const Reference& r) {
  std::memcpy(out, r.bytes, sizeof r.bytes);
  return out + r.size;
}

// Copies plain ASCII from *p to out up to the first byte that is not plain
// or the limit, and moves *p past it. Returns the new end of the output.
// Works a word at a time: each word is stored whole before its marks are
// looked at, which the room of 5 bytes per input byte always allows (the
// last, shorter stretch of a field is read as the word ending at the limit,
// shifted down, and stored only when 2 or more bytes are left).
[[gnu::always_inline]] inline char* copyPlain(const unsigned char** at, const unsigned char* begin,
                                              const unsigned char* limit, char* out) {
  const unsigned char* p = *at;
  while (limit - p >= 8) {
    const uint64_t v = load64(p);
    const uint64_t marks = notPlainMarks(v);
    store64(out, v);
    if (marks != 0) {
      const size_t n = firstMarked(marks);
      *at = p + n;
      return out + n;
    }
    p += 8;
    out += 8;
  }
  const size_t left = static_cast<size_t>(limit - p);
  if (left >= 2 && limit - begin >= 8) {
    // The high 8 - left bytes shift in as zeros, which are marked, so the
    // first mark is at most at index left.
    const uint64_t v = load64(limit - 8) >> (8 * (8 - left));
    store64(out, v);
    const size_t n = firstMarked(notPlainMarks(v));
    *at = p + n;
    return out + n;
  }
  while (p < limit && kPlain[*p]) *out++ = static_cast<char>(*p++);
  *at = p;
  return out;
}

// Where the bytes that may be loaded around utf8 end: readable, when it
// lies past utf8's end, otherwise utf8's end.
inline const unsigned char* readableEnd(std::string_view utf8, const char* readable) {
  const char* const end = utf8.data() + utf8.size();
  const bool past = readable != nullptr && readable > end;
  return reinterpret_cast<const unsigned char*>(past ? readable : end);
}

#if ORDIL_ESCAPE_SSE2
inline size_t highestBit(uint64_t mask) {
  return 63 - static_cast<size_t>(std::countl_zero(mask));
}

// Where the copying of a block stops: the bytes before stop are whole
// characters copied as they are; when escapeNext, the character at stop is
// the scalar code's (a byte that needs work, or a sequence that is
// ill-formed, forbidden, or cut off by the end of the field), otherwise the
// next block starts there.
struct BlockStop {
  size_t stop;
  bool escapeNext;
};

#endif

// Escapes one character that the copying leaves, at p < limit: an ASCII
// byte that needs work or any non-ASCII character. Returns the byte after it
// and moves *out past what was written; with kToNul, a NUL ends the input
// (limit is returned).
template <bool kToNul>
[[gnu::always_inline]] inline const unsigned char* escapeOne(const unsigned char* p,
                                                              const unsigned char* limit,
                                                              const AsciiTable& table,
                                                              char** out) {
  if (*p < 0x80) {
    if (kToNul && *p == 0) return limit;
    *out = putReference(*out, table[*p]);
    return p + 1;
  }
  const size_t n = carriedSequenceLength(p, limit);
  if (n == 0) {
    // One U+FFFD for the maximal subpart (or the forbidden character).
    char32_t cp;
    *out = put(*out, kReplacement);
    return reinterpret_cast<const unsigned char*>(decodeUtf8(
        reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(limit), &cp));
  }
  char* o = *out;
  o[0] = static_cast<char>(p[0]);
  o[1] = static_cast<char>(p[1]);
  if (n > 2) o[2] = static_cast<char>(p[2]);
  if (n > 3) o[3] = static_cast<char>(p[3]);
  *out = o + n;
  return p + n;
}

#if ORDIL_ESCAPE_SSE2
// The constant blocks the escaper compares with, each byte repeated 32
// times, kept in memory: loaded where they are used, which costs less than
// building them in registers.
constexpr unsigned char kSplatBytes[] = {0x01, 0x02, 0x20, 0x22, 0x27, 0x3E, 0x90, 0xA0,
                                         0xBE, 0xBF, 0xC0, 0xE0, 0xED, 0xEF, 0xF0, 0xF4,
                                         0xF5, 0xFE};
struct SplatTable {
  alignas(32) unsigned char rows[std::size(kSplatBytes)][32];
};
constexpr SplatTable makeSplats() {
  SplatTable t{};
  for (size_t i = 0; i < std::size(kSplatBytes); ++i) {
    for (unsigned char& b : t.rows[i]) b = kSplatBytes[i];
  }
  return t;
}
constexpr SplatTable kSplats = makeSplats();

constexpr size_t splatRow(int byte) {
  size_t i = 0;
  while (kSplatBytes[i] != byte) ++i;  // a byte not in the table fails to compile
  return i;
}

// The table's address passes through an empty asm, so that the compiler
// cannot see the bytes: it then keeps the address in one register and
// takes each constant as an operand from memory.
[[gnu::always_inline]] inline const unsigned char* splatRows() {
  const unsigned char* rows = kSplats.rows[0];
  asm("" : "+r"(rows));
  return rows;
}

template <int byte>
[[gnu::always_inline]] inline const unsigned char* splatBytes() {
  return splatRows() + 32 * splatRow(byte);
}

// 16 bytes at a time, with SSE2: part of every x86-64 processor.
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

#include "xml/escape_blocks.inc"

}  // namespace sse2

// 32 bytes at a time, with AVX2, where the processor has it (checked once,
// at start-up).
ORDIL_BEGIN_AVX2
namespace avx2 {

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

}  // namespace avx2
ORDIL_END_AVX2

bool processorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

const bool kHasAvx2 = processorHasAvx2();
#endif

// kVector: the widest vector path the processor has.
template <bool kVector, bool kToNul = false>
[[gnu::always_inline]] inline char* escapeTo(std::string_view utf8, const AsciiTable& table,
                                             char* out, const char* readable = nullptr) {
#if ORDIL_ESCAPE_SSE2
  if constexpr (kVector) {
    const unsigned char* const end = readableEnd(utf8, readable);
    return kHasAvx2 ? avx2::escapeField<kToNul>(utf8, end, table, out)
                    : sse2::escapeField<kToNul>(utf8, end, table, out);
  }
#else
  static_cast<void>(readable);
#endif
  const unsigned char* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* const limit = begin + utf8.size();
  const unsigned char* p = begin;
  // Bytes that stay as they are (ASCII and well-formed UTF-8) are copied as
  // they are scanned, so a run costs no separate copy.
  for (;;) {
    out = copyPlain(&p, begin, limit, out);
    if (p == limit) return out;
    if (*p < 0x80) {
      p = escapeOne<kToNul>(p, limit, table, &out);
      continue;
    }
    // A stretch of non-ASCII characters (Japanese text), a character at a
    // time until ASCII comes back.
    do {
      // Three-byte characters, the common case, step by a constant so the
      // next character's address does not wait on this one's bytes.
      if (limit - p >= 3 && kSimpleLength[p[0]] == 3 && isContinuation(p[1]) &&
          isContinuation(p[2])) {
        out[0] = static_cast<char>(p[0]);
        out[1] = static_cast<char>(p[1]);
        out[2] = static_cast<char>(p[2]);
        p += 3;
        out += 3;
        continue;
      }
      p = escapeOne<kToNul>(p, limit, table, &out);
    } while (p < limit && *p >= 0x80);
  }
}

constexpr bool kVectorBuilt = ORDIL_ESCAPE_SSE2 != 0;

char* escapeWith(EscapePath path, std::string_view utf8, const char* readable,
                 const AsciiTable& table, char* out) {
#if ORDIL_ESCAPE_SSE2
  const unsigned char* const end = readableEnd(utf8, readable);
  if (path == EscapePath::kWideVector && kHasAvx2) {
    return avx2::escapeField<false>(utf8, end, table, out);
  }
  if (path != EscapePath::kPortable) return sse2::escapeField<false>(utf8, end, table, out);
#else
  static_cast<void>(path);
  static_cast<void>(readable);
#endif
  return escapeTo<false>(utf8, table, out);
}

// The field escapers of the widest path, chosen once: the document writer
// calls them for every field, so the choice is not made again for each.
using FieldEscaper = char* (*)(std::string_view field, const char* readable, char* out);
struct FieldEscapers {
  FieldEscaper text;
  FieldEscaper attribute;
};

template <const AsciiTable& kTable>
char* escapeFieldValuePortably(std::string_view field, const char*, char* out) {
  return escapeTo<false, true>(field, kTable, out);
}

FieldEscapers chooseFieldEscapers() {
#if ORDIL_ESCAPE_SSE2
  if (kHasAvx2) {
    return {avx2::escapeFieldValue<kTextTable>, avx2::escapeFieldValue<kAttributeTable>};
  }
  return {sse2::escapeFieldValue<kTextTable>, sse2::escapeFieldValue<kAttributeTable>};
#else
  return {escapeFieldValuePortably<kTextTable>, escapeFieldValuePortably<kAttributeTable>};
#endif
}

const FieldEscapers kFieldEscapers = chooseFieldEscapers();

void appendEscaped(std::string_view utf8, const AsciiTable& table, std::string* out) {
  const size_t old = out->size();
  out->resize(old + maxEscapedSize(utf8.size()));
  char* end = escapeTo<kVectorBuilt>(utf8, table, out->data() + old);
  out->resize(static_cast<size_t>(end - out->data()));
}

}  // namespace

bool hasVectorEscaping() { return kVectorBuilt; }

bool hasWideVectorEscaping() {
#if ORDIL_ESCAPE_SSE2
  return kHasAvx2;
#else
  return false;
#endif
}

char* escapeTextTo(std::string_view utf8, char* out) {
  return escapeTo<kVectorBuilt>(utf8, kTextTable, out);
}

char* escapeAttributeTo(std::string_view utf8, char* out) {
  return escapeTo<kVectorBuilt>(utf8, kAttributeTable, out);
}

char* escapeTextValueTo(std::string_view field, const char* readable, char* out) {
  return kFieldEscapers.text(field, readable, out);
}

char* escapeAttributeValueTo(std::string_view field, const char* readable, char* out) {
  return kFieldEscapers.attribute(field, readable, out);
}

char* escapeTextTo(std::string_view utf8, char* out, EscapePath path, const char* readable) {
  return escapeWith(path, utf8, readable, kTextTable, out);
}

char* escapeAttributeTo(std::string_view utf8, char* out, EscapePath path, const char* readable) {
  return escapeWith(path, utf8, readable, kAttributeTable, out);
}

void appendEscapedText(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kTextTable, out);
}

void appendEscapedAttribute(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kAttributeTable, out);
}

}  // namespace ordil
