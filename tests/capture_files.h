// The files a child's output is captured in, shared by the POSIX and
// Windows sides of tests/process.h.
#ifndef ORDIL_TESTS_CAPTURE_FILES_H_
#define ORDIL_TESTS_CAPTURE_FILES_H_

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace ordil::testing {

inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file name of our own in the temporary folder, never used twice: under
// Wine one whose removal is still pending cannot be created again.
inline std::string captureName(const char* what) {
  static const unsigned run = std::random_device()();
  static std::atomic<unsigned> counter{0};
  return (std::filesystem::temp_directory_path() /
          ("ordil-capture-" + std::to_string(run) + "-" + std::to_string(++counter) + "-" + what))
      .string();
}

inline void removeQuietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// Where a child's standard output and error go: files of our own, or a
// file the caller named for standard output.
struct CaptureFiles {
  explicit CaptureFiles(const std::string& stdoutTarget)
      : stdoutCaptured(stdoutTarget.empty()),
        stdoutPath(stdoutCaptured ? captureName("out") : stdoutTarget),
        stderrPath(captureName("err")) {}

  // What was captured in the file, which is then removed; "" when standard
  // output went to the caller's file.
  std::string takeStdout() const {
    if (!stdoutCaptured) return "";
    std::string out = readAll(stdoutPath);
    removeQuietly(stdoutPath);
    return out;
  }
  std::string takeStderr() const {
    std::string err = readAll(stderrPath);
    removeQuietly(stderrPath);
    return err;
  }

  bool stdoutCaptured;
  std::string stdoutPath, stderrPath;
};

}  // namespace ordil::testing

#endif  // ORDIL_TESTS_CAPTURE_FILES_H_
