// The four text conversions between narrow strings (bytes in the narrow code
// page, or UTF-8) and wide strings (UTF-16).
//
// Each converts its input up to its first NUL (an input holding a NUL is cut
// there) and assigns the result, which never holds the NUL, to *target. When
// the platform cannot convert at all, *target is left as it was. Nothing is
// reported: ill-formed UTF-8 becomes U+FFFD, one per maximal subpart; a lone
// surrogate becomes U+FFFD in UTF-8; a character the narrow code page lacks
// becomes the platform converter's substitute.
#ifndef ORDIL_TEXT_ENCODING_H_
#define ORDIL_TEXT_ENCODING_H_

#include <string>
#include <string_view>

namespace ordil {

void narrowToWide(std::string_view narrow, std::u16string* target);
void utf8ToWide(std::string_view utf8, std::u16string* target);
void wideToNarrow(std::u16string_view wide, std::string* target);
void wideToUtf8(std::u16string_view wide, std::string* target);

}  // namespace ordil

#endif  // ORDIL_TEXT_ENCODING_H_
