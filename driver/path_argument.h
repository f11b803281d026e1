// Decoding of a path argument that may arrive percent-encoded: bytes written
// as % and two hexadecimal digits, the decoded bytes being UTF-8.
#ifndef ORDIL_DRIVER_PATH_ARGUMENT_H_
#define ORDIL_DRIVER_PATH_ARGUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/cast_stream.h"

namespace ordil {

// Reads text (at most two characters in use) as a hexadecimal number the way
// formatted stream extraction does: leading white space skipped, a + ignored,
// a - negating modulo 2^32, an optional 0x or 0X that must be followed by a
// digit, then digits of either case up to the first other character; what is
// left unread is ignored. Throws clx::bad_lexical_cast when no digit is read.
uint32_t parseHexByte(const std::string& text);

// Replaces every percent escape in argument by its byte: the up to two bytes
// after the % are read with parseHexByte and always consumed together, the
// low 8 bits of the value appended. A % that gives no number (at the very
// end, or before text such as ".a" or "of") stays a literal % and decoding
// goes on with the byte after it. Every other byte, + included, is copied.
std::string percentDecode(std::string_view argument);

// The input path for the first argument: the argument itself, byte for byte,
// when it holds no %; otherwise the percent-decoded bytes read as UTF-8 and
// converted to the narrow code page (a decoded NUL ends the path, ill-formed
// UTF-8 becomes U+FFFD).
std::string decodePathArgument(std::string_view argument);

}  // namespace ordil

#endif  // ORDIL_DRIVER_PATH_ARGUMENT_H_
