#include "text/quote.h"

#include "text/utf8.h"

namespace ordil {

namespace {

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The length of the well-formed, printable character at p, or 0 when the
// byte at p must be escaped.
size_t printableAt(const char* p, const char* limit) {
  if (isControl(static_cast<unsigned char>(*p))) return 0;
  char32_t cp;
  const char* next = decodeUtf8(p, limit, &cp);
  // U+FFFD written in the name itself is three bytes; a replaced byte is
  // fewer.
  if (cp == kReplacementCharacter && next - p != 3) return 0;
  return static_cast<size_t>(next - p);
}

void appendEscaped(unsigned char c, std::string* out) {
  static constexpr char kShort[] = "abtnvfr";  // \a (7) to \r (13)
  out->push_back('\\');
  if (c >= 7 && c <= 13) {
    out->push_back(kShort[c - 7]);
    return;
  }
  out->push_back(static_cast<char>('0' + (c >> 6)));
  out->push_back(static_cast<char>('0' + ((c >> 3) & 7)));
  out->push_back(static_cast<char>('0' + (c & 7)));
}

}  // namespace

bool isPrintableName(std::string_view name) {
  const char* p = name.data();
  const char* const limit = p + name.size();
  while (p < limit) {
    const size_t n = printableAt(p, limit);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

std::string quotedName(std::string_view name) {
  if (isPrintableName(name)) return std::string(name);
  std::string out = "'";
  bool reopened = false;  // the last thing written opens a quote again
  const char* p = name.data();
  const char* const limit = p + name.size();
  while (p < limit) {
    reopened = false;
    if (const size_t n = printableAt(p, limit); n > 0) {
      if (*p == '\'') {
        out += "'\\''";
      } else {
        out.append(p, n);
      }
      p += n;
      continue;
    }
    out += "'$'";
    for (; p < limit && printableAt(p, limit) == 0; ++p) {
      appendEscaped(static_cast<unsigned char>(*p), &out);
    }
    out += "''";
    reopened = true;
  }
  if (reopened) {
    out.pop_back();
  } else {
    out.push_back('\'');
  }
  return out;
}

}  // namespace ordil
