#include "driver/conversion.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cache/record_reader.h"
#include "platform/folder.h"
#include "driver/destination.h"
#include "driver/pipeline.h"
#include "tests/memory_source.h"
#include "tests/test_support.h"
#include "tools/cache_builder.h"
#include "xml/comment_xml_writer.h"

namespace ordil {
namespace {

using testing::bytes;
using testing::MemorySource;
using testing::readFile;
using testing::StringSink;
using testing::TempDir;
using testing::writeFile;

namespace fs = std::filesystem;

OutputTarget targetFor(const TempDir& dir) { return {outputNameFor(dir.file("1.ashx")).value()}; }

size_t filesIn(const TempDir& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.path()),
                                           std::filesystem::directory_iterator()));
}

// What a conversion gives: the document and how the walk ended.
struct Converted {
  std::string document;
  uint32_t chats = 0;
  std::string decodeFailure, readFailure;
  bool operator==(const Converted&) const = default;
};

// A file to convert: its bytes, where the source stops giving them, and
// how it fails there.
struct Input {
  Input(const char* n, std::string d, size_t e = std::string::npos, Status f = Status())
      : name(n), data(std::move(d)), end(e), failure(std::move(f)) {}
  const char* name;
  std::string data;
  size_t end;
  Status failure;
};

// Converts the input read in windows of windowSize: on this thread alone
// when share is nullptr, otherwise in parts on two.
Converted convert(const Input& input, size_t windowSize, WindowShare* share) {
  MemorySource source(input.data, input.end, input.failure);
  platform::Buffer window, spare;
  PipelineBuffers buffers;
  StringSink destination;
  Converted c;
  RecordReader reader(&source, input.data.size(), &window, windowSize);
  if (share == nullptr) {
    CommentXmlWriter writer(&destination, &buffers.output);
    writer.writeHead(1);
    CacheRecord record;
    while (reader.next(&record)) writer.writeChat(record);
    writer.writeFoot();
    writer.flush();
    c.chats = writer.chats();
  } else {
    Background background;
    reader.readAhead(&spare, windowSize / 4);
    c.chats = convertInParts(&reader, 1, &destination, &background, &buffers, share, xmlFormat());
  }
  c.decodeFailure = reader.decodeStatus().message();
  c.readFailure = reader.readStatus().message();
  c.document = destination.bytes;
  return c;
}

std::string records(uint64_t seed, size_t count, tools::RandomMix mix) {
  const std::string file = tools::buildCacheFile(tools::randomRecords(seed, count, mix));
  return file.substr(tools::kGeneratedHeader.size());
}

std::string recordOf(const std::string& mail, const std::string& text, const std::string& userId) {
  std::string out;
  tools::appendRecord({mail, text, 123, userId}, &out);
  return out;
}

TEST(ConvertInParts, GivesTheDocumentOfOneThreadWhateverTheSplit) {
  const std::string header(tools::kGeneratedHeader);
  const std::string realistic = records(1, 300, tools::RandomMix::kRealistic);
  const std::string more = records(2, 100, tools::RandomMix::kRealistic);
  const Input inputs[] = {
      {"realistic", header + realistic},
      {"stress", header + records(3, 120, tools::RandomMix::kStress)},
      {"any bytes", header + records(4, 200, tools::RandomMix::kAnyBytes)},
      {"malformed length after a window or so",
       header + realistic + bytes("\x00\x80\x80\x80\x80\x80\x01") + more},
      {"last record cut", header + realistic + more.substr(0, 40)},
      // Longer than a window: the one with markup overflows the second
      // thread's buffer, which then writes in its turn before its part ends.
      {"long records", header + more + recordOf("big", std::string(20000, 'x'), "a") +
                           realistic + recordOf("", std::string(600000, '&'), "b") + more},
      {"file shrank", header + realistic + more, header.size() + realistic.size() + 10},
      {"read error", header + realistic + more, header.size() + realistic.size() / 2,
       Status::io("Input/output error")},
  };
  for (const Input& input : inputs) {
    for (const size_t windowSize : {size_t{300}, size_t{4096}}) {
      SCOPED_TRACE(std::string(input.name) + ", windows of " + std::to_string(windowSize));
      const Converted alone = convert(input, windowSize, nullptr);
      ASSERT_GT(alone.chats, 0u);
      for (const int kept : {1, 9, 32, 50, 63}) {
        SCOPED_TRACE("keeping " + std::to_string(kept) + "/64");
        WindowShare share = WindowShare::fixedForTesting(kept);
        EXPECT_TRUE(convert(input, windowSize, &share) == alone);
      }
      WindowShare adaptive;
      EXPECT_TRUE(convert(input, windowSize, &adaptive) == alone);
    }
  }
}

// A destination that fails on the writer's thread while the helper's part
// has outgrown its buffer and waits for its turn: the run must let the
// helper go, end every job, and throw.
TEST(ConvertInParts, FailureOnThisThreadReleasesAHelperWaitingForItsTurn) {
  struct ThrowingSink : ByteSink {
    void write(const char*, size_t) override { throw std::bad_alloc(); }
  } destination;
  std::string file(tools::kGeneratedHeader);
  for (int i = 0; i < 40; ++i) tools::appendRecord({"", std::string(100000, '<'), 0, "u"}, &file);
  MemorySource source(file);
  platform::Buffer window, spare;
  PipelineBuffers buffers;
  RecordReader reader(&source, file.size(), &window, file.size());
  WindowShare share = WindowShare::fixedForTesting(1);  // the helper takes nearly all
  Background background;
  EXPECT_THROW(convertInParts(&reader, 1, &destination, &background, &buffers, &share, xmlFormat()),
               std::bad_alloc);
}

TEST(Destination, NameReplacesTheFirstAshx) {
  struct Case {
    std::string in;
    bool found;
    std::string out;
  } cases[] = {
      {"678.ashx", true, "678.xml"},
      {"/data/cache/678.ashx", true, "/data/cache/678.xml"},
      {"ashx/1.ashx", true, "xml/1.ashx"},
      {"a.ashxashx", true, "a.xmlashx"},
      {"678.ASHX", false, "678.ASHX"},
      {"ash.x", false, "ash.x"},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    std::string narrow = c.in;
    EXPECT_EQ(replaceFirstAshx(&narrow, "xml"), c.found) << c.in;
    EXPECT_EQ(narrow, c.out);
    std::u16string wide(c.in.begin(), c.in.end());
    EXPECT_EQ(replaceFirstAshx(&wide, "xml"), c.found) << c.in;
    EXPECT_EQ(wide, std::u16string(c.out.begin(), c.out.end()));
  }
}

TEST(Destination, DocumentAppearsOnlyWhenCommitted) {
  TempDir dir;
  writeFile(dir.file("1.xml"), "old");
  Destination destination(targetFor(dir));
  destination.write("new", 3);
  EXPECT_EQ(readFile(dir.file("1.xml")), "old");
  EXPECT_EQ(filesIn(dir), 2u);  // the old document and the one being written
  ASSERT_TRUE(destination.commit().ok()) << destination.status().message();
  EXPECT_EQ(readFile(dir.file("1.xml")), "new");
  EXPECT_EQ(filesIn(dir), 1u);
}

TEST(Destination, HiddenFileIsPrivateUntilItTakesTheCachesPermissions) {
  if (platform::kWideFileNames) GTEST_SKIP() << "no permission bits here";
  TempDir dir;
  platform::FileFacts cache;
  cache.mode = 0640;
  DestinationOptions options;
  options.cache = &cache;
  Destination destination(targetFor(dir), options);
  destination.write("new", 3);
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.status().permissions(), fs::perms::owner_read | fs::perms::owner_write);
  }
  ASSERT_TRUE(destination.commit().ok()) << destination.status().message();
  EXPECT_EQ(fs::status(dir.file("1.xml")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(Destination, DestructionWithoutCommitKeepsTheOldDocument) {
  TempDir dir;
  writeFile(dir.file("1.xml"), "old");
  {
    Destination destination(targetFor(dir));
    destination.write("new", 3);
  }
  EXPECT_EQ(readFile(dir.file("1.xml")), "old");
  EXPECT_EQ(filesIn(dir), 1u);
}

TEST(Destination, FailureIsKeptNotThrown) {
  TempDir dir;
  Destination destination({outputNameFor(dir.file("ashx/1.ashx")).value()});  // no folder xml/
  destination.write("x", 1);
  EXPECT_EQ(destination.status().message(), "cannot create: No such file or directory");
  EXPECT_EQ(destination.commit().kind(), Status::Kind::kIo);
}

TEST(Converter, ConversionToNothingDecodesAndCreatesNothing) {
  TempDir dir;
  writeFile(dir.file("1.ashx"), tools::buildCacheFile({{"", "x", 0, "u"}}) + "\x01");
  Conversion c;
  c.inputPath = dir.file("1.ashx");
  c.output.kind = OutputTarget::Kind::kNothing;
  const Outcome outcome = Converter().convert(c);
  EXPECT_TRUE(outcome.undecodable);
  EXPECT_EQ(outcome.comments, 1u);
  EXPECT_EQ(filesIn(dir), 1u);
}

TEST(Converter, ConvertsInTheFolderItOpenedWhateverIsPlantedOnItsPath) {
  // The batch opens a file's folder from the folder named to it, then
  // converts; another user may meanwhile move the folder away and plant a
  // link to the victim's folder in its place.
  TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directories(dir.path() / "share" / "a");
  fs::create_directory(dir.path() / "victim");
  writeFile(dir.path() / "share" / "a" / "1.ashx", tools::buildCacheFile({{"", "x", 0, "u"}}));
  const auto native = [](const fs::path& p) { return platform::nativeFileName(p.string()); };
  platform::Folder folder;
  ASSERT_TRUE(folder.open(native(dir.path() / "share"), {native("a")}).ok());

  std::error_code moved;
  fs::rename(dir.path() / "share" / "a", dir.path() / "share" / "gone", moved);
  if (moved) {
    // Windows holds the folder open: it cannot be moved at all.
    EXPECT_TRUE(platform::kWideFileNames) << moved.message();
    return;
  }
  fs::create_directory_symlink(dir.path() / "victim", dir.path() / "share" / "a");
  Conversion c;
  c.inputPath = (dir.path() / "share" / "a" / "1.ashx").string();
  c.inputName = native(dir.path() / "share" / "a" / "1.ashx");
  c.folder = &folder;
  c.output = {native(dir.path() / "share" / "a" / "1.xml"), OutputTarget::Kind::kFile,
              platform::Placement::kBatch, &folder};
  const Outcome outcome = Converter().convert(c);
  EXPECT_TRUE(outcome.complete());
  EXPECT_EQ(readFile(dir.path() / "share" / "gone" / "1.xml"),
            testing::expectedHead("0") + testing::chatElement(1, "u", 0, "184", "x") + "</packet>");
  EXPECT_TRUE(fs::is_empty(dir.path() / "victim"));

  // Opened again, the folder is now a link: refused.
  EXPECT_EQ(folder.open(native(dir.path() / "share"), {native("a")}).message(),
            "a is no longer a folder");
}

}  // namespace
}  // namespace ordil
