// UTF-8 and UTF-16 codec shared by the text conversions and the XML escaping.
//
// Ill-formed UTF-8 is never an error here: each maximal subpart of an
// ill-formed sequence (the longest prefix of a well-formed sequence, or a
// single byte when there is none) decodes to one U+FFFD, the practice the
// Unicode standard recommends. A lone surrogate in UTF-16 encodes as U+FFFD.
#ifndef ORDIL_TEXT_UTF8_H_
#define ORDIL_TEXT_UTF8_H_

#include <string>
#include <string_view>

namespace ordil {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point that starts at p. Requires p < limit; reads only
// [p, limit). Stores the code point, or U+FFFD for an ill-formed sequence, in
// *cp and returns the byte after what was consumed (always at least one byte).
const char* decodeUtf8(const char* p, const char* limit, char32_t* cp);

// Appends the UTF-8 form of cp to *out. A surrogate or a value above
// U+10FFFF is appended as U+FFFD.
void appendUtf8(char32_t cp, std::string* out);

// Appends the UTF-16 form of cp (a scalar value) to *out.
void appendUtf16(char32_t cp, std::u16string* out);

// Converts all of utf8 to UTF-16, replacing ill-formed sequences as above.
// NUL bytes are converted like any other character.
std::u16string utf8ToUtf16(std::string_view utf8);

// Converts all of utf16 to UTF-8; each lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

}  // namespace ordil

#endif  // ORDIL_TEXT_UTF8_H_
