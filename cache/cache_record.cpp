// Comment cache file layout. All integers are little-endian; lengths count
// bytes.
//
//   file     := header record*
//   header   := 8 bytes, not interpreted
//   record   := mailLen:u8 mail[mailLen]
//               textLen:varlen text[textLen]
//               position:u32 reserved[8]
//               userIdLen:u8 userId[userIdLen]
//   varlen   := 1 to 5 bytes holding 7 bits each, low group first; every
//               byte but the last has its high bit (0x80) set
//
// Records follow each other directly and run to the end of the file.
//
// A record whose text length takes one byte spans at most kLongestShortRecord
// bytes; where that many are left, one check covers all its fields.

#include "cache/cache_record.h"

#include <algorithm>

namespace ordil {

namespace {

constexpr int kMaxTextLengthBytes = 5;
constexpr size_t kPositionSize = 4;
constexpr size_t kReservedSize = 8;
constexpr size_t kLongestShortRecord =
    1 + 255 + 1 + 127 + kPositionSize + kReservedSize + 1 + 255;

// Every failure but a malformed text length says the record runs past the
// end of the data, which more data may mend.
Status truncated(const char* reason) { return {Status::Kind::kTruncated, reason}; }

size_t bytesLeft(const char* p, const char* limit) {
  return static_cast<size_t>(limit - p);
}

uint8_t byteAt(const char* p) { return static_cast<uint8_t>(*p); }

// Sets *field to the n-byte field at p. Returns the byte after it, or
// nullptr when fewer than n bytes are left.
const char* getField(const char* p, const char* limit, size_t n,
                     std::string_view* field) {
  if (bytesLeft(p, limit) < n) return nullptr;
  *field = std::string_view(p, n);
  return p + n;
}

uint32_t decodeFixed32(const char* p) {
  return static_cast<uint32_t>(byteAt(p)) |
         (static_cast<uint32_t>(byteAt(p + 1)) << 8) |
         (static_cast<uint32_t>(byteAt(p + 2)) << 16) |
         (static_cast<uint32_t>(byteAt(p + 3)) << 24);
}

// readTextLength, inlined where records are decoded or skipped.
[[gnu::always_inline]] inline const char* textLengthAt(const char* p, const char* limit,
                                                       uint32_t* length) {
  // Texts under 128 bytes, nearly all of them, have a length of one byte.
  if (p < limit && (byteAt(p) & 0x80) == 0) {
    *length = byteAt(p);
    return p + 1;
  }
  uint32_t result = 0;
  for (int i = 0; i < kMaxTextLengthBytes && p < limit; ++i) {
    const uint32_t byte = byteAt(p++);
    result |= (byte & 0x7F) << (7 * i);  // bits past 32 fall away
    if ((byte & 0x80) == 0) {
      // A fifth byte may only carry the top four bits of a 32-bit length.
      if (i == kMaxTextLengthBytes - 1 && byte > 0x0F) return nullptr;
      *length = result;
      return p;
    }
  }
  return nullptr;
}

// Where the record at p, with kLongestShortRecord bytes or more left, has a
// text length of one byte: the offsets of its text and user id and its end,
// all within those bytes. Returns false for a longer text length.
struct ShortRecord {
  size_t mailLength, textAt, textLength, fixedAt, userIdLength, end;
};
[[gnu::always_inline]] inline bool shortRecordAt(const char* p, ShortRecord* r) {
  r->mailLength = byteAt(p);
  const size_t textLengthAt = 1 + r->mailLength;
  r->textLength = byteAt(p + textLengthAt);
  if (r->textLength >= 0x80) return false;
  r->textAt = textLengthAt + 1;
  r->fixedAt = r->textAt + r->textLength;
  r->userIdLength = byteAt(p + r->fixedAt + kPositionSize + kReservedSize);
  r->end = r->fixedAt + kPositionSize + kReservedSize + 1 + r->userIdLength;
  return true;
}

}  // namespace

const char* readTextLength(const char* p, const char* limit, uint32_t* length) {
  return textLengthAt(p, limit, length);
}

const char* decodeRecord(const char* p, const char* limit, CacheRecord* record,
                         Status* status) {
  ShortRecord s;
  if (bytesLeft(p, limit) >= kLongestShortRecord && shortRecordAt(p, &s)) {
    record->mail = std::string_view(p + 1, s.mailLength);
    record->text = std::string_view(p + s.textAt, s.textLength);
    record->position = decodeFixed32(p + s.fixedAt);
    record->userId = std::string_view(p + s.end - s.userIdLength, s.userIdLength);
    record->dataEnd = limit;
    return p + s.end;
  }
  if (p >= limit) {
    *status = truncated("mail length missing");
    return nullptr;
  }
  const size_t mailLength = byteAt(p++);
  p = getField(p, limit, mailLength, &record->mail);
  if (p == nullptr) {
    *status = truncated("mail runs past the end of the data");
    return nullptr;
  }

  uint32_t textLength;
  const char* text = textLengthAt(p, limit, &textLength);
  if (text == nullptr) {
    // With 5 bytes at hand the length itself is malformed; with fewer, every
    // byte left said another one follows.
    *status = bytesLeft(p, limit) < kMaxTextLengthBytes
                  ? truncated("text length runs past the end of the data")
                  : Status(Status::Kind::kMalformed,
                           "text length is malformed (over 5 bytes or 32 bits)");
    return nullptr;
  }
  p = getField(text, limit, textLength, &record->text);
  if (p == nullptr) {
    *status = truncated("text runs past the end of the data");
    return nullptr;
  }

  if (bytesLeft(p, limit) < kPositionSize + kReservedSize + 1) {
    *status = truncated("position or user id length runs past the end of the data");
    return nullptr;
  }
  record->position = decodeFixed32(p);
  p += kPositionSize + kReservedSize;
  const size_t userIdLength = byteAt(p++);
  p = getField(p, limit, userIdLength, &record->userId);
  if (p == nullptr) {
    *status = truncated("user id runs past the end of the data");
    return nullptr;
  }
  record->dataEnd = limit;
  return p;
}

bool RecordWalker::splitFront(size_t bytes, RecordWalker* front, uint32_t* count) {
  if (!status_.ok() || hungry_ || bytes > static_cast<size_t>(limit_ - pos_)) return false;
  const char* const end = pos_ + bytes;
  const char* p = pos_;
  uint32_t taken = 0;
  while (p < end) {
    p = recordEnd(p, limit_);
    if (p == nullptr) return false;  // left to the walk, which says why
    ++taken;
  }
  if (taken == 0 || p >= limit_) return false;
  *front = *this;
  front->limit_ = p;
  front->last_ = true;
  pos_ = p;
  *count = taken;
  return true;
}

const char* recordEnd(const char* p, const char* limit) {
  ShortRecord s;
  if (bytesLeft(p, limit) >= kLongestShortRecord && shortRecordAt(p, &s)) return p + s.end;
  if (p >= limit) return nullptr;
  const size_t mailLength = byteAt(p++);
  if (bytesLeft(p, limit) < mailLength) return nullptr;
  uint32_t textLength;
  const char* const text = textLengthAt(p + mailLength, limit, &textLength);
  if (text == nullptr || bytesLeft(text, limit) < textLength) return nullptr;
  p = text + textLength;
  if (bytesLeft(p, limit) < kPositionSize + kReservedSize + 1) return nullptr;
  p += kPositionSize + kReservedSize;
  const size_t userIdLength = byteAt(p++);
  if (bytesLeft(p, limit) < userIdLength) return nullptr;
  return p + userIdLength;
}

void RecordWalker::feed(std::string_view window, bool last) {
  windowOffset_ = offset();
  window_ = pos_ = window.data();
  limit_ = window.data() + window.size();
  const size_t skip = std::min(headerLeft_, window.size());
  pos_ += skip;
  headerLeft_ -= skip;
  last_ = last;
  hungry_ = false;
}

bool RecordWalker::next(CacheRecord* record) {
  if (!status_.ok() || hungry_) return false;
  if (pos_ >= limit_) {
    hungry_ = !last_;  // whether a record follows is not known yet
    return false;
  }
  Status failure;
  const char* after = decodeRecord(pos_, limit_, record, &failure);
  if (after == nullptr) {
    // Before the last window, a record that runs past the window may yet
    // be whole; only a malformed length is a failure already.
    if (!last_ && failure.kind() == Status::Kind::kTruncated) {
      hungry_ = true;
    } else {
      status_ = failure.atRecord(offset());  // pos_ stays at the failed record
    }
    return false;
  }
  pos_ = after;
  return true;
}

}  // namespace ordil
