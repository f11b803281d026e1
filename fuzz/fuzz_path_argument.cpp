// Path argument decoding over arbitrary arguments. A command-line argument
// holds no NUL, so the input is cut at the first one. No exception may
// escape, an argument without % must come back unchanged, and a decoded one
// must be well-formed UTF-8 (the narrow encoding of this build).
#include <cstdint>
#include <string>

#include "driver/path_argument.h"
#include "driver/run_driver.h"
#include "fuzz/fuzz_checks.h"
#include "platform/code_page.h"
#include "driver/destination.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string argument(reinterpret_cast<const char*>(data), size);
  argument = argument.substr(0, argument.find('\0'));
  const std::string decoded = ordil::decodePathArgument(argument);
  if (argument.find('%') == std::string::npos) {
    ordil::fuzz::check(decoded == argument);
  } else {
    ordil::fuzz::check(ordil::platform::narrowCodePage() != ordil::platform::kUtf8CodePage ||
                       ordil::fuzz::isWellFormedUtf8(decoded));
    ordil::fuzz::check(decoded.find('\0') == std::string::npos);
  }
  const std::string path = ordil::unwrapQuotes(decoded);
  ordil::fuzz::check(path.size() <= decoded.size());
  (void)ordil::outputNameFor(path);
  return 0;
}
