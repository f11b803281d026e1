// Helpers shared by the tests: temporary folders and whole-file I/O.
#ifndef ORDIL_TESTS_TEST_SUPPORT_H_
#define ORDIL_TESTS_TEST_SUPPORT_H_

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "base/byte_sink.h"

namespace ordil::testing {

// A fresh folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir() {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() /
            ("ordil-test-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// Makes a string of bytes from a literal that may hold NULs:
// bytes("\x00\x05hello") keeps the NUL.
template <size_t N>
std::string bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// A sink that keeps what it is handed, and in what blocks.
struct StringSink : ByteSink {
  void write(const char* data, size_t n) override {
    bytes.append(data, n);
    blocks.push_back(n);
  }
  std::string bytes;
  std::vector<size_t> blocks;
};

// Whether XML 1.0 cannot carry the character c (it is no Char).
inline bool isForbiddenInXml(char32_t c) {
  return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF;
}

// What ordil prints for a command line it cannot use.
inline constexpr std::string_view kUsageText =
    "usage: ordil [-o OUTPUT | -d DIR | --check] [-v] [--] CACHE_FILE [VIDEO_ID]\n"
    "       ordil --batch [-d DIR | --check] [-j N] [-u] [-v] [--] PATH...\n";

// The head the writer produces for an id, as it must appear on disk.
inline std::string expectedHead(std::string_view idText) {
  std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- VelmarinData=corvane";
  head.append(idText);
  head.append(
      " -->\r\n<packet>\r\n"
      "<thread last_res=\"0\" resultcode=\"0\" revision=\"1\" server_time=\"0\" "
      "thread=\"0\" ticket=\"0\"/>\r\n"
      "<view_counter id=\"corvane");
  head.append(idText);
  head.append("\" mylist=\"0\" video=\"0\"/>\r\n");
  return head;
}

// A chat element as it must appear, with its line end, from the values of
// its attributes and its content as they are written (escaped already).
inline std::string chatElement(uint64_t no, std::string_view userId, uint64_t vpos,
                               std::string_view mail, std::string_view text) {
  std::string chat = "<chat anonymity=\"1\" date=\"1\" no=\"" + std::to_string(no) +
                     "\" user_id=\"";
  chat.append(userId);
  chat += "\" vpos=\"" + std::to_string(vpos) + "\" mail=\"";
  chat.append(mail);
  chat += "\">";
  chat.append(text);
  chat += "</chat>\r\n";
  return chat;
}

}  // namespace ordil::testing

#endif  // ORDIL_TESTS_TEST_SUPPORT_H_
