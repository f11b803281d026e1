#include "xml/comment_xml_writer.h"

#include <charconv>
#include <cstring>

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

namespace {

constexpr std::string_view kChatStart = "<chat anonymity=\"1\" date=\"1\" no=\"";
constexpr std::string_view kUserId = "\" user_id=\"";
constexpr std::string_view kVpos = "\" vpos=\"";
constexpr std::string_view kMail = "\" mail=\"";
constexpr std::string_view kMailMark = "184";
constexpr std::string_view kContent = "\">";
constexpr std::string_view kChatEnd = "</chat>\r\n";
constexpr size_t kMaxDecimal = 10;  // digits of a 32-bit number

char* put(char* out, std::string_view s) {
  std::memcpy(out, s.data(), s.size());
  return out + s.size();
}

char* putDecimal(char* out, uint32_t value) {
  return std::to_chars(out, out + kMaxDecimal, value).ptr;
}

}  // namespace

void appendChat(uint32_t number, const CacheRecord& record, std::string* out) {
  // Room for the worst case, so the element is written with no further
  // checks; the string is cut back to what was written.
  const size_t bound = kChatStart.size() + kUserId.size() + kVpos.size() + kMail.size() +
                       kContent.size() + kChatEnd.size() + 2 * kMaxDecimal + 1 +
                       kMailMark.size() +
                       maxEscapedSize(record.userId.size() + record.mail.size() +
                                      record.text.size());
  const size_t old = out->size();
  out->resize(old + bound);
  char* p = out->data() + old;
  p = put(p, kChatStart);
  p = putDecimal(p, number);
  p = put(p, kUserId);
  p = escapeAttributeTo(record.userId, p);
  p = put(p, kVpos);
  p = putDecimal(p, record.position / 10);
  p = put(p, kMail);
  if (!record.mail.empty()) {
    p = escapeAttributeTo(record.mail, p);
    *p++ = ' ';
  }
  p = put(p, kMailMark);
  p = put(p, kContent);
  p = escapeTextTo(record.text, p);
  p = put(p, kChatEnd);
  out->resize(static_cast<size_t>(p - out->data()));
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
