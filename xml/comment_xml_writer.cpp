#include "xml/comment_xml_writer.h"

#include <charconv>

#include "xml/xml_escape.h"

namespace ordil {

namespace {

// Output is collected up to this size before it is handed to the file.
constexpr size_t kFlushThreshold = 1 << 20;

void appendDecimal(uint32_t value, std::string* out) {
  char digits[10];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, result.ptr);
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

void appendChat(uint32_t number, const CacheRecord& record, std::string* out) {
  out->append("<chat anonymity=\"1\" date=\"1\" no=\"");
  appendDecimal(number, out);
  out->append("\" user_id=\"");
  appendEscapedAttribute(record.userId, out);
  out->append("\" vpos=\"");
  appendDecimal(record.position / 10, out);
  out->append("\" mail=\"");
  if (record.mail.empty()) {
    out->append("184");
  } else {
    appendEscapedAttribute(record.mail, out);
    out->append(" 184");
  }
  out->append("\">");
  appendEscapedText(record.text, out);
  out->append("</chat>\r\n");
}

std::optional<platform::NativeFileName> outputNameFor(
    const std::string& inputPath) {
  platform::NativeFileName name = platform::nativeFileName(inputPath);
  if (!replaceFirstAshx(&name)) return std::nullopt;
  return name;
}

CommentXmlWriter::CommentXmlWriter(const std::string& inputPath, int32_t id) {
  const std::optional<platform::NativeFileName> name = outputNameFor(inputPath);
  if (!name) return;
  started_ = true;
  displayName_ = platform::displayFileName(*name);
  std::string reason;
  if (!file_.create(*name, &reason)) error_ = "cannot create: " + reason;
  buffer_.reserve(kFlushThreshold + 4096);
  appendDocumentHead(id, &buffer_);
}

CommentXmlWriter::~CommentXmlWriter() { finish(); }

void CommentXmlWriter::writeChat(const CacheRecord& record) {
  if (!started_ || finished_) return;
  appendChat(nextNumber_++, record, &buffer_);
  if (buffer_.size() >= kFlushThreshold) flush();
}

void CommentXmlWriter::flush() {
  if (error_.empty() && !buffer_.empty()) {
    std::string reason;
    if (!file_.write(buffer_.data(), buffer_.size(), &reason)) {
      error_ = "write failed: " + reason;
    }
  }
  buffer_.clear();  // after a failure later pieces are dropped
}

bool CommentXmlWriter::finish() {
  if (started_ && !finished_) {
    finished_ = true;
    buffer_.append(kDocumentFoot);
    flush();
    std::string reason;
    if (file_.isOpen() && !file_.close(&reason) && error_.empty()) {
      error_ = "write failed: " + reason;
    }
  }
  return error_.empty();
}

}  // namespace ordil
