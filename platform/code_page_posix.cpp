// POSIX has no code pages: the narrow encoding is UTF-8, converted by our own
// codec, so both code pages behave the same.
#include <cstring>
#include <limits>
#include <string>

#include "platform/code_page.h"
#include "text/utf8.h"

namespace ordil::platform {

namespace {

template <typename Unit, typename Result>
int deliver(const Result& result, Unit* dst, int dstSize) {
  // The converted text plus its terminating NUL.
  if (result.size() >= static_cast<size_t>(std::numeric_limits<int>::max())) {
    return 0;
  }
  const int needed = static_cast<int>(result.size()) + 1;
  if (dst == nullptr) return needed;
  if (dstSize < needed) return 0;
  std::memcpy(dst, result.data(), result.size() * sizeof(Unit));
  dst[result.size()] = 0;
  return needed;
}

}  // namespace

int multiByteToWide(CodePage, const char* src, char16_t* dst, int dstSize) {
  return deliver(utf8ToUtf16(std::string_view(src)), dst, dstSize);
}

int wideToMultiByte(CodePage, const char16_t* src, char* dst, int dstSize) {
  return deliver(utf16ToUtf8(std::u16string_view(src)), dst, dstSize);
}

unsigned narrowCodePage() { return kUtf8CodePage; }

}  // namespace ordil::platform
