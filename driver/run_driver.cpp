#include "driver/run_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <new>
#include <ostream>
#include <vector>

#include "driver/arguments.h"
#include "driver/batch.h"
#include "driver/command_line.h"
#include "driver/conversion.h"
#include "driver/path_argument.h"
#include "platform/file_name.h"
#include "platform/folder.h"
#include "text/quote.h"

#ifndef ORDIL_VERSION
#define ORDIL_VERSION "unknown"
#endif

namespace ordil {

namespace {

constexpr std::string_view kUsage =
    "usage: ordil [-o OUTPUT | -d DIR | --check] [-v] [--] CACHE_FILE [VIDEO_ID]\n"
    "       ordil --batch [-d DIR | --check] [-j N] [-u] [-v] [--] PATH...\n";

constexpr std::string_view kHelp =
    "Converts a comment cache file into a comment XML document written\n"
    "beside it, named after the input with its first \"ashx\" replaced by\n"
    "\"xml\" (678.ashx gives 678.xml). The document replaces an older one\n"
    "whole, once it is complete.\n"
    "\n"
    "  CACHE_FILE   path of the cache file; may be percent-encoded (%XX\n"
    "               escapes of UTF-8 bytes) and wrapped in double quotes\n"
    "  VIDEO_ID     decimal video id written in the document (default 0)\n"
    "  -o, --output OUTPUT\n"
    "               write the document to OUTPUT instead; - for standard output\n"
    "  -d, --output-dir DIR\n"
    "               write the document into the folder DIR instead, named\n"
    "               after the cache file's own name (1.ashx gives DIR/1.xml);\n"
    "               with --batch a cache file keeps its place below the\n"
    "               folder PATH it was found in, and the folders needed\n"
    "               are made\n"
    "  --check      decode every record and write nothing: the messages and\n"
    "               exit status are those converting would give\n"
    "  --batch      convert every PATH: cache files, and the cache files in\n"
    "               folders (recursively); each document is written beside\n"
    "               its cache file, the id taken from the file's name\n"
    "  -j, --jobs N  with --batch: convert N files at once (default: one per\n"
    "               processor)\n"
    "  -u, --update  with --batch: only where the document is missing or\n"
    "               older than the cache file\n"
    "  -v, --verbose  a line per file on standard output (PATH: N comments)\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "  --           end of options\n"
    "\n"
    "Options may come anywhere before --, short ones combined (-uv, -j4,\n"
    "-dDIR). Several cache files without --batch (as Explorer passes the\n"
    "files dropped on the program) are converted as --batch converts them.\n"
    "\n"
    "Exit status: 0 converted completely; 1 an input could not be read\n"
    "whole, a record could not be decoded, a document could not be\n"
    "written whole, or standard output's reader went away (no line); 2\n"
    "usage: no path, a path without \"ashx\", a missing PATH; 128 + N\n"
    "interrupted by signal N.\n";

// Prints text on standard output whole, or says why it could not.
int printWhole(std::string_view text, const RunContext& context) {
  context.out->write(text.data(), static_cast<std::streamsize>(text.size()));
  return outputWasWritten(context) ? kExitOk : kExitIncomplete;
}

int usageError(std::string_view problem, const RunContext& context) {
  *context.err << "ordil: " << problem << '\n' << kUsage;
  return kExitUsage;
}

// The hint for a folder given to the single mode.
std::string folderHint(const std::string& path) {
  return "; ordil --batch " + path + " converts the cache files in it";
}

// What the options say of where documents go, in either mode.
struct Destinations {
  const char* output = nullptr;     // -o
  const char* outputDir = nullptr;  // -d
  bool check = false;               // --check
  bool verbose = false;             // -v: a line for the file on standard output
};

// The single mode: one cache file, named by a path argument that may be
// percent-encoded and quoted.
int runSingle(const char* pathArgument, const char* idArgument, const Destinations& to,
              const RunContext& context) {
  const std::string path = unwrapQuotes(decodePathArgument(pathArgument));
  const int32_t id = idArgument != nullptr ? parseVideoId(idArgument) : 0;
  // "ashx" in the path is what makes it a cache file, wherever the
  // document goes.
  const std::optional<platform::NativeFileName> beside = outputNameFor(path);
  if (!beside) {
    const bool folder = platform::isFolder(path);
    const Status unusable = Status::usage(folder ? "is a folder" + folderHint(path)
                                                 : "no \"ashx\" in the path; nothing converted");
    printProblem(*context.err, path, unusable.message());
    ExitStatus status;
    status.add(unusable);
    return status.value();
  }
  Conversion conversion;
  conversion.inputPath = path;
  conversion.id = id;
  if (to.check) {
    conversion.output.kind = OutputTarget::Kind::kNothing;
  } else if (to.output != nullptr && std::string_view(to.output) == "-") {
    conversion.output.kind = OutputTarget::Kind::kStandardOutput;
    conversion.outputPath = "standard output";
  } else if (const std::optional<int> descriptor =
                 to.output != nullptr ? descriptorNamed(to.output) : std::nullopt) {
    // The descriptor the shell opened, written where it stands (appending
    // where it appends), rather than a new file in its place.
    conversion.output.kind = OutputTarget::Kind::kStandardOutput;
    conversion.output.descriptor = *descriptor;
    conversion.outputPath = to.output;
  } else if (to.output != nullptr) {
    conversion.output.name = platform::nativeFileName(to.output);
    conversion.output.placement = platform::Placement::kNamed;
    conversion.outputPath = to.output;
  } else if (to.outputDir != nullptr) {
    // Named as the batch names it: the cache file's own name with its
    // first "ashx" replaced, in the folder.
    if (const Status links = platform::checkLinksAlong(platform::nativeFileName(to.outputDir));
        !links.ok()) {
      printProblem(*context.err, to.outputDir, links.message());
      return kExitIncomplete;
    }
    const std::filesystem::path cacheName =
        std::filesystem::path(platform::nativeFileName(path)).filename();
    const platform::NativeFileName ownName = documentNameFor(
        platform::NativeFileName(cacheName.native().begin(), cacheName.native().end()));
    const std::filesystem::path inFolder =
        std::filesystem::path(platform::nativeFileName(to.outputDir)) /
        std::filesystem::path(ownName);
    const auto& native = inFolder.native();
    conversion.output.name = platform::NativeFileName(native.begin(), native.end());
    conversion.outputPath = platform::displayFileName(conversion.output.name);
  } else {
    conversion.output.name = *beside;
    conversion.outputPath = platform::displayFileName(*beside);
  }

  Converter converter;
  const Outcome outcome = converter.convert(conversion);
  if (outcome.undecodable) context.presentFailureMessage(kFailureCaption, kFailureMessage);
  ExitStatus status;
  for (const Problem& p : outcome.problems) {
    if (p.status.kind() == Status::Kind::kClosedOutput) {
      status.add(p.status);  // its reader has gone: nobody to tell
      continue;
    }
    std::string message = p.status.message();
    if (p.path == path && p.status.kind() == Status::Kind::kIo && platform::isFolder(path)) {
      message += folderHint(path);
    }
    printProblem(*context.err, p.path, message);
    status.add(p.status);
  }
  if (!outcome.complete()) {
    if (outcome.problems.empty()) printProblem(*context.err, path, "not enough memory");
    status.addIncomplete();
  }
  if (to.verbose) {
    // As the batch prints it.
    *context.out << quotedName(path) << ": " << (outcome.complete() ? "" : "incomplete, ")
                 << outcome.comments << " comments\n";
    if (!outputWasWritten(context)) status.addIncomplete();
  }
  return status.value();
}

// Whether the command line is several cache files without --batch, as
// Explorer passes the files dropped on the program: the second operand is
// an existing file whose own name holds "ashx" (a video id is none).
bool severalCacheFiles(const CommandLine& line) {
  if (line.batch || line.operands.size() < 2 || line.output != nullptr) return false;
  const platform::NativeFileName second = platform::nativeFileName(line.operands[1]);
  const std::filesystem::path own = std::filesystem::path(second).filename();
  const auto& native = own.native();
  return holdsAshx(platform::NativeFileName(native.begin(), native.end())) &&
         platform::modifiedTime(second, true).has_value();
}

// Why the options cannot go together, or "".
std::string conflictOf(const CommandLine& line, bool batch) {
  if (line.output != nullptr && line.outputDir != nullptr) {
    return "--output does not go with --output-dir";
  }
  if (line.check && (line.output != nullptr || line.outputDir != nullptr)) {
    return std::string("--check does not go with ") +
           (line.output != nullptr ? "--output" : "--output-dir");
  }
  if (batch && line.output != nullptr) return "--output does not go with --batch";
  if (!batch && line.update) return "--update goes with --batch";
  if (!batch && line.jobs != 0) return "--jobs goes with --batch";
  if (line.verbose && line.output != nullptr &&
      (std::string_view(line.output) == "-" || descriptorNamed(line.output) == 1)) {
    return "--verbose does not go with a document on standard output";
  }
  return "";
}

}  // namespace

int runDriver(int argc, const char* const* argv, const RunContext& context) {
  try {
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) return printWhole(std::string(kUsage) + '\n' + std::string(kHelp), context);
    if (line.version) return printWhole("ordil " ORDIL_VERSION "\n", context);
    if (!line.problem.empty()) {
      const int status = usageError(line.problem, context);
      if (line.unknownOption) *context.err << "Try 'ordil --help' for the options.\n";
      return status;
    }
    const bool batch = line.batch || severalCacheFiles(line);
    if (const std::string conflict = conflictOf(line, batch); !conflict.empty()) {
      return usageError(conflict, context);
    }
    if (batch) {
      BatchOptions options;
      for (const char* operand : line.operands) options.paths.emplace_back(operand);
      if (options.paths.empty()) return usageError("--batch needs a PATH", context);
      options.jobs = line.jobs;
      options.update = line.update;
      options.verbose = line.verbose;
      options.check = line.check;
      if (line.outputDir != nullptr) options.outputDir = line.outputDir;
      return runBatch(options, context);
    }
    if (line.operands.empty()) {
      *context.err << kUsage;
      return kExitUsage;
    }
    Destinations to;
    to.output = line.output;
    to.outputDir = line.outputDir;
    to.check = line.check;
    to.verbose = line.verbose;
    // Further operands are ignored.
    return runSingle(line.operands[0], line.operands.size() > 1 ? line.operands[1] : nullptr, to,
                     context);
  } catch (const std::bad_alloc&) {
    *context.err << "ordil: not enough memory\n";
    return kExitIncomplete;
  } catch (const std::exception& e) {
    *context.err << "ordil: " << e.what() << '\n';
    return kExitIncomplete;
  }
}

}  // namespace ordil
