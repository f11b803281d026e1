#include "xml/xml_escape.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "text/utf8.h"

namespace ordil {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// What each ASCII character becomes; an empty entry means "copy as is".
using AsciiTable = std::array<std::string_view, 128>;

constexpr AsciiTable makeTable(bool attribute) {
  AsciiTable table{};
  for (int c = 0; c < 0x20; ++c) table[c] = kReplacement;
  table['\t'] = attribute ? "&#9;" : "";
  table['\n'] = attribute ? "&#10;" : "\r\n";
  table['\r'] = "&#13;";
  table['&'] = "&#38;";
  table['<'] = "&#60;";
  table['>'] = "&#62;";
  table['"'] = "&#34;";
  table['\''] = "&#39;";
  return table;
}

constexpr AsciiTable kTextTable = makeTable(false);
constexpr AsciiTable kAttributeTable = makeTable(true);

// Whether each byte, on its own, is copied unchanged: ASCII that needs no
// escaping in either context. Tab is escaped in attributes, so it is left
// to the table.
constexpr std::array<bool, 256> makePlain() {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[c] = true;
  for (const char c : {'&', '<', '>', '"', '\''}) plain[static_cast<unsigned char>(c)] = false;
  return plain;
}

constexpr std::array<bool, 256> kPlain = makePlain();

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Word-at-a-time test: whether any of the 8 bytes at p is not plain (a
// control, non-ASCII, or one of & ' " < >). A true answer only sends the
// caller to the byte loop, so it decides nothing by itself.
bool anyNotPlain(const unsigned char* p) {
  constexpr uint64_t k01 = 0x0101010101010101u;
  constexpr uint64_t k80 = 0x8080808080808080u;
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  const auto hasZeroByte = [](uint64_t x) { return (x - k01) & ~x & k80; };
  const uint64_t below20 = (v - k01 * 0x20) & ~v & k80;
  return ((v & k80) | below20 | hasZeroByte((v | k01) ^ (k01 * 0x27)) |  // & '
          hasZeroByte(v ^ (k01 * 0x22)) |                                // "
          hasZeroByte((v | (k01 * 2)) ^ (k01 * 0x3E))) != 0;             // < >
}

// The length of the well-formed UTF-8 sequence of a non-ASCII character at
// p that XML can carry, or 0 when it must be replaced. The common cases are
// decided here; the rest goes to the full decoder.
size_t carriedSequenceLength(const unsigned char* p, const unsigned char* limit) {
  const unsigned char lead = p[0];
  const size_t left = static_cast<size_t>(limit - p);
  if (lead >= 0xC2 && lead <= 0xDF) {
    return left >= 2 && isContinuation(p[1]) ? 2 : 0;
  }
  if (lead >= 0xE1 && lead <= 0xEC && left >= 3 && isContinuation(p[1]) &&
      isContinuation(p[2])) {
    return 3;  // kana, kanji and most other scripts
  }
  if (lead == 0xEF && left >= 3 && isContinuation(p[1]) && isContinuation(p[2])) {
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

char* escapeTo(std::string_view utf8, const AsciiTable& table, char* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* const limit = p + utf8.size();
  while (p < limit) {
    // A run of bytes copied unchanged, ASCII or well-formed UTF-8. Words
    // are tried only at ASCII; a stretch of non-ASCII characters (Japanese
    // text) is taken character by character until ASCII comes back.
    const unsigned char* run = p;
    bool stopped = false;
    while (!stopped) {
      while (limit - p >= 8 && !anyNotPlain(p)) p += 8;
      while (p < limit && kPlain[*p]) ++p;
      if (p == limit || *p < 0x80) break;
      do {
        const size_t n = carriedSequenceLength(p, limit);
        if (n == 0) {
          stopped = true;
          break;
        }
        p += n;
      } while (p < limit && *p >= 0x80);
    }
    std::memcpy(out, run, static_cast<size_t>(p - run));
    out += p - run;
    if (p == limit) break;
    if (*p < 0x80) {
      const std::string_view replacement = table[*p];
      if (replacement.empty()) {
        *out++ = static_cast<char>(*p);  // a tab in text
      } else {
        out = put(out, replacement);
      }
      ++p;
    } else {
      // One U+FFFD for the maximal subpart (or the forbidden character).
      char32_t cp;
      const char* at = reinterpret_cast<const char*>(p);
      p = reinterpret_cast<const unsigned char*>(
          decodeUtf8(at, reinterpret_cast<const char*>(limit), &cp));
      out = put(out, kReplacement);
    }
  }
  return out;
}

void appendEscaped(std::string_view utf8, const AsciiTable& table, std::string* out) {
  const size_t old = out->size();
  out->resize(old + maxEscapedSize(utf8.size()));
  char* end = escapeTo(utf8, table, out->data() + old);
  out->resize(static_cast<size_t>(end - out->data()));
}

}  // namespace

char* escapeTextTo(std::string_view utf8, char* out) {
  return escapeTo(utf8, kTextTable, out);
}

char* escapeAttributeTo(std::string_view utf8, char* out) {
  return escapeTo(utf8, kAttributeTable, out);
}

void appendEscapedText(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kTextTable, out);
}

void appendEscapedAttribute(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kAttributeTable, out);
}

}  // namespace ordil
