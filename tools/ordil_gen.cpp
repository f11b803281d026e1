// ordil-gen: writes comment cache files for examples, tests and benchmarks.
//
//   ordil-gen from-text DESCRIPTION OUTPUT
//   ordil-gen random [--any-bytes | --stress] SEED COUNT OUTPUT
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "tools/cache_builder.h"

namespace {

constexpr const char* kUsage =
    "usage: ordil-gen from-text DESCRIPTION OUTPUT\n"
    "       ordil-gen random [--any-bytes | --stress] SEED COUNT OUTPUT\n";

bool readFile(const char* path, std::string* contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  contents->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

bool writeFile(const char* path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.close();
  return !out.fail();
}

template <typename Number>
bool parseNumber(std::string_view text, Number* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

int fail(const std::string& message) {
  std::cerr << "ordil-gen: " << message << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ordil::tools;
  const std::string_view command = argc > 1 ? argv[1] : "";
  std::vector<Comment> records;
  const char* output = nullptr;
  if (command == "from-text" && argc == 4) {
    std::string description, error;
    if (!readFile(argv[2], &description)) return fail(std::string("cannot read ") + argv[2]);
    if (!parseDescription(description, &records, &error)) {
      return fail(std::string(argv[2]) + ": " + error);
    }
    output = argv[3];
  } else if (command == "random" && (argc == 5 || argc == 6)) {
    const std::string_view kind = argc == 6 ? argv[2] : "";
    if (argc == 6 && kind != "--any-bytes" && kind != "--stress") {
      std::cerr << kUsage;
      return 2;
    }
    uint64_t seed;
    size_t count;
    if (!parseNumber(argv[argc - 3], &seed) || !parseNumber(argv[argc - 2], &count)) {
      return fail("SEED and COUNT must be whole numbers");
    }
    records = randomRecords(seed, count,
                            kind == "--any-bytes" ? RandomMix::kAnyBytes
                            : kind == "--stress"  ? RandomMix::kStress
                                                  : RandomMix::kRealistic);
    output = argv[argc - 1];
  } else {
    std::cerr << kUsage;
    return 2;
  }
  if (!writeFile(output, buildCacheFile(records))) {
    return fail(std::string("cannot write ") + output);
  }
  return 0;
}
