#include "text/utf8.h"

namespace ordil {

namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

// Well-formed sequences (Unicode, table 3-7):
//   00..7F
//   C2..DF 80..BF
//   E0     A0..BF 80..BF
//   E1..EC 80..BF 80..BF
//   ED     80..9F 80..BF
//   EE..EF 80..BF 80..BF
//   F0     90..BF 80..BF 80..BF
//   F1..F3 80..BF 80..BF 80..BF
//   F4     80..8F 80..BF 80..BF
// Only the second byte has a range that depends on the lead byte.
const char* decodeUtf8(const char* p, const char* limit, char32_t* cp) {
  const unsigned char lead = static_cast<unsigned char>(*p);
  if (lead < 0x80) {
    *cp = lead;
    return p + 1;
  }
  int length;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  char32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    *cp = kReplacementCharacter;  // 80..C1 and F5..FF never start a sequence
    return p + 1;
  }
  const char* q = p + 1;
  for (int i = 1; i < length; ++i, ++q) {
    if (q == limit) {
      *cp = kReplacementCharacter;
      return q;
    }
    const unsigned char b = static_cast<unsigned char>(*q);
    const bool fits = (i == 1) ? (b >= low && b <= high) : isContinuation(b);
    if (!fits) {
      *cp = kReplacementCharacter;
      return q;
    }
    value = (value << 6) | (b & 0x3F);
  }
  *cp = value;
  return q;
}

void appendUtf8(char32_t cp, std::string* out) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementCharacter;
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void appendUtf16(char32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const char* p = utf8.data();
  const char* const limit = p + utf8.size();
  while (p < limit) {
    char32_t cp;
    p = decodeUtf8(p, limit, &cp);
    appendUtf16(cp, &out);
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() &&
        utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(cp, &out);  // a lone surrogate becomes U+FFFD here
  }
  return out;
}

}  // namespace ordil
