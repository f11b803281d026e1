// The command line read as GNU getopt reads it.
#include "driver/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ordil {
namespace {

CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "ordil");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

std::vector<std::string> operands(const CommandLine& line) {
  return std::vector<std::string>(line.operands.begin(), line.operands.end());
}

TEST(CommandLine, OptionsGoAnywhereCombinedOrWithTheirValues) {
  const struct {
    std::vector<const char*> args;
    std::vector<std::string> operands;
    unsigned jobs;
    std::string outputDir;
  } cases[] = {
      {{"a.ashx", "-uvj4", "--batch"}, {"a.ashx"}, 4, ""},
      {{"-j", "3", "-dout", "x"}, {"x"}, 3, "out"},
      {{"--jobs=2", "--output-dir=out", "x"}, {"x"}, 2, "out"},
      {{"--output-dir", "out", "x", "-7"}, {"x", "-7"}, 0, "out"},  // a negative id
      {{"-", "678"}, {"-", "678"}, 0, ""},                          // standard input
      {{"--", "-v", "--batch"}, {"-v", "--batch"}, 0, ""},          // operands after --
  };
  for (const auto& c : cases) {
    const CommandLine line = parse(c.args);
    SCOPED_TRACE(c.args[0]);
    EXPECT_EQ(line.problem, "");
    EXPECT_EQ(operands(line), c.operands);
    EXPECT_EQ(line.jobs, c.jobs);
    EXPECT_EQ(std::string(line.outputDir != nullptr ? line.outputDir : ""), c.outputDir);
  }
  const CommandLine all = parse({"a.ashx", "-uv", "--batch", "--check", "-o", "-"});
  EXPECT_TRUE(all.update && all.verbose && all.batch && all.check);
  EXPECT_EQ(std::string(all.output), "-");
}

TEST(CommandLine, ProblemsNameTheOptionAsGiven) {
  const struct {
    std::vector<const char*> args;
    std::string problem;
    bool unknown;
  } cases[] = {
      {{"-V"}, "unknown option -V", true},
      {{"-uvx"}, "unknown option -x", true},
      {{"--fast=1"}, "unknown option --fast", true},
      {{"--check=yes"}, "unknown option --check", true},
      {{"-j65"}, "jobs must be at most 64: 65", false},
      {{"--jobs", "0"}, "jobs must be a whole number of at least 1: 0", false},
      {{"-o"}, "-o needs a file name", false},
      {{"--output-dir="}, "--output-dir needs a folder", false},
  };
  for (const auto& c : cases) {
    const CommandLine line = parse(c.args);
    EXPECT_EQ(line.problem, c.problem);
    EXPECT_EQ(line.unknownOption, c.unknown) << c.problem;
  }
  // --help before a problem still helps.
  EXPECT_TRUE(parse({"--help", "-V"}).help);
}

}  // namespace
}  // namespace ordil
