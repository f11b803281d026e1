// Windows code pages through the Win32 converters, with no flags: ill-formed
// input and unmappable characters become the converter's substitutes.
#include <windows.h>

#include <climits>
#include <string>

#include "platform/code_page.h"

namespace ordil::platform {

namespace {

// The input up to its first NUL, as the converters take a length.
template <typename Char>
std::basic_string_view<Char> toFirstNul(std::basic_string_view<Char> s) {
  return s.substr(0, s.find(Char{0}));
}

// Asks the converter for the length first, then converts into a string of
// that size. convert(source, length, dst, dstSize) follows the Win32
// protocol: the size needed when dst is null, the units written, 0 on
// failure.
template <typename From, typename To, typename Convert>
bool convert(std::basic_string_view<From> input, std::basic_string<To>* target, Convert call) {
  input = toFirstNul(input);
  if (input.empty()) {
    target->clear();
    return true;
  }
  if (input.size() > static_cast<size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(input.size());
  const int needed = call(input.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  std::basic_string<To> result(static_cast<size_t>(needed), To{});
  const int written = call(input.data(), length, result.data(), needed);
  if (written <= 0) return false;
  result.resize(static_cast<size_t>(written));
  *target = std::move(result);
  return true;
}

bool toWide(UINT codePage, std::string_view in, std::u16string* target) {
  return convert(in, target, [codePage](const char* s, int n, char16_t* d, int size) {
    return MultiByteToWideChar(codePage, 0, s, n, reinterpret_cast<wchar_t*>(d), size);
  });
}

bool fromWide(UINT codePage, std::u16string_view in, std::string* target) {
  return convert(in, target, [codePage](const char16_t* s, int n, char* d, int size) {
    return WideCharToMultiByte(codePage, 0, reinterpret_cast<const wchar_t*>(s), n, d, size,
                               nullptr, nullptr);
  });
}

}  // namespace

bool narrowToWide(std::string_view narrow, std::u16string* target) {
  return toWide(CP_ACP, narrow, target);
}

bool utf8ToWide(std::string_view utf8, std::u16string* target) {
  return toWide(CP_UTF8, utf8, target);
}

bool wideToNarrow(std::u16string_view wide, std::string* target) {
  return fromWide(CP_ACP, wide, target);
}

bool wideToUtf8(std::u16string_view wide, std::string* target) {
  return fromWide(CP_UTF8, wide, target);
}

unsigned narrowCodePage() { return GetACP(); }

}  // namespace ordil::platform
