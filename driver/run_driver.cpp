#include "driver/run_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <ostream>
#include <vector>

#include "cache/cache_record.h"
#include "driver/path_argument.h"
#include "platform/input_file.h"
#include "xml/comment_xml_writer.h"

#ifndef ORDIL_VERSION
#define ORDIL_VERSION "unknown"
#endif

namespace ordil {

namespace {

constexpr std::string_view kUsage = "usage: ordil [--] CACHE_FILE [VIDEO_ID]\n";

constexpr std::string_view kHelp =
    "Converts a comment cache file into a comment XML document written\n"
    "beside it, named after the input with its first \"ashx\" replaced by\n"
    "\"xml\" (678.ashx gives 678.xml).\n"
    "\n"
    "  CACHE_FILE   path of the cache file; may be percent-encoded (%XX\n"
    "               escapes of UTF-8 bytes) and wrapped in double quotes\n"
    "  VIDEO_ID     decimal video id written in the document (default 0)\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "  --           end of options: the next argument is the path\n"
    "\n"
    "Exit status: 0 converted completely; 1 the input could not be read\n"
    "whole, a record could not be decoded, or the document could not be\n"
    "written whole; 2 no path was given, or it holds no \"ashx\".\n";

// The largest input taken: the format's sizes are 32-bit.
constexpr uint64_t kMaxInputSize = std::numeric_limits<uint32_t>::max();
static_assert(std::numeric_limits<size_t>::max() >= kMaxInputSize);

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Problems of one run, each printed as "ordil: PATH: reason".
class Diagnostics {
 public:
  explicit Diagnostics(std::ostream* err) : err_(err) {}
  void report(const std::string& path, const std::string& reason) {
    *err_ << "ordil: " << path << ": " << reason << '\n';
    any_ = true;
  }
  bool any() const { return any_; }

 private:
  std::ostream* err_;
  bool any_ = false;
};

// The input is read and walked a window at a time; a record longer than a
// window widens it.
constexpr size_t kWindowSize = size_t{1} << 20;

// Reads the input window by window and hands every record to the writer.
// Returns without writing anything when the input cannot be opened; walks
// only the bytes that could be read. Throws std::bad_alloc when memory for
// the window cannot be had.
void convertInput(const std::string& path, CommentXmlWriter* writer,
                  const RunContext& context, Diagnostics* diagnostics) {
  platform::InputFile input(path);
  if (!input.isOpen()) {
    diagnostics->report(path, "cannot open: " + input.error());
    return;
  }
  if (input.size() > kMaxInputSize) {
    diagnostics->report(path, "file is too large (" + std::to_string(input.size()) +
                                  " bytes); not converted");
    return;
  }
  const size_t size = static_cast<size_t>(input.size());
  size_t left = size;  // bytes still to read
  size_t capacity = std::max<size_t>(1, std::min(size, kWindowSize));
  std::unique_ptr<char[]> window = std::make_unique_for_overwrite<char[]>(capacity);
  RecordWalker walker;
  CacheRecord record;
  bool shortRead = false;
  for (;;) {
    // Keep the bytes not yet walked (an unfinished record) at the front,
    // widening the window when they fill it alone.
    const std::string_view rest = walker.unconsumed();
    if (rest.size() == capacity) {
      const size_t wider = rest.size() + std::min(left, capacity);
      std::unique_ptr<char[]> widened = std::make_unique_for_overwrite<char[]>(wider);
      std::memcpy(widened.get(), rest.data(), rest.size());
      window = std::move(widened);
      capacity = wider;
    } else if (!rest.empty()) {
      std::memmove(window.get(), rest.data(), rest.size());
    }
    const size_t wanted = std::min(capacity - rest.size(), left);
    const size_t got = input.read(window.get() + rest.size(), wanted);
    left -= got;
    shortRead = got < wanted;
    walker.feed(std::string_view(window.get(), rest.size() + got), left == 0 || shortRead);
    while (walker.next(&record)) writer->writeChat(record);
    if (!walker.hungry()) break;
  }
  if (shortRead) {
    const std::string why = input.error().empty() ? "file shrank" : input.error();
    diagnostics->report(path, "read " + std::to_string(size - left) + " of " +
                                  std::to_string(size) + " bytes: " + why);
  }
  if (walker.failed()) {
    context.presentFailureMessage(kFailureCaption, kFailureMessage);
    diagnostics->report(path, walker.errorMessage());
  }
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

namespace {

// Prints text on standard output whole, or says why it could not.
int printWhole(std::string_view text, const RunContext& context) {
  errno = 0;
  context.out->write(text.data(), static_cast<std::streamsize>(text.size()));
  context.out->flush();
  if (*context.out) return kExitOk;
  const int error = errno;
  *context.err << "ordil: write error: "
               << (error != 0 ? std::strerror(error) : "the output was not written") << '\n';
  return kExitIncomplete;
}

// The conversion of one file, from the writer's creation to its end.
int convert(const std::string& path, int32_t id, const RunContext& context) {
  Diagnostics diagnostics(context.err);
  try {
    CommentXmlWriter writer(path, id);
    if (!writer.started()) {
      diagnostics.report(path, "no \"ashx\" in the path; nothing converted");
      return kExitUsage;
    }
    convertInput(path, &writer, context, &diagnostics);
    if (!writer.finish()) diagnostics.report(writer.outputName(), writer.error());
  } catch (const std::bad_alloc&) {
    // The writer is gone without finishing: the old document stays.
    diagnostics.report(path, "not enough memory");
  }
  return diagnostics.any() ? kExitIncomplete : kExitOk;
}

}  // namespace

int runDriver(int argc, const char* const* argv, const RunContext& context) {
  int first = 1;  // index of the path argument
  if (argc > 1) {
    const std::string_view option = argv[1];
    if (option == "-h" || option == "--help") {
      return printWhole(std::string(kUsage) + '\n' + std::string(kHelp), context);
    }
    if (option == "--version") return printWhole("ordil " ORDIL_VERSION "\n", context);
    if (option == "--") first = 2;
  }
  if (argc <= first) {
    *context.err << kUsage;
    return kExitUsage;
  }

  std::string path;
  try {
    path = unwrapQuotes(decodePathArgument(argv[first]));
  } catch (const std::bad_alloc&) {
    *context.err << "ordil: " << argv[first] << ": not enough memory\n";
    return kExitIncomplete;
  }
  const int32_t id = argc > first + 1 ? parseVideoId(argv[first + 1]) : 0;
  return convert(path, id, context);
}

}  // namespace ordil
