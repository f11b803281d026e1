#include "xml/chat_format.h"

#include <bit>

namespace ordil {

namespace chat_format {

namespace {

constexpr uint32_t kPowersOf10[] = {1,      10,      100,      1000,      10000,
                                    100000, 1000000, 10000000, 100000000, 1000000000};

// The number of decimal digits of value: from its bit length (a bit is
// log10(2), about 1233/4096, of a digit), corrected by one comparison.
unsigned decimalLength(uint32_t value) {
  const unsigned bits = 32 - static_cast<unsigned>(std::countl_zero(value | 1));
  const unsigned t = (bits * 1233) >> 12;  // at most 9
  return t + 1 - (value < kPowersOf10[t]) + (value == 0);
}

}  // namespace

// Writes value straight into place: two digits at a time from the end.
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

// A piece ends where the byte is not a continuation byte, or where the
// three before it all are: a step back of at most three bytes.
size_t pieceEnd(std::string_view text, size_t max) {
  const auto isContinuation = [&](size_t i) {
    return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  for (size_t end = max; end > max - 4; --end) {
    if (!isContinuation(end)) return end;
  }
  return max;
}

}  // namespace chat_format

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

namespace {

// Room to format a chat at the end of a string (what writeChatTo writes
// through, as CommentXmlWriter::Sink is): room grows it, done cuts it back.
class StringRoom {
 public:
  explicit StringRoom(std::string* out) : out_(out) {}
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
  StringRoom sink(out);
  writeChatTo(DecimalCounter(number), record, &sink);
}

}  // namespace ordil
