// POSIX has no code pages: the narrow encoding is UTF-8, converted by our own
// codec, so the narrow and the UTF-8 conversions are the same.
#include <string>

#include "platform/code_page.h"
#include "text/utf8.h"

namespace ordil::platform {

namespace {

template <typename Char>
std::basic_string_view<Char> toFirstNul(std::basic_string_view<Char> s) {
  return s.substr(0, s.find(Char{0}));
}

}  // namespace

bool narrowToWide(std::string_view narrow, std::u16string* target) {
  *target = utf8ToUtf16(toFirstNul(narrow));
  return true;
}

bool utf8ToWide(std::string_view utf8, std::u16string* target) {
  return narrowToWide(utf8, target);
}

bool wideToNarrow(std::u16string_view wide, std::string* target) {
  *target = utf16ToUtf8(toFirstNul(wide));
  return true;
}

bool wideToUtf8(std::u16string_view wide, std::string* target) {
  return wideToNarrow(wide, target);
}

unsigned narrowCodePage() { return kUtf8CodePage; }

}  // namespace ordil::platform
