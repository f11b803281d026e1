#include "driver/conversion.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/background.h"
#include "cache/record_reader.h"
#include "platform/folder.h"
#include "tests/memory_source.h"
#include "tests/test_support.h"
#include "tools/cache_builder.h"
#include "xml/comment_xml_writer.h"

namespace ordil {
namespace {

using testing::bytes;
using testing::MemorySource;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

OutputTarget targetFor(const TempDir& dir) {
  return {outputNameFor(dir.file("1.ashx")).value(), false};
}

// What a conversion gives: the document and how the walk ended.
struct Converted {
  std::string document;
  uint32_t chats = 0;
  std::string decodeFailure, readFailure, written;
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
// when share is nullptr, otherwise in parts.
Converted convert(const Input& input, size_t windowSize, WindowShare* share) {
  TempDir dir;
  MemorySource source(input.data, input.end, input.failure);
  platform::Buffer window, spare, helperOutput;
  Converted c;
  Background background;  // outlives the reader, which waits for its reads
  CommentXmlWriter writer(targetFor(dir), 1);
  RecordReader reader(&source, input.data.size(), &window, windowSize);
  if (share == nullptr) {
    CacheRecord record;
    while (reader.next(&record)) writer.writeChat(record);
  } else {
    reader.readAhead(&background, &spare, windowSize / 4);
    convertInParts(&reader, &writer, &background, &helperOutput, share);
  }
  c.decodeFailure = reader.decodeStatus().message();
  c.readFailure = reader.readStatus().message();
  c.chats = writer.chats();
  c.written = writer.finish().message();
  c.document = readFile(dir.file("1.xml"));
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
        WindowShare share(kept);
        EXPECT_TRUE(convert(input, windowSize, &share) == alone);
      }
      WindowShare adaptive;
      EXPECT_TRUE(convert(input, windowSize, &adaptive) == alone);
    }
  }
}

TEST(ConvertInParts, ShareFollowsTheThreadThatFinishedFirst) {
  WindowShare share;
  const int start = share.kept();
  share.update(true);
  EXPECT_EQ(share.kept(), start - 1);
  for (int i = 0; i < 100; ++i) share.update(false);
  EXPECT_EQ(share.kept(), 60);  // the second thread always keeps some
  for (int i = 0; i < 100; ++i) share.update(true);
  EXPECT_EQ(share.kept(), 4);
  EXPECT_EQ(share.bytesKept(6400), 400u);
  WindowShare fixed(70);
  fixed.update(true);
  EXPECT_EQ(fixed.kept(), 63);
}

// A helper whose part outgrows its buffer before the writer has handed
// over waits for its turn; a writer given up then must let it go, and the
// old document stays.
TEST(ConvertInParts, AbandonedWriterReleasesAHelperWaitingForItsTurn) {
  TempDir dir;
  writeFile(dir.file("1.xml"), "old");
  {
    platform::Buffer helperOutput;
    CommentXmlWriter writer(targetFor(dir), 1);
    CommentXmlWriter::Helper helper(&writer, &helperOutput);
    const std::string markup(100000, '<');  // 500 kB escaped
    std::thread helping([&] {
      helper.begin(0);
      for (int i = 0; i < 20; ++i) helper.writeChat({"", markup, 0, "u"});
      helper.end();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writer.abandon();
    helping.join();
  }
  EXPECT_EQ(readFile(dir.file("1.xml")), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
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
  c.output = {native(dir.path() / "share" / "a" / "1.xml"), false, platform::Placement::kBatch,
              &folder};
  const Outcome outcome = Converter().convert(c);
  EXPECT_TRUE(outcome.complete());
  EXPECT_EQ(readFile(dir.path() / "share" / "gone" / "1.xml"),
            testing::expectedHead("0") +
                "<chat anonymity=\"1\" date=\"1\" no=\"1\" user_id=\"u\" vpos=\"0\" "
                "mail=\"184\">x</chat>\r\n</packet>");
  EXPECT_TRUE(fs::is_empty(dir.path() / "victim"));

  // Opened again, the folder is now a link: refused.
  EXPECT_EQ(folder.open(native(dir.path() / "share"), {native("a")}).message(),
            "a is no longer a folder");
}

}  // namespace
}  // namespace ordil
