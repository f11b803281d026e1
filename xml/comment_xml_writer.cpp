#include "xml/comment_xml_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
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

// A helper's buffer holds twice as much before it is written out, so that
// its part of a stretch seldom has to wait for its turn to be written.
constexpr size_t kHelperWriteAt = 2 * kFlushThreshold;
constexpr size_t kHelperBufferSize = kHelperWriteAt + kMaxChatRequest;

CommentXmlWriter::CommentXmlWriter(const OutputTarget& target, int32_t id, platform::Buffer* buffer)
    : own_(buffer != nullptr ? buffer : &ownBuffer_, kFlushThreshold, Turn::kWriter) {
  if (target.standardOutput) {
    file_.useStandardOutput();
  } else {
    status_ = file_.create(target.name, target.placement, target.folder);
  }
  own_.buffer->reserve(kBufferSize);
  own_.buffer->prepare(kPrepareAhead);
  std::string head;
  appendDocumentHead(id, &head);
  std::memcpy(own_.buffer->data(), head.data(), head.size());
  own_.used = head.size();
}

// Without finish() the file discards what was written.
CommentXmlWriter::~CommentXmlWriter() = default;

void CommentXmlWriter::writeChat(const CacheRecord& record) {
  if (finished_) return;
  writeChatInto(&own_, record);
}

void CommentXmlWriter::writeChats(RecordWalker* walker) {
  if (finished_) return;
  writeChatsInto(&own_, walker);
}

void CommentXmlWriter::writeChatsInto(Lane* lane, RecordWalker* walker) {
  CacheRecord record;
  while (walker->next(&record)) writeChatInto(lane, record);
}

// Inlined into the loop above, which formats nearly every chat.
[[gnu::always_inline]] inline void CommentXmlWriter::writeChatInto(Lane* lane,
                                                                   const CacheRecord& record) {
  struct LaneSink {
    CommentXmlWriter* writer;
    Lane* lane;
    char* room(size_t n) { return writer->room(lane, n); }
    void done(const char* end) { CommentXmlWriter::done(lane, end); }
  } sink{this, lane};
  writeChatTo(lane->number, record, &sink);
  lane->number.increment();
  ++lane->chats;
  if (lane->used >= lane->mark) passMark(lane);
}

inline char* CommentXmlWriter::room(Lane* lane, size_t n) {
  if (lane->buffer->capacity() - lane->used < n) makeRoom(lane, n);
  return lane->buffer->data() + lane->used;
}

void CommentXmlWriter::makeRoom(Lane* lane, size_t n) {
  writeOut(lane);
  // Only a record with fields longer than the format allows asks for more
  // than the buffer holds.
  lane->buffer->reserve(n);
}

void CommentXmlWriter::done(Lane* lane, const char* end) {
  lane->used = static_cast<size_t>(end - lane->buffer->data());
}

void CommentXmlWriter::passMark(Lane* lane) {
  if (lane->used >= lane->writeAt) writeOut(lane);
  lane->buffer->prepare(lane->used + kPrepareAhead);
  lane->mark = std::min(lane->used + kPrepareAhead / 2, lane->writeAt);
}

void CommentXmlWriter::writeOut(Lane* lane) {
  const size_t used = lane->used;
  lane->used = 0;  // after a failure later pieces are dropped
  if (awaitTurn(lane->turn) && status_.ok() && used > 0) {
    status_ = file_.write(lane->buffer->data(), used);
  }
}

bool CommentXmlWriter::awaitTurn(Turn turn) {
  std::unique_lock<std::mutex> lock(turnMutex_);
  turnChanged_.wait(lock, [&] { return turn_ == turn || abandoned_; });
  if (abandoned_) return false;
  if (helperFailure_ != nullptr) std::rethrow_exception(std::exchange(helperFailure_, nullptr));
  return true;
}

void CommentXmlWriter::passTurn(Turn to, std::exception_ptr failure) {
  {
    const std::lock_guard<std::mutex> lock(turnMutex_);
    turn_ = to;
    if (failure != nullptr) helperFailure_ = std::move(failure);
  }
  turnChanged_.notify_all();
}

void CommentXmlWriter::abandon() noexcept {
  {
    const std::lock_guard<std::mutex> lock(turnMutex_);
    abandoned_ = true;
  }
  turnChanged_.notify_all();
}

void CommentXmlWriter::handOver() {
  writeOut(&own_);
  passTurn(Turn::kHelper);
}

void CommentXmlWriter::join(const Helper& helper) {
  own_.chats += helper.chats();
  own_.number = DecimalCounter(own_.chats + 1);
}

CommentXmlWriter::Helper::Helper(CommentXmlWriter* writer, platform::Buffer* buffer)
    : writer_(writer), lane_(buffer, kHelperWriteAt, Turn::kHelper) {
  lane_.buffer->reserve(kHelperBufferSize);
}

void CommentXmlWriter::Helper::begin(uint32_t chatsBefore) {
  lane_.number = DecimalCounter(chatsBefore + 1);
  lane_.chats = 0;
  lane_.mark = 0;
}

void CommentXmlWriter::Helper::writeChat(const CacheRecord& record) {
  writer_->writeChatInto(&lane_, record);
}

void CommentXmlWriter::Helper::writeChats(RecordWalker* walker) {
  writer_->writeChatsInto(&lane_, walker);
}

void CommentXmlWriter::Helper::end() {
  std::exception_ptr failure;
  try {
    writer_->writeOut(&lane_);
  } catch (...) {
    failure = std::current_exception();  // the part is not whole: the writer may not go on
  }
  writer_->passTurn(Turn::kWriter, std::move(failure));
}

const Status& CommentXmlWriter::finish() {
  if (!finished_) {
    finished_ = true;
    std::memcpy(room(&own_, kDocumentFoot.size()), kDocumentFoot.data(), kDocumentFoot.size());
    own_.used += kDocumentFoot.size();
    writeOut(&own_);
    if (!status_.ok()) {
      file_.discard();
    } else {
      status_ = file_.commit();
    }
  }
  return status_;
}

}  // namespace ordil
