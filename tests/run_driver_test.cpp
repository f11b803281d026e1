#include "driver/run_driver.h"

#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "tools/cache_builder.h"
#include "xml/chat_format.h"

namespace ordil {
namespace {

using testing::expectedHead;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(RunDriver, ParseVideoIdReadsLikeStrtolClampedTo32Bits) {
  struct Case {
    const char* text;
    int32_t id;
  } cases[] = {
      {"678", 678},         {"12abc", 12},       {"abc", 0},
      {"", 0},              {"-", 0},            {"+", 0},
      {"+42", 42},          {"-5", -5},          {" \t\n\v\f\r7", 7},
      {"- 7", 0},           {"007", 7},          {"1 2", 1},
      {"2147483647", 2147483647},                {"2147483648", 2147483647},
      {"99999999999999999999999", 2147483647},   {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},                {"-99999999999999999999", INT32_MIN},
      {"-1", -1},           {"0x10", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseVideoId(c.text), c.id) << '"' << c.text << '"';
  }
}

TEST(RunDriver, UnwrapQuotesDropsLeadingQuoteAndMatchingTrailingOne) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\"a.ashx\"", "a.ashx"}, {"\"a.ashx", "a.ashx"}, {"\"", ""},
      {"\"\"", ""},             {"a.ashx\"", "a.ashx\""}, {"a.ashx", "a.ashx"},
      {"\"\"a\"\"", "\"a\""},   {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(unwrapQuotes(c.in), c.out) << c.in;
}

// Runs the driver in this process, counting how often the failure message is
// presented.
struct InProcessRun {
  int status;
  std::string out, err;
  int messages = 0;
};

InProcessRun run(std::vector<std::string> args) {
  InProcessRun result;
  std::ostringstream out, err;
  RunContext context{&out, &err, [&](std::string_view caption, std::string_view text) {
                       EXPECT_EQ(caption, "ordil");
                       EXPECT_EQ(text, kFailureMessage);
                       ++result.messages;
                     }};
  std::vector<const char*> argv{"ordil"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  result.status = runDriver(static_cast<int>(argv.size()), argv.data(), context);
  result.out = out.str();
  result.err = err.str();
  return result;
}

TEST(RunDriver, UndecodableRecordPresentsMessageOnceAndExitsOne) {
  TempDir dir;
  std::string file = tools::buildCacheFile({{"", "a", 10, "u"}, {"", "b", 20, "u"}});
  file += testing::bytes("\x00\x85");  // a text length cut short
  writeFile(dir.file("3.ashx"), file);
  const InProcessRun r = run({dir.file("3.ashx"), "3"});
  EXPECT_EQ(r.status, kExitIncomplete);
  EXPECT_EQ(r.messages, 1);
  EXPECT_EQ(r.err, "ordil: " + dir.file("3.ashx") +
                       ": record at byte 42: text length runs past the end of the data\n");
  const std::string xml = readFile(dir.file("3.xml"));
  EXPECT_NE(xml.find("no=\"2\""), std::string::npos);
  EXPECT_EQ(xml.substr(xml.size() - 9), "</packet>");
}

TEST(RunDriver, FilesLongerThanAReadWindowConvertWhole) {
  // The input is read a window (1 MiB) at a time: records cross the window
  // ends, and one record is longer than two windows. The document must be
  // the one made from all the records at once, and a cut after them must
  // still be found at its offset.
  std::vector<tools::Comment> comments = tools::randomRecords(5, 30000, tools::RandomMix::kRealistic);
  comments.insert(comments.begin() + 20000, {"big", std::string(2'500'000, 'x') + "<&>", 30, "long"});
  std::string expected = expectedHead("5");
  for (uint32_t i = 0; i < comments.size(); ++i) appendChat(i + 1, comments[i].record(), &expected);
  expected += "</packet>";
  const std::string file = tools::buildCacheFile(comments);
  TempDir dir;
  writeFile(dir.file("5.ashx"), file);
  const InProcessRun whole = run({dir.file("5.ashx"), "5"});
  EXPECT_EQ(whole.status, kExitOk) << whole.err;
  EXPECT_TRUE(readFile(dir.file("5.xml")) == expected);

  writeFile(dir.file("5.ashx"), file + testing::bytes("\x00\x85"));
  const InProcessRun cut = run({dir.file("5.ashx"), "5"});
  EXPECT_EQ(cut.status, kExitIncomplete);
  EXPECT_EQ(cut.messages, 1);
  EXPECT_EQ(cut.err, "ordil: " + dir.file("5.ashx") + ": record at byte " +
                         std::to_string(file.size()) +
                         ": text length runs past the end of the data\n");
  EXPECT_TRUE(readFile(dir.file("5.xml")) == expected);
}

TEST(RunDriver, CompleteRunPresentsNothing) {
  TempDir dir;
  writeFile(dir.file("1.ashx"), tools::buildCacheFile({{"", "a", 10, "u"}}));
  const InProcessRun r = run({dir.file("1.ashx")});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.messages, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
}

TEST(RunDriver, OptionsAndUsage) {
  EXPECT_EQ(run({}).status, kExitUsage);
  EXPECT_EQ(run({}).err, testing::kUsageText);
  EXPECT_EQ(run({"--"}).status, kExitUsage);
  for (const char* help : {"-h", "--help"}) {
    const InProcessRun r = run({help});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out.rfind("usage: ordil", 0), 0u);
    EXPECT_EQ(r.err, "");
  }
  const InProcessRun version = run({"--version"});
  EXPECT_EQ(version.status, kExitOk);
  EXPECT_EQ(version.out.rfind("ordil ", 0), 0u);
}

TEST(RunDriver, DoubleDashEndsOptions) {
  TempDir dir;
  const std::string input = dir.file("--help.ashx");
  writeFile(input, tools::buildCacheFile({}));
  const InProcessRun r = run({"--", input, "5"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(readFile(dir.file("--help.xml")), expectedHead("5") + "</packet>");
}

}  // namespace
}  // namespace ordil
