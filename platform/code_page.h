// The text conversions between narrow strings (bytes in the system's narrow
// code page, or UTF-8) and wide strings (UTF-16), and the narrow code page
// itself.
//
// Each conversion converts its input up to its first NUL (an input holding
// a NUL is cut there) and assigns the result, which never holds the NUL, to
// *target. It returns false, leaving *target as it was, only when the
// platform cannot convert at all (an input too long for its converter).
// Ill-formed input is no failure: ill-formed UTF-8 becomes U+FFFD, one per
// maximal subpart; a lone surrogate becomes U+FFFD in UTF-8; a character
// the narrow code page lacks becomes the platform converter's substitute.
#ifndef ORDIL_PLATFORM_CODE_PAGE_H_
#define ORDIL_PLATFORM_CODE_PAGE_H_

#include <string>
#include <string_view>

namespace ordil::platform {

[[nodiscard]] bool narrowToWide(std::string_view narrow, std::u16string* target);
[[nodiscard]] bool utf8ToWide(std::string_view utf8, std::u16string* target);
[[nodiscard]] bool wideToNarrow(std::u16string_view wide, std::string* target);
[[nodiscard]] bool wideToUtf8(std::u16string_view wide, std::string* target);

// The number of the narrow code page: the system's ANSI code page (932 for
// Japanese, 1252 for Western European) on Windows, 65001 (UTF-8) on POSIX.
unsigned narrowCodePage();

inline constexpr unsigned kUtf8CodePage = 65001;

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_CODE_PAGE_H_
