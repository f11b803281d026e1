// The batch's plan over a fake file system, and its runner with a fake
// conversion: what decides and what runs, without starting the program.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/batch_plan.h"
#include "driver/batch_report.h"
#include "driver/batch_runner.h"
#include "tests/faulty_file_ops.h"
#include "tests/test_support.h"

namespace ordil {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;

// A tree given as its folders' entries, "d" for a folder, "f" a regular
// file, "l" a link to a folder, "lf" a link to a file; a folder listed as
// "!" cannot be read.
class FakeWalker final : public FolderWalker {
 public:
  explicit FakeWalker(std::map<std::string, std::vector<std::pair<std::string, std::string>>> tree)
      : tree_(std::move(tree)) {}

  Kind kindOf(const fs::path& path, std::string* reason) override {
    if (tree_.count(path.generic_string()) != 0) return Kind::kFolder;
    for (const auto& [folder, entries] : tree_) {
      for (const auto& [name, type] : entries) {
        if ((fs::path(folder) / name).generic_string() == path.generic_string()) return Kind::kOther;
      }
    }
    *reason = "No such file or directory";
    return Kind::kMissing;
  }

  Status list(const fs::path& folder, std::vector<WalkEntry>* entries) override {
    const auto& listed = tree_.at(folder.generic_string());
    for (const auto& [name, type] : listed) {
      if (type == "!") return Status::io("cannot read the folder: Permission denied");
      WalkEntry e;
      e.name = nativeName(fs::path(name));
      e.isLink = type[0] == 'l';
      e.isFolder = type == "d" || type == "l";
      e.isRegularFile = type == "f" || type == "lf";
      entries->push_back(e);
    }
    return Status();
  }

 private:
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> tree_;
};

std::vector<std::string> inputsOf(const BatchPlan& plan) {
  std::vector<std::string> names;
  for (const Item& item : plan.items) names.push_back(plan.places.input(item).generic_string());
  return names;
}

TEST(BatchPlan, ListsCacheFilesInNameOrderWithoutFollowingLinksToFolders) {
  FakeWalker walker({{"t", {{"b.ashx", "f"}, {"sub", "d"}, {"a.ashx", "f"}, {"notes.txt", "f"},
                            {"link", "l"}, {"own.ashx", "lf"}, {"bad", "d"}}},
                     {"t/sub", {{"9.ashx", "f"}}},
                     {"t/bad", {{"x", "!"}}},
                     {"n", {{"42.ashx", "f"}, {"plain", "f"}}}});
  BatchOptions options;
  options.paths = {"t", "n/42.ashx", "missing", "n/plain"};
  const BatchPlan plan = makePlan(options, &walker);
  EXPECT_EQ(inputsOf(plan), (std::vector<std::string>{"t/a.ashx", "t/b.ashx", "t/own.ashx",
                                                       "t/sub/9.ashx", "n/42.ashx"}));
  ASSERT_EQ(plan.problems.size(), 3u);
  EXPECT_EQ(plan.problems[0].path, displayPath(fs::path("t") / "bad"));
  EXPECT_EQ(plan.problems[0].status.message(), "cannot read the folder: Permission denied");
  EXPECT_EQ(plan.problems[1].path, "missing");
  EXPECT_EQ(plan.problems[1].status.kind(), Status::Kind::kUsage);
  EXPECT_EQ(plan.problems[2].status.message(), "no \"ashx\" in the file's name; not converted");
  EXPECT_TRUE(plan.sameAs.empty());
  EXPECT_TRUE(plan.replaces.empty());
}

TEST(BatchPlan, NamesEachDocumentAndIdFromTheCacheFilesOwnName) {
  FakeWalker walker({{"t", {{"ashx", "d"}, {"678.ashx", "f"}, {"sm9.ashx", "f"}}},
                     {"t/ashx", {{"1.ashx", "f"}}}});
  const struct {
    const char* outputDir;
    std::vector<std::string> documents;
  } cases[] = {
      {"", {"t/678.xml", "t/ashx/1.xml", "t/sm9.xml"}},
      {"out", {"out/678.xml", "out/ashx/1.xml", "out/sm9.xml"}},
  };
  for (const auto& c : cases) {
    BatchOptions options;
    options.paths = {"t"};
    options.outputDir = c.outputDir;
    const BatchPlan plan = makePlan(options, &walker);
    std::vector<std::string> documents;
    std::vector<int32_t> ids;
    for (const Item& item : plan.items) {
      const Conversion conversion = conversionFor(item, plan.places);
      documents.push_back(pathOf(conversion.output.name).generic_string());
      ids.push_back(conversion.id);
    }
    EXPECT_EQ(documents, c.documents);
    EXPECT_EQ(ids, (std::vector<int32_t>{678, 1, 0}));
  }
}

TEST(BatchPlan, FindsSharedDocumentsAndReplacedCachesBeforeConverting) {
  FakeWalker walker({{"x", {{"1.ashx", "f"}, {"a.ashx.ashx", "f"}, {"a.xml.ashx", "f"}}},
                     {"y", {{"1.ashx", "f"}}}});
  const struct {
    std::vector<std::string> paths;
    const char* outputDir;
    bool check;
    std::vector<uint32_t> sameAs, replaces;
  } cases[] = {
      // The same file twice, with or without -d.
      {{"x/1.ashx", "x/1.ashx"}, "", false, {kNone, 0}, {}},
      {{"x/1.ashx", "y/1.ashx"}, "out", false, {kNone, 0}, {}},
      {{"x/1.ashx", "y/1.ashx"}, "", false, {}, {}},
      // a.ashx.ashx's document is a.xml.ashx, a cache file of the list.
      {{"x"}, "", false, {}, {kNone, 2, kNone}},
      {{"x/1.ashx", "x/1.ashx", "x"}, "", true, {}, {}},  // --check writes nothing
  };
  for (const auto& c : cases) {
    BatchOptions options;
    options.paths = c.paths;
    options.outputDir = c.outputDir;
    options.check = c.check;
    const BatchPlan plan = makePlan(options, &walker);
    EXPECT_EQ(plan.sameAs, c.sameAs) << c.paths[0] << " " << c.outputDir;
    EXPECT_EQ(plan.replaces, c.replaces) << c.paths[0];
  }
}

// A conversion whose results are scripted: "0 comments" for each file, a
// file that runs out of open files when converted beside others, and a
// document written for each file to a folder.
class FakeConversion final : public ItemConversion {
 public:
  Result convert(size_t index, Converter*, Finished* finished) override {
    ++calls_;
    Result result;
    result.inputPath = std::to_string(index) + ".ashx";
    if (index == outOfFilesAt_ && !failedOnce_.exchange(true)) {
      result.outcome.problems.push_back(
          {result.inputPath, Status::tooManyFiles("cannot open: Too many open files")});
      return result;
    }
    result.outcome.comments = static_cast<uint32_t>(index);
    if (folder_ != nullptr) {
      OutputTarget target;
      target.name = platform::nativeFileName(folder_->file(std::to_string(index) + ".xml"));
      target.ops = ops_;
      finished->document = std::make_unique<Destination>(target);
      finished->document->write("doc", 3);
      finished->document->finishWriting();
      finished->outputPath = result.inputPath;
    }
    return result;
  }

  size_t outOfFilesAt_ = SIZE_MAX;
  const TempDir* folder_ = nullptr;
  platform::FileOps* ops_ = platform::systemFileOps();
  std::atomic<int> calls_{0};

 private:
  std::atomic<bool> failedOnce_{false};
};

struct Streams {
  std::ostringstream out, err;
  RunContext context{&out, &err, [](std::string_view, std::string_view) {}};
};

// A verbose batch of files through the runner, groups of four, its lines
// kept.
struct VerboseRun {
  explicit VerboseRun(size_t files) : files_(files), reporter(files, options, streams.context, false) {}
  void run(unsigned jobs, ItemConversion* conversion) {
    runConversions(files_, jobs, 4, conversion, &reporter);
    reporter.end();
  }
  std::string out() const { return streams.out.str(); }
  std::string err() const { return streams.err.str(); }

  const size_t files_;
  Streams streams;
  BatchOptions options = [] {
    BatchOptions verbose;
    verbose.verbose = true;
    return verbose;
  }();
  Reporter reporter;
};

std::string verboseLines(size_t files) {
  std::string lines;
  for (size_t i = 0; i < files; ++i) lines += std::to_string(i) + ".ashx: " + std::to_string(i) + " comments\n";
  return lines;
}

TEST(BatchRunner, ReportsInListOrderWhateverTheJobs) {
  for (const unsigned jobs : {1u, 2u, 8u}) {
    SCOPED_TRACE(jobs);
    VerboseRun batch(300);
    FakeConversion conversion;
    batch.run(jobs, &conversion);
    EXPECT_EQ(batch.out(), verboseLines(300));
    EXPECT_EQ(batch.err(), "");
    EXPECT_FALSE(batch.reporter.anyIncomplete());
  }
}

TEST(BatchRunner, FileOutOfOpenFilesBesideOthersIsTriedAgainAlone) {
  for (const unsigned jobs : {1u, 4u}) {
    SCOPED_TRACE(jobs);
    VerboseRun batch(20);
    FakeConversion conversion;
    conversion.outOfFilesAt_ = 7;
    batch.run(jobs, &conversion);
    if (jobs == 1) {
      // Alone already: the failure is the file's.
      EXPECT_EQ(batch.err(), "ordil: 7.ashx: cannot open: Too many open files\n");
      EXPECT_TRUE(batch.reporter.anyIncomplete());
      EXPECT_EQ(conversion.calls_, 20);
    } else {
      EXPECT_EQ(batch.out(), verboseLines(20));
      EXPECT_EQ(batch.err(), "");
      EXPECT_EQ(conversion.calls_, 21);
    }
  }
}

TEST(BatchRunner, DocumentsArePutInPlaceInGroups) {
  TempDir dir;
  Streams run;
  BatchOptions options;
  Reporter reporter(10, options, run.context, false);
  FakeConversion conversion;
  conversion.folder_ = &dir;
  runConversions(10, 3, 4, &conversion, &reporter);
  reporter.end();
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    ++files;
    EXPECT_EQ(readFile(entry.path().string()), "doc") << entry.path();  // no hidden file left
  }
  EXPECT_EQ(files, 10u);
  EXPECT_EQ(run.err.str(), "");
}

TEST(BatchRunner, DocumentThatCannotBeMadeDurableOrRenamedIsReportedAndLeftOut) {
  using Step = testing::FaultyFileOps::Step;
  const struct {
    Step step;
    int n;
    const char* message;
  } cases[] = {
      {Step::kFlushFile, 2, "write failed: Input/output error"},  // after the group's flush failed
      {Step::kRename, 2, "cannot replace: Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    VerboseRun batch(4);
    testing::FaultyFileOps ops(Step::kFlushFileSystem, 1);
    ops.fail(c.step, c.n);
    FakeConversion conversion;
    conversion.folder_ = &dir;
    conversion.ops_ = &ops;
    batch.run(1, &conversion);
    EXPECT_EQ(batch.err(), std::string("ordil: 1.ashx: ") + c.message + "\n");
    EXPECT_EQ(batch.out(), "0.ashx: 0 comments\n1.ashx: incomplete, 0 comments\n"
                           "2.ashx: 2 comments\n3.ashx: 3 comments\n");
    EXPECT_TRUE(batch.reporter.anyIncomplete());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"0.xml", "2.xml", "3.xml"}));  // nothing hidden left
  }
}

TEST(BatchRunner, GroupsFitTheOpenFilesAllowed) {
  EXPECT_EQ(groupDocumentsFor(SIZE_MAX / 2, 8), kGroupDocuments);
  EXPECT_EQ(groupDocumentsFor(64 + 8 * 2 + 100, 2), 50u);
  EXPECT_EQ(groupDocumentsFor(12, 8), 1u);
}

}  // namespace
}  // namespace ordil
