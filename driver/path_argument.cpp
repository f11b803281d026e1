#include "driver/path_argument.h"

#include "text/encoding.h"

namespace ordil {

uint32_t parseHexByte(const std::string& text) {
  clx::cast_stream stream;
  stream.setf(std::ios::hex, std::ios::basefield);
  stream << text;
  return stream.extract<uint32_t>();
}

std::string percentDecode(std::string_view argument) {
  std::string decoded;
  decoded.reserve(argument.size());
  size_t i = 0;
  while (i < argument.size()) {
    if (argument[i] == '%') {
      try {
        const uint32_t value =
            parseHexByte(std::string(argument.substr(i + 1, 2)));
        decoded.push_back(static_cast<char>(value & 0xFF));
        i += 3;
        continue;
      } catch (const clx::bad_lexical_cast&) {
        // Not an escape: keep the percent sign as it is.
      }
    }
    decoded.push_back(argument[i]);
    ++i;
  }
  return decoded;
}

std::string decodePathArgument(std::string_view argument) {
  if (argument.find('%') == std::string_view::npos) {
    return std::string(argument);
  }
  std::u16string wide;
  utf8ToWide(percentDecode(argument), &wide);
  std::string narrow;
  wideToNarrow(wide, &narrow);
  return narrow;
}

}  // namespace ordil
