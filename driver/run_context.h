// Where a run's lines go, and how they are printed: the one place that
// turns a problem into "ordil: PATH: reason".
#ifndef ORDIL_DRIVER_RUN_CONTEXT_H_
#define ORDIL_DRIVER_RUN_CONTEXT_H_

#include <functional>
#include <iosfwd>
#include <string_view>

namespace ordil {

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

// Flushes *context.out. When what was written to it did not all get out,
// returns false, having printed "ordil: write error: REASON" on
// *context.err (a full disk), or nothing when its reader has gone (a
// closed pipe).
bool outputWasWritten(const RunContext& context);

}  // namespace ordil

#endif  // ORDIL_DRIVER_RUN_CONTEXT_H_
