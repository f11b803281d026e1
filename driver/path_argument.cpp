#include "driver/path_argument.h"

#include "platform/code_page.h"

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
  // A name too long for the converter is taken as it was typed.
  std::u16string wide;
  std::string narrow;
  if (!platform::utf8ToWide(percentDecode(argument), &wide) ||
      !platform::wideToNarrow(wide, &narrow)) {
    return std::string(argument);
  }
  return narrow;
}

}  // namespace ordil
