#include "text/encoding.h"

#include "platform/code_page.h"

namespace ordil {

namespace {

using platform::CodePage;

// Asks the platform for the length first, then converts into a buffer of
// that size. The copy into a std::basic_string gives the source its NUL,
// and the platform stops at the first NUL, so an embedded NUL cuts the input.
template <typename From, typename To, typename Convert>
void convert(std::basic_string_view<From> input, std::basic_string<To>* target,
             Convert platformConvert) {
  const std::basic_string<From> source(input);
  const int needed = platformConvert(source.c_str(), nullptr, 0);
  if (needed <= 0) return;
  std::basic_string<To> result(static_cast<size_t>(needed), To{});
  const int written = platformConvert(source.c_str(), result.data(), needed);
  if (written <= 0) return;
  result.resize(static_cast<size_t>(written) - 1);  // drop the NUL
  *target = std::move(result);
}

void toWide(CodePage codePage, std::string_view in, std::u16string* target) {
  convert(in, target, [codePage](const char* s, char16_t* d, int n) {
    return platform::multiByteToWide(codePage, s, d, n);
  });
}

void fromWide(CodePage codePage, std::u16string_view in, std::string* target) {
  convert(in, target, [codePage](const char16_t* s, char* d, int n) {
    return platform::wideToMultiByte(codePage, s, d, n);
  });
}

}  // namespace

void narrowToWide(std::string_view narrow, std::u16string* target) {
  toWide(CodePage::kAnsi, narrow, target);
}

void utf8ToWide(std::string_view utf8, std::u16string* target) {
  toWide(CodePage::kUtf8, utf8, target);
}

void wideToNarrow(std::u16string_view wide, std::string* target) {
  fromWide(CodePage::kAnsi, wide, target);
}

void wideToUtf8(std::u16string_view wide, std::string* target) {
  fromWide(CodePage::kUtf8, wide, target);
}

}  // namespace ordil
