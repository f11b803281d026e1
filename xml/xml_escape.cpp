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
#include <emmintrin.h>
#define ORDIL_ESCAPE_SSE2 1
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

#if ORDIL_ESCAPE_SSE2
// Bytes of the 16 in v that are not plain, one bit each.
[[gnu::always_inline]] inline unsigned notPlainMask(__m128i v) {
  const __m128i k20 = _mm_set1_epi8(0x20);
  const __m128i k01 = _mm_set1_epi8(0x01);
  const __m128i k02 = _mm_set1_epi8(0x02);
  const __m128i kAmpApos = _mm_set1_epi8(0x27);  // & (26) and ' (27), with bit 0 set
  const __m128i kLtGt = _mm_set1_epi8(0x3E);     // < (3C) and > (3E), with bit 1 set
  const __m128i kQuote = _mm_set1_epi8(0x22);
  // Signed: the bytes of 0x80 and above are negative, so this marks them
  // with the controls.
  const __m128i marked =
      _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(v, k20), _mm_cmpeq_epi8(v, kQuote)),
                   _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(v, k01), kAmpApos),
                                _mm_cmpeq_epi8(_mm_or_si128(v, k02), kLtGt)));
  return static_cast<unsigned>(_mm_movemask_epi8(marked));
}

// The n < 16 bytes at p in the low bytes of a vector, zeros above. Reads
// only [p, p + n), with two overlapping loads at most. (x86 is
// little-endian, so a loaded word's first byte is its lowest.)
[[gnu::always_inline]] inline __m128i loadShort(const unsigned char* p, size_t n) {
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
  uint64_t word;
  if (n >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    word = first | uint64_t{last} << (8 * (n - 4));  // the overlap holds the same bytes
  } else {
    word = uint64_t{p[0]} | uint64_t{p[n / 2]} << (8 * (n / 2)) | uint64_t{p[n - 1]} << (8 * (n - 1));
  }
  return _mm_set_epi64x(0, static_cast<int64_t>(word));
}

inline unsigned highestBit(unsigned mask) { return 31 - static_cast<unsigned>(std::countl_zero(mask)); }

// Where the copying of a block stops: the bytes before stop are whole
// characters copied as they are; when escapeNext, the character at stop is
// the scalar code's (a byte that needs work, or a sequence that is
// ill-formed, forbidden, or cut off by the end of the field), otherwise the
// next block starts there.
struct BlockStop {
  size_t stop;
  bool escapeNext;
};

// Whether the lead byte at p[0], whose sequence of whole continuation
// bytes is at hand, is one that needs a look at its second byte (E0, ED, F0
// and F4 narrow its range, EF may start the forbidden U+FFFE and U+FFFF),
// or cannot lead at all (C0, C1, F5-FF), gives a character XML carries.
inline bool rareLeadCarried(const unsigned char* p) {
  switch (p[0]) {
    case 0xE0: return p[1] >= 0xA0;
    case 0xED: return p[1] <= 0x9F;
    case 0xEF: return p[1] != 0xBF || p[2] < 0xBE;
    case 0xF0: return p[1] >= 0x90;
    case 0xF4: return p[1] <= 0x8F;
    case 0xEE: case 0xF1: case 0xF2: case 0xF3: return true;
    default: return false;  // C0, C1, F5-FF
  }
}

// What a block of mixed bytes holds, one bit per byte: the bytes that stop
// the copying (bad), where leads expect continuations, the continuations,
// and where a sequence that runs past the block begins (cut, or n).
struct BlockScan {
  unsigned bad;
  unsigned expected;
  unsigned cont;
  size_t cut;
  size_t n;
  bool last;  // the field ends with the block
};

// Classes the n bytes in v (n <= 16, zeros above; p holds the same bytes).
// notPlain is notPlainMask(v) and high the bytes of 0x80 and above, within
// the n bytes; high is not 0. last says the field ends with these n bytes.
//
// Each byte's top bits class it: 0xxxxxxx ASCII, 10xxxxxx continuation,
// 11xxxxxx a lead, 111xxxxx of three bytes or more, 1111xxxx of four. The
// bytes are well-formed when the continuations are exactly where the leads
// expect them. Leads of Japanese and most other text (C2-DF, E1-EC) need
// nothing more; the rare others (C0, C1, E0, ED and up) are looked at one
// by one. An ASCII byte that needs work is bad too.
[[gnu::always_inline]] inline BlockScan scanBlock(__m128i v, const unsigned char* p, size_t n,
                                                  unsigned notPlain, unsigned high, bool last) {
  const unsigned valid = (1u << n) - 1;
  const auto topBit = [](__m128i x) { return static_cast<unsigned>(_mm_movemask_epi8(x)); };
  const unsigned special = notPlain & ~high;  // ASCII that needs work

  const unsigned bit6 = topBit(_mm_slli_epi16(v, 1));
  const unsigned bit5 = topBit(_mm_slli_epi16(v, 2));
  const unsigned bit4 = topBit(_mm_slli_epi16(v, 3));
  const unsigned lead = high & bit6;
  const unsigned cont = high & ~bit6;
  const unsigned long3 = lead & bit5;
  const unsigned long4 = long3 & bit4;
  // C0, C1, E0, and ED to FF.
  const __m128i rareBytes = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xFE))),
                                  _mm_set1_epi8(static_cast<char>(0xC0))),
                   _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE0)))),
      _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(static_cast<char>(0xED))), v));
  unsigned rare = topBit(rareBytes) & valid;

  const unsigned expected = (lead << 1) | (long3 << 2) | (long4 << 3);
  unsigned bad = (special | (cont ^ expected)) & valid;
  // Leads whose sequence runs past the n bytes.
  const unsigned overrun =
      (lead & ~(valid >> 1)) | (long3 & ~(valid >> 2)) | (long4 & ~(valid >> 3));
  for (rare &= ~overrun; rare != 0; rare &= rare - 1) {
    const unsigned i = static_cast<unsigned>(std::countr_zero(rare));
    if (!rareLeadCarried(p + i)) bad |= 1u << i;
  }
  const size_t cut = overrun != 0 ? static_cast<size_t>(std::countr_zero(overrun)) : n;
  return {bad, expected, cont, cut, n, last};
}

// Where the copying stops at or after from, a character boundary after
// which every character up to the next bad byte is whole.
[[gnu::always_inline]] inline BlockStop nextStop(const BlockScan& scan, size_t from) {
  const unsigned bad = scan.bad & ~((1u << from) - 1);
  // A sequence cut off by the end of the field is the scalar code's; before
  // it, the next block takes it whole.
  BlockStop result{scan.cut, scan.last && scan.cut < scan.n};
  if (bad != 0) {
    const unsigned first = static_cast<unsigned>(std::countr_zero(bad));
    // A continuation missing where a lead expected one: the character
    // starts at that lead, the last byte before it that is not a
    // continuation (at from or after it).
    const size_t stop = (scan.expected >> first) & 1
                            ? highestBit(~scan.cont & ((1u << first) - 1))
                            : first;
    if (stop < result.stop) result = {stop, true};
  }
  return result;
}
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
// Escapes a block of n ASCII bytes, v, already stored at out, whose bytes
// that need work are marked in special (not 0). The plain stretches between
// them are copied from a copy of the block on the stack, 16 bytes at a
// time. Returns the end of the output; with kToNul, sets *ended at a NUL.
template <bool kToNul>
[[gnu::always_inline]] inline char* escapeAsciiBlock(__m128i v, unsigned special, size_t n,
                                                     const AsciiTable& table, char* out,
                                                     bool* ended) {
  alignas(16) unsigned char block[32];
  _mm_store_si128(reinterpret_cast<__m128i*>(block), v);
  _mm_store_si128(reinterpret_cast<__m128i*>(block + 16), _mm_setzero_si128());
  size_t next = static_cast<size_t>(std::countr_zero(special));
  out += next;  // the stretch before the first is in place
  for (;;) {
    const unsigned char c = block[next];
    if (kToNul && c == 0) {
      *ended = true;
      return out;
    }
    out = putReference(out, table[c]);
    const size_t from = next + 1;
    special &= special - 1;
    next = special != 0 ? static_cast<size_t>(std::countr_zero(special)) : n;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + from)));
    out += next - from;
    if (special == 0) return out;
  }
}

// The vector path: 16 bytes at a time (the last ones of a field loaded
// without reading past it), each block stored whole before it is looked
// at, so that what is copied as it is costs no separate copy; the room's
// slack takes the block stored past the last bytes.
template <bool kToNul>
char* escapeVector(std::string_view utf8, const AsciiTable& table, char* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* const limit = p + utf8.size();
  while (p < limit) {
    const size_t left = static_cast<size_t>(limit - p);
    const size_t n = left < 16 ? left : 16;
    const __m128i v = n == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))
                              : loadShort(p, n);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    const unsigned notPlain = notPlainMask(v) & ((1u << n) - 1);
    if (notPlain == 0) {
      p += n;
      out += n;
      continue;
    }
    const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v)) & ((1u << n) - 1);
    if (high == 0) {
      bool ended = false;
      out = escapeAsciiBlock<kToNul>(v, notPlain, n, table, out, &ended);
      if (kToNul && ended) return out;
      p += n;
      continue;
    }
    // Mixed bytes: the ASCII that needs work is escaped within the block,
    // its plain stretches copied from a copy of it on the stack; any other
    // stop goes to the character-at-a-time code.
    const BlockScan scan = scanBlock(v, p, n, notPlain, high, left <= 16);
    BlockStop block = nextStop(scan, 0);
    out += block.stop;
    if (block.escapeNext && p[block.stop] < 0x80) {
      alignas(16) unsigned char copy[32];
      _mm_store_si128(reinterpret_cast<__m128i*>(copy), v);
      _mm_store_si128(reinterpret_cast<__m128i*>(copy + 16), _mm_setzero_si128());
      do {
        const unsigned char c = copy[block.stop];
        if (kToNul && c == 0) return out;
        out = putReference(out, table[c]);
        const size_t from = block.stop + 1;
        block = nextStop(scan, from);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(copy + from)));
        out += block.stop - from;
      } while (block.escapeNext && block.stop < n && p[block.stop] < 0x80);
    }
    p += block.stop;
    if (block.escapeNext) p = escapeOne<kToNul>(p, limit, table, &out);
  }
  return out;
}
#endif

template <bool kVector, bool kToNul = false>
char* escapeTo(std::string_view utf8, const AsciiTable& table, char* out) {
#if ORDIL_ESCAPE_SSE2
  if constexpr (kVector) return escapeVector<kToNul>(utf8, table, out);
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

char* escapeWith(EscapePath path, std::string_view utf8, const AsciiTable& table, char* out) {
  if (kVectorBuilt && path == EscapePath::kVector) return escapeTo<true>(utf8, table, out);
  return escapeTo<false>(utf8, table, out);
}

void appendEscaped(std::string_view utf8, const AsciiTable& table, std::string* out) {
  const size_t old = out->size();
  out->resize(old + maxEscapedSize(utf8.size()));
  char* end = escapeTo<kVectorBuilt>(utf8, table, out->data() + old);
  out->resize(static_cast<size_t>(end - out->data()));
}

}  // namespace

bool hasVectorEscaping() { return kVectorBuilt; }

char* escapeTextTo(std::string_view utf8, char* out) {
  return escapeTo<kVectorBuilt>(utf8, kTextTable, out);
}

char* escapeAttributeTo(std::string_view utf8, char* out) {
  return escapeTo<kVectorBuilt>(utf8, kAttributeTable, out);
}

char* escapeTextValueTo(std::string_view field, char* out) {
  return escapeTo<kVectorBuilt, true>(field, kTextTable, out);
}

char* escapeAttributeValueTo(std::string_view field, char* out) {
  return escapeTo<kVectorBuilt, true>(field, kAttributeTable, out);
}

char* escapeTextTo(std::string_view utf8, char* out, EscapePath path) {
  return escapeWith(path, utf8, kTextTable, out);
}

char* escapeAttributeTo(std::string_view utf8, char* out, EscapePath path) {
  return escapeWith(path, utf8, kAttributeTable, out);
}

void appendEscapedText(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kTextTable, out);
}

void appendEscapedAttribute(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kAttributeTable, out);
}

}  // namespace ordil
