// Decoding of comment cache files: an 8-byte header, then comment records
// back to back with no count, end marker or checksum. The layout is written
// out at the top of cache_record.cpp.
#ifndef ORDIL_CACHE_CACHE_RECORD_H_
#define ORDIL_CACHE_CACHE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ordil {

// The fields of one comment. Each view holds its field's bytes up to the
// first NUL inside the field (all of them if there is none); no encoding is
// checked. The text is meant to be UTF-8; mail and user id are plain bytes.
// A decoded record points into the data it was decoded from, so it is valid
// only while that data lives; nothing is copied.
struct CacheRecord {
  std::string_view mail;
  std::string_view text;
  uint32_t position = 0;  // playback position; vpos is position / 10
  std::string_view userId;
};

// Bytes before the first record.
inline constexpr size_t kCacheHeaderSize = 8;

// Reads a text length stored in 7-bit groups, low group first, with the high
// bit set on every byte but the last, at most 5 bytes. Reads only
// [p, limit). On success stores the length in *length and returns the byte
// after the last length byte. Returns nullptr when the data ends inside the
// length or the length has more than 5 bytes.
const char* readTextLength(const char* p, const char* limit, uint32_t* length);

// Decodes the record that starts at p into *record, whose views then point
// into [p, limit). Reads only [p, limit): every stated length is checked against the
// bytes left before they are touched. Returns the byte after the record, or
// nullptr with *error set to a short static reason when the record is cut
// short or its text length is malformed; *record is then unspecified.
const char* decodeRecord(const char* p, const char* limit, CacheRecord* record,
                         const char** error);

// Walks the records of a whole cache file held in memory. The walker only
// refers to the data, which must outlive it.
//
//   RecordWalker walker(data);
//   while (walker.next(&record)) use(record);
//   if (walker.failed()) report(walker.errorMessage());
class RecordWalker {
 public:
  explicit RecordWalker(std::string_view data);

  // Decodes the next record into *record. Returns true when a
  // whole record was decoded; false at the end of the data or at the first
  // record that cannot be decoded, after which it keeps returning false.
  bool next(CacheRecord* record);

  // Whether the walk stopped at a record that cannot be decoded.
  bool failed() const { return error_ != nullptr; }

  // Byte offset of the record that failed, or of the next record.
  size_t offset() const { return static_cast<size_t>(pos_ - begin_); }

  // "record at byte N: reason" for a failed walk; empty otherwise.
  std::string errorMessage() const;

 private:
  const char* begin_;
  const char* pos_;
  const char* limit_;
  const char* error_ = nullptr;
};

}  // namespace ordil

#endif  // ORDIL_CACHE_CACHE_RECORD_H_
