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
    "usage: ordil [-o OUTPUT | -d DIR | --check] [--] CACHE_FILE [VIDEO_ID]\n"
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
    "  -v, --verbose  with --batch: a line per file on standard output\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "  --           end of options\n"
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
};

// Takes the value of an option that has one: "-d DIR", "--output-dir DIR"
// or "--output-dir=DIR". Returns false when arg is not the option; sets
// *value to nullptr when its value is missing.
bool takeValue(std::string_view arg, std::string_view shortName, std::string_view longName,
               int argc, const char* const* argv, int* i, const char** value) {
  if (arg == shortName || arg == longName) {
    *value = *i + 1 < argc ? argv[++*i] : nullptr;
    return true;
  }
  if (arg.size() > longName.size() && arg.starts_with(longName) && arg[longName.size()] == '=') {
    *value = argv[*i] + longName.size() + 1;
    return true;
  }
  return false;
}

// Reads -o, -d and --check. Returns false when arg is none of them;
// *problem is then empty, or says why the command line cannot be used.
bool readDestination(std::string_view arg, int argc, const char* const* argv, int* i,
                     bool batch, Destinations* d, std::string* problem) {
  const char* value = nullptr;
  const std::string name(arg.substr(0, arg.find('=')));  // the option, as given
  if (arg == "--check") {
    d->check = true;
  } else if (!batch && takeValue(arg, "-o", "--output", argc, argv, i, &value)) {
    if (value == nullptr) *problem = name + " needs a file name";
    d->output = value;
  } else if (takeValue(arg, "-d", "--output-dir", argc, argv, i, &value)) {
    if (value == nullptr || *value == '\0') *problem = name + " needs a folder";
    d->outputDir = value;
  } else {
    return false;
  }
  if (problem->empty() && d->output != nullptr && d->outputDir != nullptr) {
    *problem = "--output does not go with --output-dir";
  } else if (problem->empty() && d->check && (d->output != nullptr || d->outputDir != nullptr)) {
    *problem = std::string("--check does not go with ") +
               (d->output != nullptr ? "--output" : "--output-dir");
  }
  return true;
}

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
  return status.value();
}

// Reads the number of jobs: a whole number of at least 1.
bool parseJobs(std::string_view text, unsigned* jobs) {
  if (text.empty() || text.size() > 9) return false;
  unsigned n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n == 0) return false;
  *jobs = n;
  return true;
}

// The batch mode's arguments, after --batch: options anywhere before "--",
// with those given before --batch.
int runBatchArguments(int argc, const char* const* argv, int first, Destinations to,
                      const RunContext& context) {
  BatchOptions options;
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string problem;
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.paths.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (readDestination(arg, argc, argv, &i, true, &to, &problem)) {
      if (!problem.empty()) return usageError(problem, context);
    } else if (arg == "-u" || arg == "--update") {
      options.update = true;
    } else if (arg == "-v" || arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "-j" || arg == "--jobs" || arg.starts_with("--jobs=") ||
               (arg.starts_with("-j") && arg.size() > 2)) {
      std::string_view value;
      if (arg == "-j" || arg == "--jobs") {
        if (i + 1 >= argc) return usageError(std::string(arg) + " needs a number", context);
        value = argv[++i];
      } else {
        value = arg.substr(arg.starts_with("--") ? 7 : 2);
      }
      if (!parseJobs(value, &options.jobs)) {
        return usageError("jobs must be a whole number of at least 1: " + std::string(value),
                          context);
      }
    } else {
      return usageError("unknown option " + std::string(arg), context);
    }
  }
  if (options.paths.empty()) return usageError("--batch needs a PATH", context);
  options.check = to.check;
  if (to.outputDir != nullptr) options.outputDir = to.outputDir;
  return runBatch(options, context);
}

}  // namespace

int runDriver(int argc, const char* const* argv, const RunContext& context) {
  try {
    int i = 1;  // the next argument
    Destinations to;
    for (; i < argc; ++i) {
      const std::string_view arg = argv[i];
      if (arg == "-h" || arg == "--help") {
        return printWhole(std::string(kUsage) + '\n' + std::string(kHelp), context);
      }
      if (arg == "--version") return printWhole("ordil " ORDIL_VERSION "\n", context);
      if (arg == "--batch") {
        if (to.output != nullptr) return usageError("--output does not go with --batch", context);
        return runBatchArguments(argc, argv, i + 1, to, context);
      }
      std::string problem;
      if (readDestination(arg, argc, argv, &i, false, &to, &problem)) {
        if (!problem.empty()) return usageError(problem, context);
      } else if (arg == "--") {
        ++i;
        break;
      } else {
        break;  // the path (one that begins with "-" follows "--")
      }
    }
    if (i >= argc) {
      *context.err << kUsage;
      return kExitUsage;
    }
    return runSingle(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, to, context);
  } catch (const std::bad_alloc&) {
    *context.err << "ordil: not enough memory\n";
    return kExitIncomplete;
  } catch (const std::exception& e) {
    *context.err << "ordil: " << e.what() << '\n';
    return kExitIncomplete;
  }
}

}  // namespace ordil
