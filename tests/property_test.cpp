// Properties over many generated inputs, checked through a real XML parser:
// every input ends in a defined outcome, and no decodable comment is lost.
#include <random>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "driver/run_driver.h"
#include "tests/test_support.h"
#include "tests/xml_reader.h"
#include "tools/cache_builder.h"

namespace ordil {
namespace {

using testing::ParsedDocument;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using testing::xmlReading;

struct Conversion {
  int status;
  int messages = 0;
  std::string err;
  std::string document;
};

// Converts bytes as the file name.ashx in dir, in this process.
Conversion convert(const TempDir& dir, const std::string& bytes) {
  writeFile(dir.file("p.ashx"), bytes);
  Conversion c;
  std::ostringstream out, err;
  const RunContext context{&out, &err,
                           [&c](std::string_view, std::string_view) { ++c.messages; }};
  const std::string path = dir.file("p.ashx");
  const char* argv[] = {"ordil", path.c_str(), "7"};
  c.status = runDriver(3, argv, context);
  c.err = err.str();
  c.document = readFile(dir.file("p.xml"));
  return c;
}

std::string cut(const std::string& field) { return field.substr(0, field.find('\0')); }

// Checks that the document holds exactly the first n records, in order.
void expectChats(const ParsedDocument& doc, const std::vector<tools::Comment>& records, size_t n) {
  ASSERT_EQ(doc.chats.size(), n);
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE("chat " + std::to_string(i + 1));
    const tools::Comment& r = records[i];
    const auto& a = doc.chats[i].attributes;
    EXPECT_EQ(a.at("no"), std::to_string(i + 1));
    EXPECT_EQ(a.at("user_id"), xmlReading(cut(r.userId)));
    EXPECT_EQ(a.at("vpos"), std::to_string(r.position / 10));
    EXPECT_EQ(a.at("mail"), cut(r.mail).empty() ? "184" : xmlReading(cut(r.mail)) + " 184");
    EXPECT_EQ(doc.chats[i].text, xmlReading(cut(r.text)));
  }
}

TEST(Property, EveryPrefixKeepsTheRecordsThatFitWhole) {
  const std::vector<tools::Comment> records = {
      {"", "hello", 995, "abc"},
      {"shita red", std::string(300, 'L'), 20, "user-2"},
      {"", "", 0, ""},
      {"ue", "\tline\nfeed & <markup>", 123456, "\xFF"},
      {"big", "こんにちは", 7, "id"},
  };
  std::string file(tools::kGeneratedHeader);
  std::vector<size_t> ends;  // where each record ends
  for (const tools::Comment& r : records) {
    tools::appendRecord(r.record(), &file);
    ends.push_back(file.size());
  }
  TempDir dir;
  for (size_t n = 0; n <= file.size(); ++n) {
    SCOPED_TRACE("cut at " + std::to_string(n));
    const Conversion c = convert(dir, file.substr(0, n));
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= n) ++whole;
    const bool atBoundary = n <= tools::kGeneratedHeader.size() ||
                            (whole > 0 && ends[whole - 1] == n);
    EXPECT_EQ(c.status, atBoundary ? 0 : 1);
    EXPECT_EQ(c.messages, atBoundary ? 0 : 1);
    EXPECT_EQ(c.err.empty(), atBoundary);
    ParsedDocument doc;
    std::string error;
    ASSERT_TRUE(testing::parseDocument(c.document, &doc, &error)) << error;
    expectChats(doc, records, whole);
    EXPECT_EQ(c.document.substr(c.document.size() - 9), "</packet>");
  }
}

TEST(Property, RandomValidFilesReadBackThroughAnXmlParser) {
  TempDir dir;
  for (const tools::RandomMix mix : {tools::RandomMix::kRealistic, tools::RandomMix::kAnyBytes}) {
    for (uint64_t seed = 1; seed <= 20; ++seed) {
      SCOPED_TRACE("seed " + std::to_string(seed));
      const std::vector<tools::Comment> records = tools::randomRecords(seed, 200, mix);
      const Conversion c = convert(dir, tools::buildCacheFile(records));
      EXPECT_EQ(c.status, 0) << c.err;
      ParsedDocument doc;
      std::string error;
      ASSERT_TRUE(testing::parseDocument(c.document, &doc, &error)) << error;
      EXPECT_EQ(doc.viewCounterId, "corvane7");
      ASSERT_GE(doc.elements.size(), 2u);
      EXPECT_EQ(doc.elements[0], "thread");
      EXPECT_EQ(doc.elements[1], "view_counter");
      expectChats(doc, records, records.size());
    }
  }
}

TEST(Property, RandomBytesAlwaysGiveAWellFormedDocument) {
  TempDir dir;
  std::mt19937_64 rng(99);
  for (int i = 0; i < 300; ++i) {
    std::string bytes(rng() % 2000, '\0');
    for (char& b : bytes) {
      // Small values make short, plausible lengths; the rest anything.
      b = static_cast<char>(rng() % 3 == 0 ? rng() % 16 : rng() % 256);
    }
    SCOPED_TRACE(i);
    const Conversion c = convert(dir, bytes);
    EXPECT_TRUE(c.status == 0 || c.status == 1) << c.status;
    EXPECT_EQ(c.messages, c.status);  // the message exactly when incomplete
    ParsedDocument doc;
    std::string error;
    ASSERT_TRUE(testing::parseDocument(c.document, &doc, &error)) << error;
    EXPECT_EQ(c.document.substr(c.document.size() - 9), "</packet>");
  }
}

}  // namespace
}  // namespace ordil
