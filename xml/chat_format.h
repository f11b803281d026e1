// One chat element of the comment XML document, and the decimal numbers in
// it:
//
//   <chat anonymity="1" date="1" no="N" user_id="..." vpos="..." mail="... 184">...</chat>
//
// followed by its line end CR LF. The user id and the mail (with " 184"
// added, or "184" alone for an empty mail) are escaped as attribute values,
// the text as element content, each up to its first NUL; vpos is the
// record's position / 10.
#ifndef ORDIL_XML_CHAT_FORMAT_H_
#define ORDIL_XML_CHAT_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "cache/cache_record.h"
#include "xml/xml_escape.h"

namespace ordil {

namespace chat_format {

// "00" to "99", for writing two digits at a time.
inline constexpr char kDigitPairs[] =
    "0001020304050607080910111213141516171819"
    "2021222324252627282930313233343536373839"
    "4041424344454647484950515253545556575859"
    "6061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline void putPair(char* out, uint32_t pair) { std::memcpy(out, kDigitPairs + 2 * pair, 2); }

// putDecimal for numbers of six digits or more.
char* putLongDecimal(char* out, uint32_t value);

}  // namespace chat_format

// Writes value in decimal at out and returns the byte after it: at most 10
// bytes. Numbers of up to five digits (every vpos of a video shorter than
// 28 hours, and the first 99,999 chat numbers) take a straight path.
[[gnu::always_inline]] inline char* putDecimal(char* out, uint32_t value) {
  using chat_format::putPair;
  if (value >= 100000) return chat_format::putLongDecimal(out, value);
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

// A count kept as its decimal text, for the chat numbers: adding one
// touches the last digits only. Up to 10 digits.
class DecimalCounter {
 public:
  // The bytes at data(): the digits, then room that may be copied with them.
  static constexpr size_t kRoom = 16;

  DecimalCounter() = default;  // 1
  explicit DecimalCounter(uint32_t value);

  std::string_view text() const { return std::string_view(digits_, length_); }
  const char* data() const { return digits_; }
  size_t size() const { return length_; }
  void increment();

 private:
  char digits_[kRoom] = {'1'};
  size_t length_ = 1;
};

// Appends the chat element numbered `number` and its line end to *out.
void appendChat(uint32_t number, const CacheRecord& record, std::string* out);

namespace chat_format {

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
constexpr size_t kFrameRoom = kChatStart.size() + kUserId.size() + kVpos.size() + kMail.size() +
                              1 + kMailMark.size() + kContent.size() + kChatEnd.size() +
                              DecimalCounter::kRoom + kMaxDecimal;

inline char* put(char* out, std::string_view s) {
  std::memcpy(out, s.data(), s.size());
  return out + s.size();
}

// Where to end a piece of text that should hold at most max bytes: a place
// no UTF-8 sequence runs across, so that escaping the pieces one after the
// other gives what escaping the whole would. text.size() must exceed max,
// and max must exceed 3.
size_t pieceEnd(std::string_view text, size_t max);

}  // namespace chat_format

// The most room one request of writeChatTo asks for, with fields of the
// format's sizes (a longer mail or user id asks for more).
inline constexpr size_t kMaxChatRequest = chat_format::kFrameRoom + 2 * maxEscapedSize(255) +
                                          maxEscapedSize(chat_format::kTextPiece);

// Writes the chat element numbered `number` through a sink, which hands
// out room with char* room(n) (at least n bytes, valid until done) and
// takes back what was written with done(end). A text longer than
// kTextPiece takes several requests; each stays within kMaxChatRequest
// for fields of the format's sizes. A template so that the formatting
// loop inlines its sink.
template <typename Sink>
void writeChatTo(const DecimalCounter& number,
                                               const CacheRecord& record, Sink* sink) {
  using namespace chat_format;
  std::string_view text = record.text;
  const bool whole = text.size() <= kTextPiece;
  // A long text is cut at its NUL first, so that its pieces end there.
  if (!whole) text = fieldValue(text);
  char* p = sink->room(kFrameRoom + maxEscapedSize(record.userId.size()) +
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
      p = escapeTextValueTo(text.substr(0, end), record.dataEnd, sink->room(maxEscapedSize(end)));
      text.remove_prefix(end);
    }
    sink->done(p);
    p = sink->room(maxEscapedSize(text.size()) + kChatEnd.size());
  }
  p = escapeTextValueTo(text, record.dataEnd, p);
  p = put(p, kChatEnd);
  sink->done(p);
}

}  // namespace ordil

#endif  // ORDIL_XML_CHAT_FORMAT_H_
