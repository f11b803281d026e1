#include "xml/comment_xml_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace ordil {

namespace {

// A buffer's pages are made resident this far ahead of the output (so a
// short document takes few of them).
constexpr size_t kPrepareAhead = 128 << 10;

void appendDecimal(uint32_t value, std::string* out) {
  char digits[chat_format::kMaxDecimal];
  out->append(digits, putDecimal(digits, value));
}

}  // namespace

void appendDocumentHead(int32_t id, std::string* out) {
  const uint32_t unsignedId = static_cast<uint32_t>(id);
  out->append(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- VelmarinData=corvane");
  appendDecimal(unsignedId, out);
  out->append(
      " -->\r\n"
      "<packet>\r\n"
      "<thread last_res=\"0\" resultcode=\"0\" revision=\"1\" "
      "server_time=\"0\" thread=\"0\" ticket=\"0\"/>\r\n"
      "<view_counter id=\"corvane");
  appendDecimal(unsignedId, out);
  out->append("\" mylist=\"0\" video=\"0\"/>\r\n");
}

CommentXmlWriter::CommentXmlWriter(ByteSink* sink, platform::Buffer* buffer, size_t writeAt)
    : sink_(sink), buffer_(buffer), writeAt_(writeAt) {
  reserve(buffer_, writeAt_);
  buffer_->prepare(kPrepareAhead);
}

void CommentXmlWriter::writeHead(int32_t id) {
  std::string head;
  appendDocumentHead(id, &head);
  std::memcpy(room(head.size()), head.data(), head.size());
  used_ += head.size();
}

void CommentXmlWriter::writeFoot() {
  std::memcpy(room(kDocumentFoot.size()), kDocumentFoot.data(), kDocumentFoot.size());
  used_ += kDocumentFoot.size();
}

// Inlined into writeChats, which formats nearly every chat.
[[gnu::always_inline]] inline void CommentXmlWriter::formatChat(const CacheRecord& record) {
  Sink sink{this};
  writeChatTo(number_, record, &sink);
  number_.increment();
  ++chats_;
  if (used_ >= mark_) passMark();
}

void CommentXmlWriter::writeChat(const CacheRecord& record) { formatChat(record); }

// The loop nearly every chat goes through: the walker's decoding is
// inlined into it whatever else walks records.
[[gnu::flatten]] void CommentXmlWriter::writeChats(RecordWalker* walker) {
  CacheRecord record;
  while (walker->next(&record)) formatChat(record);
}

inline char* CommentXmlWriter::room(size_t n) {
  if (buffer_->capacity() - used_ < n) makeRoom(n);
  return buffer_->data() + used_;
}

void CommentXmlWriter::makeRoom(size_t n) {
  flush();
  // Only a record with fields longer than the format allows asks for more
  // than the buffer holds.
  buffer_->reserve(n);
}

void CommentXmlWriter::passMark() {
  if (used_ >= writeAt_) flush();
  buffer_->prepare(used_ + kPrepareAhead);
  mark_ = std::min(used_ + kPrepareAhead / 2, writeAt_);
}

void CommentXmlWriter::flush() {
  const size_t used = used_;
  used_ = 0;  // whatever the sink does, the bytes are handed over
  if (used > 0) sink_->write(buffer_->data(), used);
}

void CommentXmlWriter::numberFrom(uint32_t chatsBefore) {
  chats_ = chatsBefore;
  number_ = DecimalCounter(chatsBefore + 1);
  mark_ = 0;
}

namespace {

class XmlFormat final : public DocumentFormat {
 public:
  std::string_view nameWord() const override { return "xml"; }
  size_t writeAt() const override { return CommentXmlWriter::kWriteAt; }
  void reserve(platform::Buffer* buffer, size_t writeAt) const override {
    CommentXmlWriter::reserve(buffer, writeAt);
  }
  std::unique_ptr<DocumentWriter> makeWriter(ByteSink* sink, platform::Buffer* buffer,
                                             size_t writeAt) const override {
    return std::make_unique<CommentXmlWriter>(sink, buffer, writeAt);
  }
};

}  // namespace

const DocumentFormat& xmlFormat() {
  static const XmlFormat format;
  return format;
}

}  // namespace ordil
