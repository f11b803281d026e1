// The kernel every escaper kernel is built around: the tables of what each
// character becomes, the scalar steps (a word of plain ASCII at a time, one
// character that needs work), and the constants the vector kernels compare
// with. Included by the kernels' files alone (escape_portable.cpp,
// escape_sse2.cpp, escape_avx2.cpp); xml/xml_escape.h is the interface.
#ifndef ORDIL_XML_ESCAPE_KERNEL_H_
#define ORDIL_XML_ESCAPE_KERNEL_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "text/utf8.h"

namespace ordil::escape_kernel {

inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

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

inline constexpr AsciiTable kTextTable = makeTable(false);
inline constexpr AsciiTable kAttributeTable = makeTable(true);

// Whether each byte, on its own, is copied unchanged: ASCII that needs no
// escaping in either context. Tab is escaped in attributes, so it is left
// to the table.
constexpr std::array<bool, 256> makePlain() {
  std::array<bool, 256> plain{};
  for (size_t c = 0x20; c < 0x80; ++c) plain[c] = true;
  for (const char c : {'&', '<', '>', '"', '\''}) plain[static_cast<unsigned char>(c)] = false;
  return plain;
}

inline constexpr std::array<bool, 256> kPlain = makePlain();

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

inline constexpr std::array<uint8_t, 256> kSimpleLength = makeSimpleLength();

// The length of the well-formed UTF-8 sequence of a non-ASCII character at
// p that XML can carry, or 0 when it must be replaced.
inline size_t carriedSequenceLength(const unsigned char* p, const unsigned char* limit) {
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

inline char* put(char* out, std::string_view s) {
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

#if defined(__SSE2__)
// The constant blocks the escaper compares with, each byte repeated 32
// times, kept in memory: loaded where they are used, which costs less than
// building them in registers.
inline constexpr unsigned char kSplatBytes[] = {0x01, 0x02, 0x20, 0x22, 0x27, 0x3E, 0x90, 0xA0,
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
inline constexpr SplatTable kSplats = makeSplats();

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
#endif  // defined(__SSE2__)

}  // namespace ordil::escape_kernel

#endif  // ORDIL_XML_ESCAPE_KERNEL_H_
