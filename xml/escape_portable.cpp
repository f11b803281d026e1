// The portable kernel: a word of 8 bytes at a time, on any processor.
#include "xml/escape_kernel.h"
#include "xml/xml_escape.h"

namespace ordil {

namespace escape_kernel {

namespace {

// With kToNul, a NUL ends the input.
template <bool kToNul>
char* escapePortably(std::string_view utf8, const AsciiTable& table, char* out) {
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

template <const AsciiTable& kTable, bool kToNul>
char* escape(std::string_view utf8, const char*, char* out) {
  return escapePortably<kToNul>(utf8, kTable, out);
}

bool always() { return true; }

}  // namespace

}  // namespace escape_kernel

extern const EscapeKernel kPortableEscapeKernel = {
    "portable",
    escape_kernel::always,
    escape_kernel::escape<escape_kernel::kTextTable, false>,
    escape_kernel::escape<escape_kernel::kAttributeTable, false>,
    escape_kernel::escape<escape_kernel::kTextTable, true>,
    escape_kernel::escape<escape_kernel::kAttributeTable, true>,
};

}  // namespace ordil
