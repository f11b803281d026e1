// One run of the converter: from the command line to the documents and the
// exit status, in the single mode or the batch mode (driver/batch.h). What
// the run prints, and the exit status, are decided in the driver alone.
#ifndef ORDIL_DRIVER_RUN_DRIVER_H_
#define ORDIL_DRIVER_RUN_DRIVER_H_

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace ordil {

// Exit statuses.
inline constexpr int kExitOk = 0;          // complete conversion, or --help
inline constexpr int kExitIncomplete = 1;  // some comments or the file lost
inline constexpr int kExitUsage = 2;       // no path, or no "ashx" in it

// The exit status of a run: the worst of what it met. A failure of kind
// kUsage (a path that cannot be used) gives kExitUsage, any other failure
// or a file not converted whole kExitIncomplete.
class ExitStatus {
 public:
  void add(const Status& failure) {
    if (!failure.ok()) worsen(failure.kind() == Status::Kind::kUsage ? kExitUsage : kExitIncomplete);
  }
  void addIncomplete() { worsen(kExitIncomplete); }
  int value() const { return value_; }

 private:
  void worsen(int status) { value_ = status > value_ ? status : value_; }
  int value_ = kExitOk;
};

// Prints a problem as "ordil: PATH: MESSAGE" and a line end, piece by
// piece, so that printing a printable PATH takes no memory; one holding a
// control character or bytes that are not UTF-8 is printed quoted
// (text/quote.h), so that a planted name forges no line.
void printProblem(std::ostream& err, std::string_view path, std::string_view message);

// Caption and text of the message for a cache file that cannot be decoded
// (in English: parsing the ashx file failed; showing this file to its author
// may resolve the problem).
inline constexpr std::string_view kFailureCaption = "ordil";
inline constexpr std::string_view kFailureMessage =
    "ashxファイルの解析に失敗しました。\n"
    "作者にこのファイルを提示すると解決できるかもしれません。";

// Where a run's messages go. presentFailureMessage shows kFailureMessage
// under kFailureCaption and returns once the user has acknowledged it.
struct RunContext {
  std::ostream* out;
  std::ostream* err;
  std::function<void(std::string_view caption, std::string_view text)>
      presentFailureMessage;
};

// Reads a video id the way strtol reads base 10: leading white space
// (space, \t \n \v \f \r) skipped, an optional sign, then decimal digits up
// to the first other character. No digits give 0; values beyond the signed
// 32-bit range are clamped to it.
int32_t parseVideoId(std::string_view text);

// Removes the double quotes of a quoted path: when the first byte is a
// double quote it is dropped, and then the last byte too if it is one.
std::string unwrapQuotes(std::string path);

// Flushes *context.out. When what was written to it did not all get out (a
// full disk, a closed pipe), prints "ordil: write error: REASON" on
// *context.err and returns false.
bool outputWasWritten(const RunContext& context);

// The descriptor that a name of the process's own open files stands for:
// /dev/stdout 1, /dev/stderr 2, /dev/fd/N and /proc/self/fd/N N; none for
// any other name.
std::optional<int> descriptorNamed(std::string_view path);

// Runs the converter on a command line (argv[0] is the program name): the
// options, then a cache file and its optional video id, or with --batch
// the paths of cache files and folders. Returns the exit status. Every
// non-zero status comes with a line "ordil: PATH: reason" (or a usage line)
// on *context.err.
int runDriver(int argc, const char* const* argv, const RunContext& context);

}  // namespace ordil

#endif  // ORDIL_DRIVER_RUN_DRIVER_H_
