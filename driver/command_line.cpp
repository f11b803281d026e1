#include "driver/command_line.h"

#include <string_view>

#include "driver/batch.h"

namespace ordil {

namespace {

// Reads the number of jobs: a whole number from 1 to kMaxJobs.
std::string readJobs(std::string_view text, unsigned* jobs) {
  unsigned n = 0;
  bool digits = !text.empty();
  for (const char c : text) {
    if (c < '0' || c > '9') digits = false;
    if (digits && n <= kMaxJobs) n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (!digits || n == 0) return "jobs must be a whole number of at least 1: " + std::string(text);
  if (n > kMaxJobs) {
    return "jobs must be at most " + std::to_string(kMaxJobs) + ": " + std::string(text);
  }
  *jobs = n;
  return "";
}

// The options, by their long names, and whether each takes a value.
struct Option {
  char shortName;  // 0 for none
  std::string_view longName;
  bool takesValue;
};
constexpr Option kOptions[] = {
    {'h', "help", false},      {0, "version", false},     {0, "batch", false},
    {'o', "output", true},     {'d', "output-dir", true}, {0, "check", false},
    {'j', "jobs", true},       {'u', "update", false},    {'v', "verbose", false},
};

// Applies an option (by its long name) with its value; returns the
// problem, or "".
std::string apply(std::string_view name, std::string_view shown, const char* value,
                  CommandLine* line) {
  if (name == "help") line->help = true;
  if (name == "version") line->version = true;
  if (name == "batch") line->batch = true;
  if (name == "check") line->check = true;
  if (name == "update") line->update = true;
  if (name == "verbose") line->verbose = true;
  if (name == "output") {
    if (value == nullptr) return std::string(shown) + " needs a file name";
    line->output = value;
  }
  if (name == "output-dir") {
    if (value == nullptr || *value == '\0') return std::string(shown) + " needs a folder";
    line->outputDir = value;
  }
  if (name == "jobs") {
    if (value == nullptr) return std::string(shown) + " needs a number";
    return readJobs(value, &line->jobs);
  }
  return "";
}

bool isOperand(std::string_view arg) {
  return arg.size() < 2 || arg[0] != '-' || (arg[1] >= '0' && arg[1] <= '9');
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool optionsEnded = false;
  const auto fail = [&](std::string problem, bool unknown) {
    line.problem = std::move(problem);
    line.unknownOption = unknown;
    return line;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || isOperand(arg)) {
      line.operands.push_back(argv[i]);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg.starts_with("--")) {
      const size_t equals = arg.find('=');
      const std::string_view name = arg.substr(2, equals == std::string_view::npos ? equals : equals - 2);
      const Option* option = nullptr;
      for (const Option& o : kOptions) {
        if (o.longName == name) option = &o;
      }
      if (option == nullptr || (!option->takesValue && equals != std::string_view::npos)) {
        return fail("unknown option " + std::string(arg.substr(0, equals)), true);
      }
      const char* value = nullptr;
      if (option->takesValue) {
        value = equals != std::string_view::npos ? argv[i] + equals + 1 : next;
        if (equals == std::string_view::npos && next != nullptr) ++i;
      }
      if (std::string problem = apply(name, arg.substr(0, equals), value, &line); !problem.empty()) {
        return fail(std::move(problem), false);
      }
      continue;
    }
    // A cluster of short options; one that takes a value takes the rest
    // of the cluster, or the next argument.
    for (size_t at = 1; at < arg.size(); ++at) {
      const Option* option = nullptr;
      for (const Option& o : kOptions) {
        if (o.shortName == arg[at]) option = &o;
      }
      const std::string shown = std::string("-") + arg[at];
      if (option == nullptr) return fail("unknown option " + shown, true);
      const char* value = nullptr;
      if (option->takesValue) {
        if (at + 1 < arg.size()) {
          value = argv[i] + at + 1;
        } else if (next != nullptr) {
          value = next;
          ++i;
        }
      }
      if (std::string problem = apply(option->longName, shown, value, &line); !problem.empty()) {
        return fail(std::move(problem), false);
      }
      if (option->takesValue) break;
    }
  }
  return line;
}

}  // namespace ordil
