// Code-page conversion between the platform's narrow encodings and UTF-16.
//
// Both calls follow the same protocol: the source is NUL-terminated and is
// converted up to and including its first NUL. With dst == nullptr the call
// returns the number of units the result needs, the NUL included; otherwise
// it writes at most dstSize units to dst and returns how many it wrote, NUL
// included. A result of 0 means the conversion failed. Nothing is reported
// for ill-formed input or characters the code page lacks: they become
// U+FFFD or the converter's substitute character.
#ifndef ORDIL_PLATFORM_CODE_PAGE_H_
#define ORDIL_PLATFORM_CODE_PAGE_H_

namespace ordil::platform {

enum class CodePage {
  kAnsi,  // the system's narrow code page (UTF-8 where there is none)
  kUtf8,
};

int multiByteToWide(CodePage codePage, const char* src, char16_t* dst,
                    int dstSize);

int wideToMultiByte(CodePage codePage, const char16_t* src, char* dst,
                    int dstSize);

// The number of the narrow code page: the system's ANSI code page (932 for
// Japanese, 1252 for Western European) on Windows, 65001 (UTF-8) on POSIX.
unsigned narrowCodePage();

inline constexpr unsigned kUtf8CodePage = 65001;

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_CODE_PAGE_H_
