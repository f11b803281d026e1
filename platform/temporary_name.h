// The name of the hidden file a document is written to before it replaces
// its destination; shared by the POSIX and Windows sides of output_file.h.
#ifndef ORDIL_PLATFORM_TEMPORARY_NAME_H_
#define ORDIL_PLATFORM_TEMPORARY_NAME_H_

#include <cstdint>
#include <mutex>
#include <random>
#include <string_view>
#include <type_traits>

namespace ordil::platform {

// Bytes of the destination's own name kept in the hidden name, so that it
// stays within the 255 units file systems allow.
inline constexpr size_t kMaxKeptNameLength = 200;

// A fresh random number for each call, from any thread (the batch mode's
// jobs create documents at once).
inline uint64_t randomNumber() {
  static std::mutex mutex;
  static std::random_device device;
  static uint64_t counter = 0;
  const std::lock_guard<std::mutex> lock(mutex);
  return (uint64_t{device()} << 32 ^ device()) + 0x9E3779B97F4A7C15u * ++counter;
}

// In destination's folder: "." + its name (cut to kMaxKeptNameLength) +
// "." + six letters and digits drawn from random. separators lists the
// characters that end a folder name ("/" on POSIX, "\\/:" on Windows).
template <typename String>
String temporaryNameFor(const String& destination, uint64_t random,
                        std::string_view separators) {
  using Char = typename String::value_type;
  size_t nameStart = 0;
  for (size_t i = 0; i < destination.size(); ++i) {
    const auto unit = static_cast<std::make_unsigned_t<Char>>(destination[i]);
    if (unit < 0x80 && separators.find(static_cast<char>(unit)) != std::string_view::npos) {
      nameStart = i + 1;
    }
  }
  String name = destination.substr(0, nameStart);
  name.push_back(Char('.'));
  name.append(destination, nameStart, kMaxKeptNameLength);
  name.push_back(Char('.'));
  constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int i = 0; i < 6; ++i) {
    name.push_back(Char(kLetters[static_cast<size_t>(random % kLetters.size())]));
    random /= kLetters.size();
  }
  return name;
}

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_TEMPORARY_NAME_H_
