// Every way the output file's protocol can fail keeps the old document and
// leaves no hidden file beside it.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/destination.h"
#include "platform/output_file.h"
#include "tests/faulty_file_ops.h"
#include "tests/test_support.h"

namespace ordil {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileOps;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using Step = FaultyFileOps::Step;

std::vector<std::string> namesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

OutputTarget targetIn(const TempDir& dir, const std::string& name, platform::FileOps* ops) {
  OutputTarget target;
  target.name = platform::nativeFileName(dir.file(name));
  target.ops = ops;
  return target;
}

TEST(OutputFile, EachFailingStepKeepsTheOldDocumentAndLeavesNothingBeside) {
  const struct {
    Step step;
    const char* message;
  } cases[] = {
      {Step::kNone, ""},
      {Step::kCreate, "cannot create: No space left on device"},
      {Step::kWrite, "write failed: No space left on device"},
      {Step::kFlush, "write failed: Input/output error"},
      {Step::kClose, "write failed: Input/output error"},
      {Step::kRename, "cannot replace: Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    writeFile(dir.file("1.xml"), "old");
    FaultyFileOps ops(c.step, 1);
    Destination destination(targetIn(dir, "1.xml", &ops));
    destination.write("new", 3);
    EXPECT_EQ(destination.commit().message(), c.message);
    EXPECT_EQ(readFile(dir.file("1.xml")), c.step == Step::kNone ? "new" : "old");
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"1.xml"});
  }
}

TEST(OutputFile, FailedGroupFlushIsTriedFileByFile) {
  const struct {
    int fileFlushFailing;  // which file's own flush fails, 0 for none
    bool groupFlushFails;
    std::vector<std::string> documents;  // of 1.xml, 2.xml, 3.xml afterwards
  } cases[] = {
      {0, false, {"new", "new", "new"}},
      {0, true, {"new", "new", "new"}},  // each flushed alone instead
      {2, true, {"new", "old", "new"}},  // only that one is lost
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileFlushFailing);
    TempDir dir;
    FaultyFileOps ops(c.groupFlushFails ? Step::kFlushFileSystem : Step::kNone, 1);
    ops.fail(Step::kFlushFile, c.fileFlushFailing);
    std::vector<std::unique_ptr<Destination>> documents;
    std::vector<platform::OutputFile*> files;
    for (const char* name : {"1.xml", "2.xml", "3.xml"}) {
      writeFile(dir.file(name), "old");
      documents.push_back(std::make_unique<Destination>(targetIn(dir, name, &ops)));
      documents.back()->write("new", 3);
      ASSERT_TRUE(documents.back()->finishWriting().ok());
      files.push_back(documents.back()->file());
    }
    std::vector<Status> results;
    platform::OutputFile::makeDurable(files, &results);
    for (size_t i = 0; i < 3; ++i) {
      const bool fails = static_cast<int>(i) + 1 == c.fileFlushFailing;
      EXPECT_EQ(results[i].message(), fails ? "write failed: Input/output error" : "");
      if (!fails) {
        EXPECT_TRUE(documents[i]->commitFinished().ok());
      }
    }
    documents.clear();  // a failed one's hidden file goes with it
    EXPECT_EQ(readFile(dir.file("1.xml")), c.documents[0]);
    EXPECT_EQ(readFile(dir.file("2.xml")), c.documents[1]);
    EXPECT_EQ(readFile(dir.file("3.xml")), c.documents[2]);
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"1.xml", "2.xml", "3.xml"}));
  }
}

}  // namespace
}  // namespace ordil
