#include "xml/xml_escape.h"

#include <array>

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

// One pass over the bytes: runs of characters that need no change are
// appended whole; everything else is replaced where it stands.
void appendEscaped(std::string_view utf8, const AsciiTable& table,
                   std::string* out) {
  const char* p = utf8.data();
  const char* const limit = p + utf8.size();
  const char* run = p;  // start of the pending unchanged run
  while (p < limit) {
    const unsigned char c = static_cast<unsigned char>(*p);
    std::string_view replacement;
    const char* next;
    if (c < 0x80) {
      next = p + 1;
      replacement = table[c];
      if (replacement.empty()) {
        p = next;
        continue;
      }
    } else {
      char32_t cp;
      next = decodeUtf8(p, limit, &cp);
      // U+FFFD here is either ill-formed input or a well-formed U+FFFD; both
      // are written as the same three bytes.
      if (cp != kReplacementCharacter && cp != 0xFFFE && cp != 0xFFFF) {
        p = next;
        continue;
      }
      replacement = kReplacement;
    }
    out->append(run, p);
    out->append(replacement);
    p = next;
    run = p;
  }
  out->append(run, p);
}

}  // namespace

void appendEscapedText(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kTextTable, out);
}

void appendEscapedAttribute(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, kAttributeTable, out);
}

}  // namespace ordil
