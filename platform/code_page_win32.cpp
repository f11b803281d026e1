// Windows code pages through the Win32 converters, with no flags: ill-formed
// input and unmappable characters become the converter's substitutes.
#include <windows.h>

#include "platform/code_page.h"

namespace ordil::platform {

namespace {

UINT win32CodePage(CodePage codePage) {
  return codePage == CodePage::kAnsi ? CP_ACP : CP_UTF8;
}

}  // namespace

int multiByteToWide(CodePage codePage, const char* src, char16_t* dst, int dstSize) {
  return MultiByteToWideChar(win32CodePage(codePage), 0, src, -1,
                             reinterpret_cast<wchar_t*>(dst), dst ? dstSize : 0);
}

int wideToMultiByte(CodePage codePage, const char16_t* src, char* dst, int dstSize) {
  return WideCharToMultiByte(win32CodePage(codePage), 0,
                             reinterpret_cast<const wchar_t*>(src), -1, dst,
                             dst ? dstSize : 0, nullptr, nullptr);
}

unsigned narrowCodePage() { return GetACP(); }

}  // namespace ordil::platform
