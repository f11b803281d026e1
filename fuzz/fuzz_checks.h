// Checks shared by the fuzz targets. A failed check aborts, which libFuzzer
// reports as a crash with the input that caused it.
#ifndef ORDIL_FUZZ_FUZZ_CHECKS_H_
#define ORDIL_FUZZ_FUZZ_CHECKS_H_

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "text/utf8.h"

namespace ordil::fuzz {

inline void check(bool ok) {
  if (!ok) std::abort();
}

// Whether s is well-formed UTF-8: the decoder only yields U+FFFD for a
// sequence that is not exactly the encoding of U+FFFD itself.
inline bool isWellFormedUtf8(std::string_view s) {
  const char* p = s.data();
  const char* const limit = p + s.size();
  while (p < limit) {
    char32_t cp;
    const char* next = decodeUtf8(p, limit, &cp);
    if (cp == kReplacementCharacter &&
        (next - p != 3 || std::memcmp(p, "\xEF\xBF\xBD", 3) != 0)) {
      return false;
    }
    p = next;
  }
  return true;
}

}  // namespace ordil::fuzz

#endif  // ORDIL_FUZZ_FUZZ_CHECKS_H_
