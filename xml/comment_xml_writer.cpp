#include "xml/comment_xml_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <system_error>
#include <utility>

#include "xml/xml_escape.h"

namespace ordil {

namespace {

// Output is collected up to this size before it is handed to the file.
constexpr size_t kFlushThreshold = 1 << 20;

// A buffer's pages are made resident this far ahead of the output (so a
// short document takes few of them).
constexpr size_t kPrepareAhead = 128 << 10;

// "00" to "99", for writing two digits at a time.
constexpr char kDigitPairs[] =
    "0001020304050607080910111213141516171819"
    "2021222324252627282930313233343536373839"
    "4041424344454647484950515253545556575859"
    "6061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint32_t kPowersOf10[] = {1,      10,      100,      1000,      10000,
                                    100000, 1000000, 10000000, 100000000, 1000000000};

// The number of decimal digits of value: from its bit length (a bit is
// log10(2), about 1233/4096, of a digit), corrected by one comparison.
unsigned decimalLength(uint32_t value) {
  const unsigned bits = 32 - static_cast<unsigned>(std::countl_zero(value | 1));
  const unsigned t = (bits * 1233) >> 12;  // at most 9
  return t + 1 - (value < kPowersOf10[t]) + (value == 0);
}

inline void putPair(char* out, uint32_t pair) { std::memcpy(out, kDigitPairs + 2 * pair, 2); }

// Writes value in decimal, straight into place: two digits at a time from
// the end.
[[gnu::noinline]] char* putLongDecimal(char* out, uint32_t value) {
  char* const end = out + decimalLength(value);
  char* p = end;
  while (value >= 100) {
    const uint32_t pair = value % 100;
    value /= 100;
    p -= 2;
    putPair(p, pair);
  }
  if (value >= 10) {
    putPair(p - 2, value);
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
  return end;
}

// Writes value in decimal. Numbers of up to five digits (every vpos of a
// video shorter than 28 hours, and the first 99,999 chat numbers) take a
// straight path.
[[gnu::always_inline]] inline char* putDecimal(char* out, uint32_t value) {
  if (value >= 100000) return putLongDecimal(out, value);
  if (value < 100) {
    if (value < 10) {
      *out = static_cast<char>('0' + value);
      return out + 1;
    }
    putPair(out, value);
    return out + 2;
  }
  if (value < 10000) {
    if (value < 1000) {
      *out = static_cast<char>('0' + value / 100);
      putPair(out + 1, value % 100);
      return out + 3;
    }
    putPair(out, value / 100);
    putPair(out + 2, value % 100);
    return out + 4;
  }
  *out = static_cast<char>('0' + value / 10000);
  value %= 10000;
  putPair(out + 1, value / 100);
  putPair(out + 3, value % 100);
  return out + 5;
}

void appendDecimal(uint32_t value, std::string* out) {
  char digits[10];
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

namespace {

constexpr std::string_view kChatStart = "<chat anonymity=\"1\" date=\"1\" no=\"";
constexpr std::string_view kUserId = "\" user_id=\"";
constexpr std::string_view kVpos = "\" vpos=\"";
constexpr std::string_view kMail = "\" mail=\"";
constexpr std::string_view kMailMark = "184";
constexpr std::string_view kContent = "\">";
constexpr std::string_view kChatEnd = "</chat>\r\n";
constexpr size_t kMaxDecimal = 10;  // digits of a 32-bit number

// Texts longer than this are escaped piece by piece, so the room asked for
// stays small however long a comment is.
constexpr size_t kTextPiece = 64 * 1024;

// Room for everything of a chat element but its text.
constexpr size_t kChatFrameRoom = kChatStart.size() + kUserId.size() + kVpos.size() +
                                  kMail.size() + 1 + kMailMark.size() + kContent.size() +
                                  kChatEnd.size() + DecimalCounter::kRoom + kMaxDecimal;

// The most room one request of writeChatTo asks for.
constexpr size_t kMaxChatRequest = kChatFrameRoom + 2 * maxEscapedSize(255) +
                                   maxEscapedSize(kTextPiece);

char* put(char* out, std::string_view s) {
  std::memcpy(out, s.data(), s.size());
  return out + s.size();
}

// Where to end a piece of text that should hold at most max bytes: a place
// no UTF-8 sequence runs across (the byte there is not a continuation byte,
// or the three before it all are), so that escaping the pieces one after
// the other gives what escaping the whole would. Takes a step back of at
// most three bytes; text.size() must exceed max, and max must exceed 3.
size_t pieceEnd(std::string_view text, size_t max) {
  const auto isContinuation = [&](size_t i) {
    return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  for (size_t end = max; end > max - 4; --end) {
    if (!isContinuation(end)) return end;
  }
  return max;
}

// Writes one chat element through a sink, which hands out room with
// char* room(n) (at least n bytes) and takes back what was written with
// done(end). Requests stay within kMaxChatRequest.
template <typename Sink>
void writeChatTo(const DecimalCounter& number, const CacheRecord& record, Sink* sink) {
  std::string_view text = record.text;
  const bool whole = text.size() <= kTextPiece;
  // A long text is cut at its NUL first, so that its pieces end there.
  if (!whole) text = fieldValue(text);
  char* p = sink->room(kChatFrameRoom + maxEscapedSize(record.userId.size()) +
                       maxEscapedSize(record.mail.size()) +
                       (whole ? maxEscapedSize(text.size()) : 0));
  p = put(p, kChatStart);
  std::memcpy(p, number.data(), DecimalCounter::kRoom);  // whole, for a copy of fixed size
  p += number.size();
  p = put(p, kUserId);
  p = escapeAttributeValueTo(record.userId, record.dataEnd, p);
  p = put(p, kVpos);
  p = putDecimal(p, record.position / 10);
  p = put(p, kMail);
  if (!record.mail.empty() && record.mail[0] != '\0') {
    p = escapeAttributeValueTo(record.mail, record.dataEnd, p);
    *p++ = ' ';
  }
  p = put(p, kMailMark);
  p = put(p, kContent);
  if (!whole) {
    while (text.size() > kTextPiece) {
      const size_t end = pieceEnd(text, kTextPiece);
      sink->done(p);
      p = escapeTextValueTo(text.substr(0, end), record.dataEnd,
                            sink->room(maxEscapedSize(end)));
      text.remove_prefix(end);
    }
    sink->done(p);
    p = sink->room(maxEscapedSize(text.size()) + kChatEnd.size());
  }
  p = escapeTextValueTo(text, record.dataEnd, p);
  p = put(p, kChatEnd);
  sink->done(p);
}

// A sink over a string: room grows it, done cuts it back.
class StringSink {
 public:
  explicit StringSink(std::string* out) : out_(out) {}
  char* room(size_t n) {
    const size_t old = out_->size();
    out_->resize(old + n);
    return out_->data() + old;
  }
  void done(const char* end) { out_->resize(static_cast<size_t>(end - out_->data())); }

 private:
  std::string* out_;
};

}  // namespace

void appendChat(uint32_t number, const CacheRecord& record, std::string* out) {
  StringSink sink(out);
  writeChatTo(DecimalCounter(number), record, &sink);
}

DecimalCounter::DecimalCounter(uint32_t value)
    : length_(static_cast<size_t>(putDecimal(digits_, value) - digits_)) {}

void DecimalCounter::increment() {
  // Nine times in ten the last digit takes no carry.
  if (digits_[length_ - 1] != '9') {
    ++digits_[length_ - 1];
    return;
  }
  // Carry from the last digit; a run of nines grows the number by a digit.
  size_t i = length_;
  while (i > 0 && digits_[i - 1] == '9') digits_[--i] = '0';
  if (i > 0) {
    ++digits_[i - 1];
  } else {
    std::memmove(digits_ + 1, digits_, length_);
    digits_[0] = '1';
    ++length_;
  }
}

std::optional<platform::NativeFileName> outputNameFor(
    const std::string& inputPath) {
  platform::NativeFileName name = platform::nativeFileName(inputPath);
  if (!replaceFirstAshx(&name)) return std::nullopt;
  return name;
}

// The writer's buffer: output is collected up to kFlushThreshold before it
// is handed to the file, with room above it for the largest request.
constexpr size_t kBufferSize = kFlushThreshold + kMaxChatRequest;

CommentXmlWriter::CommentXmlWriter(const OutputTarget& target, int32_t id, Buffer* buffer)
    : primary_(buffer != nullptr ? buffer : &ownBuffer_), buffer_(primary_) {
  if (target.standardOutput) {
    file_.useStandardOutput();
  } else {
    status_ = file_.create(target.name);
  }
  buffer_->reserve(kBufferSize);
  buffer_->prepare(kPrepareAhead);
  std::string head;
  appendDocumentHead(id, &head);
  std::memcpy(buffer_->data(), head.data(), head.size());
  used_ = head.size();
}

// The thread, if one runs, is stopped before the file discards what is not
// finished.
CommentXmlWriter::~CommentXmlWriter() { stopWriting(); }

void CommentXmlWriter::shareBackground(Background* background) {
  if (background_ == nullptr) shared_ = background;
}

void CommentXmlWriter::stopWriting() {
  if (background_ != nullptr) background_->wait(writing_);
  background_ = nullptr;
  ownBackground_.reset();
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

void CommentXmlWriter::done(const char* end) {
  used_ = static_cast<size_t>(end - buffer_->data());
}

void CommentXmlWriter::writeChat(const CacheRecord& record) {
  if (finished_) return;
  struct BufferSink {
    CommentXmlWriter* writer;
    char* room(size_t n) { return writer->room(n); }
    void done(const char* end) { writer->done(end); }
  } sink{this};
  writeChatTo(number_, record, &sink);
  number_.increment();
  ++chats_;
  if (used_ >= mark_) passMark();
}

void CommentXmlWriter::passMark() {
  if (used_ >= kFlushThreshold) flush();
  buffer_->prepare(used_ + kPrepareAhead);
  mark_ = std::min(used_ + kPrepareAhead / 2, kFlushThreshold);
}

void CommentXmlWriter::flush(bool last) {
  if (background_ != nullptr) {
    background_->wait(writing_);
    if (status_.ok()) status_ = std::move(written_);
  } else if (!last && status_.ok() && ++flushes_ > 1) {
    // The document outgrows two buffers: from now on blocks are written
    // while the next is filled (for less, starting a thread costs more than
    // it spares). Without a thread, they are written here.
    try {
      spare_.reserve(buffer_->capacity());
      spare_.prepare(spare_.capacity());
      if (shared_ == nullptr) ownBackground_ = std::make_unique<Background>();
      background_ = shared_ != nullptr ? shared_ : ownBackground_.get();
    } catch (const std::system_error&) {
    }
  }
  if (status_.ok() && used_ > 0) {
    if (background_ != nullptr && !last) {
      writing_ = background_->start([this, data = buffer_->data(), size = used_] {
        written_ = file_.write(data, size);
      });
      buffer_ = buffer_ == primary_ ? &spare_ : primary_;
    } else {
      status_ = file_.write(buffer_->data(), used_);
    }
  }
  used_ = 0;  // after a failure later pieces are dropped
}

const Status& CommentXmlWriter::finish() {
  if (!finished_) {
    finished_ = true;
    std::memcpy(room(kDocumentFoot.size()), kDocumentFoot.data(), kDocumentFoot.size());
    used_ += kDocumentFoot.size();
    flush(true);
    stopWriting();
    if (!status_.ok()) {
      file_.discard();
    } else {
      status_ = file_.commit();
    }
  }
  return status_;
}

}  // namespace ordil
