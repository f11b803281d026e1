// What the command line's words mean, beyond the options: the video id,
// a quoted path, and the names of the process's own open files.
#ifndef ORDIL_DRIVER_ARGUMENTS_H_
#define ORDIL_DRIVER_ARGUMENTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ordil {

// Reads a video id the way strtol reads base 10: leading white space
// (space, \t \n \v \f \r) skipped, an optional sign, then decimal digits up
// to the first other character. No digits give 0; values beyond the signed
// 32-bit range are clamped to it.
int32_t parseVideoId(std::string_view text);

// Removes the double quotes of a quoted path: when the first byte is a
// double quote it is dropped, and then the last byte too if it is one.
std::string unwrapQuotes(std::string path);

// The descriptor that a name of the process's own open files stands for:
// /dev/stdout 1, /dev/stderr 2, /dev/fd/N and /proc/self/fd/N N; none for
// any other name.
std::optional<int> descriptorNamed(std::string_view path);

}  // namespace ordil

#endif  // ORDIL_DRIVER_ARGUMENTS_H_
