#include "driver/arguments.h"

namespace ordil {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

}  // namespace

int32_t parseVideoId(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude, saturating just past the 32-bit range.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(magnitude >= kLimit ? kLimit - 1 : magnitude);
}

std::string unwrapQuotes(std::string path) {
  if (!path.empty() && path.front() == '"') {
    path.erase(0, 1);
    if (!path.empty() && path.back() == '"') path.pop_back();
  }
  return path;
}

std::optional<int> descriptorNamed(std::string_view path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!path.starts_with(prefix)) continue;
    const std::string_view digits = path.substr(prefix.size());
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    int n = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + (c - '0');
    }
    return n;
  }
  return std::nullopt;
}

}  // namespace ordil
