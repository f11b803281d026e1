#include "xml/comment_xml_writer.h"

#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "text/utf8.h"
#include "xml/xml_escape.h"

namespace ordil {
namespace {

using testing::bytes;
using testing::expectedHead;
using testing::StringSink;

// n replacement characters.
std::string fffd(int n) {
  std::string s;
  while (n-- > 0) s += "\xEF\xBF\xBD";
  return s;
}

std::string escapedText(std::string_view s) {
  std::string out;
  appendEscapedText(s, &out);
  return out;
}

std::string escapedAttribute(std::string_view s) {
  std::string out;
  appendEscapedAttribute(s, &out);
  return out;
}

// The escaper tests run once for each kernel this processor runs, which
// the escapers use for the test's length.
class XmlEscape : public ::testing::TestWithParam<const EscapeKernel*> {
 protected:
  void SetUp() override { before_ = useEscapeKernelForTesting(*GetParam()); }
  void TearDown() override { useEscapeKernelForTesting(before_); }

 private:
  EscapeKernel before_{};
};

INSTANTIATE_TEST_SUITE_P(EveryKernel, XmlEscape, ::testing::ValuesIn(availableEscapeKernels()),
                         [](const auto& kernel) { return std::string(kernel.param->name); });

TEST_P(XmlEscape, TextAndAttributeTables) {
  struct Case {
    std::string in, text, attribute;
  } cases[] = {
      {"hello", "hello", "hello"},
      {"a<b&c", "a&#60;b&#38;c", "a&#60;b&#38;c"},
      {"\"q\" it's >", "&#34;q&#34; it&#39;s &#62;", "&#34;q&#34; it&#39;s &#62;"},
      {"&#60;", "&#38;#60;", "&#38;#60;"},
      {"a\tb", "a\tb", "a&#9;b"},
      {"a\nb", "a\r\nb", "a&#10;b"},
      {"a\rb", "a&#13;b", "a&#13;b"},
      {"a\r\nb", "a&#13;\r\nb", "a&#13;&#10;b"},
      {"\x01\x08\x0B\x0C\x0E\x1F", fffd(6), fffd(6)},
      {"\xEF\xBF\xBE\xEF\xBF\xBF", fffd(2), fffd(2)},
      {"\xEF\xBF\xBD", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      {"\xE3\x81\x82\xF0\x9F\x98\x80", "\xE3\x81\x82\xF0\x9F\x98\x80", "\xE3\x81\x82\xF0\x9F\x98\x80"},
      {"\xFF" "a\xE3\x81", "\xEF\xBF\xBD" "a\xEF\xBF\xBD", "\xEF\xBF\xBD" "a\xEF\xBF\xBD"},
      {"\x7F", "\x7F", "\x7F"},
      {"\xEF\xB7\x90", "\xEF\xB7\x90", "\xEF\xB7\x90"},  // U+FDD0 is allowed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.in));
    EXPECT_EQ(escapedText(c.in), c.text);
    EXPECT_EQ(escapedAttribute(c.in), c.attribute);
  }
}

// The escaping written the long way: through UTF-16, one character at a
// time. The one-pass escaper must agree with it on every input.
std::string escapeThroughUtf16(std::string_view utf8, bool attribute) {
  const std::u16string wide = utf8ToUtf16(utf8);
  std::u16string escaped;
  for (const char16_t c : wide) {
    if (testing::isForbiddenInXml(c)) escaped += u'\uFFFD';
    else if (c == u'<') escaped += u"&#60;";
    else if (c == u'>') escaped += u"&#62;";
    else if (c == u'"') escaped += u"&#34;";
    else if (c == u'\'') escaped += u"&#39;";
    else if (c == u'&') escaped += u"&#38;";
    else if (c == u'\r') escaped += u"&#13;";
    else if (c == u'\n') escaped += attribute ? u"&#10;" : u"\r\n";
    else if (c == u'\t' && attribute) escaped += u"&#9;";
    else escaped += c;
  }
  return utf16ToUtf8(escaped);
}

TEST_P(XmlEscape, OnePassAgreesWithEscapingThroughUtf16) {
  std::mt19937 rng(42);
  const char interesting[] = "\t\n\r&<>\"'a\x01\x7F\x80\xBF\xC2\xE0\xED\xEF\xF0\xF4\xFF";
  const char plain[] = "abcXYZ019 .-_~";
  for (int i = 0; i < 30000; ++i) {
    // Dense and sparse mixes, so long plain runs (taken a word at a time)
    // meet markup, controls and UTF-8 at every alignment.
    const unsigned oneIn = 1u << (rng() % 6);
    std::string s(rng() % 70, ' ');
    for (char& c : s) {
      const auto pick = rng() % (oneIn * 2);
      c = pick == 0   ? interesting[rng() % (sizeof interesting - 1)]
          : pick == 1 ? static_cast<char>(1 + rng() % 255)
                      : plain[rng() % (sizeof plain - 1)];
    }
    ASSERT_EQ(escapedText(s), escapeThroughUtf16(s, false)) << ::testing::PrintToString(s);
    ASSERT_EQ(escapedAttribute(s), escapeThroughUtf16(s, true)) << ::testing::PrintToString(s);
  }
}

// Escapes with one of a kernel's entries into a heap block of exactly the
// room asked for, so that the sanitizer run sees any byte stored past it.
// The bytes after in, up to readable, may be loaded.
using Entry = char* (*)(std::string_view, const char*, char*);
std::string escapedBy(Entry entry, std::string_view in, const char* readable = nullptr) {
  const std::unique_ptr<char[]> block(new char[maxEscapedSize(in.size())]);
  return std::string(block.get(), entry(in, readable, block.get()));
}

TEST_P(XmlEscape, KernelGivesWhatThePortableOneGives) {
  const EscapeKernel& kernel = *GetParam();
  const EscapeKernel& portable = *availableEscapeKernels().front();
  if (&kernel == &portable) GTEST_SKIP() << "the portable kernel is the reference";
  // Pieces that each path treats on its own: plain ASCII, each kind of
  // character that needs work, the characters whose leads the vector paths
  // take as they are and the rare ones they judge apart (E0, ED, EF, F0, F4
  // and the bytes that cannot lead), two- and four-byte characters, and
  // ill-formed bytes.
  const std::string_view pieces[] = {
      "a", "Zz09", " ", "&", "<", ">", "\"", "'", "\t", "\n", "\r", "\x01", "\x7F",
      "\xE3\x81\x82", "\xE6\xBC\xA2", "\xEE\x80\x80", "\xE1\x80\x80", "\xEC\xBF\xBF",
      "\xE0\xA4\x85", "\xED\x95\x9C", "\xEF\xBC\x81", "\xEF\xBF\xBE", "\xED\xA0\x80",
      "\xE0\x80\xAF", "\xC3\xA9", "\xF0\x9F\x98\x80", "\x80", "\xFF", "\xE3\x81", "\xC3",
      // every lead whose second byte has a narrower range, at both ends of it
      "\xE0\xA0\x80", "\xE0\x9F\xBF", "\xED\x9F\xBF", "\xF0\x90\x80\x80", "\xF0\x8F\xBF\xBF",
      "\xF4\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD", "\xEF\xBF\xBF", "\xEF\xBE\xBF",
      "\xF3\xBF\xBF\xBF", "\xC0\x80", "\xC1\xBF", "\xC2\x80", "\xDF\xBF", "\xF5\x80\x80\x80",
      "\xF8", "\xF0\x9F\x98", "0123456789abcdef"};
  std::mt19937 rng(14);
  // Some inputs lean on one piece so that long runs of it meet the others at
  // every offset around the 16- and 32-byte widths.
  for (int i = 0; i < 20000; ++i) {
    const std::string_view common = pieces[rng() % std::size(pieces)];
    const size_t length = rng() % 120;
    std::string s;
    while (s.size() < length) s += rng() % 4 != 0 ? common : pieces[rng() % std::size(pieces)];
    for (size_t offset = 0; offset < 33 && offset <= s.size(); offset += 1 + rng() % 4) {
      const std::string_view in = std::string_view(s).substr(offset);
      // The same input as a field with other bytes after it, which the
      // vector paths may load but must not use.
      const std::string_view field = in.substr(0, rng() % (in.size() + 1));
      const char* const readable = s.data() + s.size();
      const struct {
        const char* name;
        Entry entry, reference;
      } entries[] = {{"text", kernel.text, portable.text},
                     {"attribute", kernel.attribute, portable.attribute},
                     {"text value", kernel.textValue, portable.textValue},
                     {"attribute value", kernel.attributeValue, portable.attributeValue}};
      for (const auto& e : entries) {
        ASSERT_EQ(escapedBy(e.entry, in), escapedBy(e.reference, in))
            << e.name << ": " << ::testing::PrintToString(std::string(in));
        ASSERT_EQ(escapedBy(e.entry, field, readable), escapedBy(e.reference, field))
            << e.name << ": " << ::testing::PrintToString(std::string(field)) << " followed by "
            << ::testing::PrintToString(std::string(in.substr(field.size())));
      }
    }
  }
}

TEST_P(XmlEscape, FieldValuesEndAtTheFirstNul) {
  // A record's fields are escaped up to their first NUL, which the scan
  // for work finds; what follows it, however ill-formed, is not looked at.
  const std::string_view pieces[] = {"a", "&", "\n", "\xE3\x81\x82", "\xF0\x9F\x98\x80",
                                     "\xE3\x81", "\xFF", std::string_view("\0", 1)};
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    std::string s;
    const size_t length = rng() % 60;
    while (s.size() < length) s += pieces[rng() % std::size(pieces)];
    // The field is followed by more of the same, which may be loaded.
    std::string data = s;
    while (data.size() < length + rng() % 40) data += pieces[rng() % std::size(pieces)];
    const std::string_view stored = std::string_view(data).substr(0, s.size());
    const char* const readable = data.data() + data.size();
    const std::string_view value = fieldValue(s);
    SCOPED_TRACE(::testing::PrintToString(data));
    std::string text(maxEscapedSize(s.size()), '\0');
    std::string attribute(maxEscapedSize(s.size()), '\0');
    ASSERT_EQ(std::string(text.data(), escapeTextValueTo(stored, readable, text.data())),
              escapeThroughUtf16(std::string(value), false));
    ASSERT_EQ(
        std::string(attribute.data(), escapeAttributeValueTo(stored, nullptr, attribute.data())),
        escapeThroughUtf16(std::string(value), true));
  }
}

TEST_P(XmlEscape, EmptyFieldsGiveNothing) {
  // Empty fields at either end of the readable bytes, and with none, write
  // nothing, whatever the bytes around them hold.
  const std::string data(64, '<');
  char out[maxEscapedSize(0)];
  for (const char* at : {data.data(), data.data() + 40, data.data() + data.size()}) {
    for (const char* readable : {static_cast<const char*>(nullptr), data.data() + data.size()}) {
      EXPECT_EQ(escapeTextValueTo(std::string_view(at, 0), readable, out), out);
      EXPECT_EQ(escapeAttributeValueTo(std::string_view(at, 0), readable, out), out);
    }
  }
}

TEST_P(XmlEscape, StaysWithinTheRoomItAsksFor) {
  // Escaped into heap blocks of exactly maxEscapedSize bytes, so that the
  // sanitizer run catches any word stored past the end.
  const std::string inputs[] = {"", "a", "ab", "&", "&&&&&&&&&&&&&&&&&", "\r\r\r",
                                "sixteen plain ch", "sixteen plain chars and more &",
                                "\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82\xE3",
                                "user-id-of-23-bytes-xyz", "abcdefgh", "abcdefghi", "&&&&&&&&&a",
                                "&&&&&&&&&ab",
                                "\xE3\x81\x82", "\xFF\xFF", "12345678\xE3\x81",
                                "thirty-two plain characters here", "thirty-one plain characters &<>",
                                std::string(31, '&'), std::string(33, '<'), std::string(1, '\n')};
  for (const std::string& in : inputs) {
    SCOPED_TRACE(::testing::PrintToString(in));
    const EscapeKernel& kernel = *GetParam();
    EXPECT_EQ(escapedBy(kernel.text, in), escapeThroughUtf16(in, false));
    EXPECT_EQ(escapedBy(kernel.attribute, in), escapeThroughUtf16(in, true));
    EXPECT_EQ(escapedBy(kernel.textValue, in), escapeThroughUtf16(in, false));
    EXPECT_EQ(escapedBy(kernel.attributeValue, in), escapeThroughUtf16(in, true));
  }
}

TEST(XmlDocument, HeadWritesIdUnsigned) {
  struct Case {
    int32_t id;
    const char* text;
  } cases[] = {{678, "678"}, {0, "0"}, {-1, "4294967295"},
               {INT32_MIN, "2147483648"}, {INT32_MAX, "2147483647"}};
  for (const Case& c : cases) {
    std::string head;
    appendDocumentHead(c.id, &head);
    EXPECT_EQ(head, expectedHead(c.text));
  }
}

TEST(XmlDocument, NumbersOfEveryLengthAreWrittenWhole) {
  std::vector<uint32_t> values = {0, 1, 4294967295u, 4294967290u};
  for (uint64_t power = 1; power <= 1000000000; power *= 10) {
    for (const uint64_t v : {power - 1, power, power + 1, 2 * power, 9 * power}) {
      if (v <= UINT32_MAX) values.push_back(static_cast<uint32_t>(v));
    }
  }
  for (const uint32_t v : values) {
    SCOPED_TRACE(v);
    std::string head;
    appendDocumentHead(static_cast<int32_t>(v), &head);
    EXPECT_EQ(head, expectedHead(std::to_string(v)));
    std::string chat;
    appendChat(v, {"", "x", v, "u"}, &chat);
    EXPECT_EQ(chat, "<chat anonymity=\"1\" date=\"1\" no=\"" + std::to_string(v) + "\" user_id=\"u\" vpos=\"" +
                        std::to_string(v / 10) + "\" mail=\"184\">x</chat>\r\n");
  }
}

TEST(XmlDocument, NumbersUpToTwoMillionAreWrittenExactly) {
  // Every number of up to six digits, and the first of seven, covers each
  // short path of the decimal writer whole.
  for (uint32_t n = 0; n <= 2'000'000; ++n) {
    ASSERT_EQ(DecimalCounter(n).text(), std::to_string(n));
  }
}

TEST(XmlDocument, ChatNumbersCountUpAcrossEveryNewDigit) {
  DecimalCounter counter;
  for (uint32_t n = 1; n <= 1'100'000; ++n) {
    ASSERT_EQ(counter.text(), std::to_string(n));
    counter.increment();
  }
}

TEST(XmlDocument, ChatElements) {
  struct Case {
    const char* name;
    uint32_t number;
    CacheRecord record;
    std::string chat;
  } cases[] = {
      {"typical", 1, {"", "hello", 995, "abc"},
       "<chat anonymity=\"1\" date=\"1\" no=\"1\" user_id=\"abc\" vpos=\"99\" mail=\"184\">hello</chat>\r\n"},
      {"mail gets 184", 2, {"abc", "x", 10, "u"},
       "<chat anonymity=\"1\" date=\"1\" no=\"2\" user_id=\"u\" vpos=\"1\" mail=\"abc 184\">x</chat>\r\n"},
      {"vpos rounds down", 4294967295u, {"shita red", "", 9, ""},
       "<chat anonymity=\"1\" date=\"1\" no=\"4294967295\" user_id=\"\" vpos=\"0\" mail=\"shita red 184\"></chat>\r\n"},
      {"largest position", 3, {"", "", 4294967295u, "i"},
       "<chat anonymity=\"1\" date=\"1\" no=\"3\" user_id=\"i\" vpos=\"429496729\" mail=\"184\"></chat>\r\n"},
      {"markup in id and mail", 5, {"a\"b", "<&>", 0, "<id>&\n"},
       "<chat anonymity=\"1\" date=\"1\" no=\"5\" user_id=\"&#60;id&#62;&#38;&#10;\" vpos=\"0\" "
       "mail=\"a&#34;b 184\">&#60;&#38;&#62;</chat>\r\n"},
      {"line feed in text", 6, {"", "one\ntwo", 0, "u"},
       "<chat anonymity=\"1\" date=\"1\" no=\"6\" user_id=\"u\" vpos=\"0\" mail=\"184\">one\r\ntwo</chat>\r\n"},
      {"ill-formed id", 7, {"\xFF", "t", 0, "\xC3"},
       "<chat anonymity=\"1\" date=\"1\" no=\"7\" user_id=\"\xEF\xBF\xBD\" vpos=\"0\" "
       "mail=\"\xEF\xBF\xBD 184\">t</chat>\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    appendChat(c.number, c.record, &out);
    EXPECT_EQ(out, c.chat);
  }
}

// The chat element built by hand from the one-pass escapers.
std::string expectedChat(uint32_t number, const CacheRecord& r) {
  return testing::chatElement(number, escapedAttribute(r.userId), r.position / 10,
                              (r.mail.empty() ? "" : escapedAttribute(r.mail) + " ") + "184",
                              escapedText(r.text));
}

TEST(XmlDocument, LongTextsAreEscapedAsAWhole) {
  // Long texts are escaped piece by piece; wherever a piece ends, inside a
  // character, an ill-formed sequence or markup, the result must be the
  // same as escaping the text in one go. Every offset of each sequence is
  // tried around the first few 64 KiB marks.
  const std::string sequences[] = {"\xE3\x81\x82", "\xF0\x9F\x98\x80", "\xE3\x81",
                                   "\xF0\x9F\x98", "\x80\x80\x80\x80", "\xC3\xA9", "&<\r\n"};
  for (const size_t mark : {size_t{1} << 16, size_t{2} << 16, size_t{3} << 16}) {
    for (const std::string& sequence : sequences) {
      for (size_t before = mark - 5; before <= mark + 1; ++before) {
        std::string text(before, 'x');
        text += sequence;
        text.append(100, 'z');
        SCOPED_TRACE(::testing::PrintToString(sequence) + " at " + std::to_string(before));
        const CacheRecord record{"", text, 10, "id"};
        std::string out;
        appendChat(1, record, &out);
        ASSERT_EQ(out, expectedChat(1, record));
      }
    }
  }
}

TEST(XmlDocument, LongTextEndsAtItsNulAcrossPieces) {
  std::string text(200000, 'x');
  text[70000] = '\0';
  std::string out;
  appendChat(1, {"", text, 0, "u"}, &out);
  EXPECT_EQ(out, expectedChat(1, {"", std::string_view(text).substr(0, 70000), 0, "u"}));
}

TEST(CommentXmlWriter, WritesHeadChatsAndFootAtTheFlush) {
  StringSink sink;
  platform::Buffer buffer;
  CommentXmlWriter writer(&sink, &buffer);
  writer.writeHead(678);
  writer.writeChat({"", "hello", 995, "abc"});
  writer.writeChat({"", "bye", 10, "abc"});
  writer.writeFoot();
  EXPECT_EQ(sink.bytes, "");  // all of it is held until the flush
  writer.flush();
  writer.flush();  // nothing more to hand over
  EXPECT_EQ(sink.blocks.size(), 1u);
  EXPECT_EQ(writer.chats(), 2u);
  EXPECT_EQ(sink.bytes, expectedHead("678") + testing::chatElement(1, "abc", 99, "184", "hello") +
                            testing::chatElement(2, "abc", 1, "184", "bye") + "</packet>");
}

TEST(CommentXmlWriter, HandsOverABlockOnceItHoldsWriteAtBytes) {
  StringSink sink;
  platform::Buffer buffer;
  constexpr size_t kWriteAt = 4096;
  CommentXmlWriter writer(&sink, &buffer, kWriteAt);
  std::string expected;
  for (uint32_t i = 1; i <= 3000; ++i) {
    const CacheRecord record{"", "some text", i, "u"};
    writer.writeChat(record);
    expected += expectedChat(i, record);
  }
  writer.flush();
  EXPECT_EQ(sink.bytes, expected);
  ASSERT_GT(sink.blocks.size(), 2u);
  for (size_t i = 0; i + 1 < sink.blocks.size(); ++i) EXPECT_GE(sink.blocks[i], kWriteAt);
}

TEST(CommentXmlWriter, NumbersFromWhereItIsTold) {
  // The second part of a window, formatted by another writer, goes on
  // from the chats of the first.
  StringSink sink;
  platform::Buffer buffer;
  CommentXmlWriter writer(&sink, &buffer);
  writer.numberFrom(99);
  writer.writeChat({"", "a", 0, "u"});
  writer.writeChat({"", "b", 0, "u"});
  writer.flush();
  EXPECT_EQ(writer.chats(), 101u);
  EXPECT_EQ(sink.bytes, expectedChat(100, {"", "a", 0, "u"}) + expectedChat(101, {"", "b", 0, "u"}));
}

TEST(CommentXmlWriter, ChatsLargerThanTheBufferAreWrittenWhole) {
  // A 5 MB comment of mixed Japanese, markup and line feeds between short
  // ones: far more than the writer holds at once.
  std::string huge;
  while (huge.size() < 5'000'000) huge += "\xE3\x81\x93\xE3\x82\x93 a<b&c\n\xF0\x9F\x98\x80 ";
  // Mail and user id longer than the format's 255 bytes cannot come from a
  // file, but must not overrun the buffer either.
  const std::string wideField(300'000, '&');  // 1.5 MB each, escaped
  const CacheRecord records[] = {{"", "before", 10, "a"},
                                 {"big", huge, 20, "b"},
                                 {wideField, "wide", 0, wideField},
                                 {"", "after", 30, "c"}};
  StringSink sink;
  platform::Buffer buffer;
  CommentXmlWriter writer(&sink, &buffer);
  writer.writeHead(9);
  for (const CacheRecord& r : records) writer.writeChat(r);
  writer.writeFoot();
  writer.flush();
  std::string expected = expectedHead("9");
  for (uint32_t i = 0; i < 4; ++i) expected += expectedChat(i + 1, records[i]);
  expected += "</packet>";
  EXPECT_TRUE(sink.bytes == expected);
}

}  // namespace
}  // namespace ordil
