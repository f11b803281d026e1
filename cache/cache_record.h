// Decoding of comment cache files: an 8-byte header, then comment records
// back to back with no count, end marker or checksum. The layout is written
// out at the top of cache_record.cpp.
#ifndef ORDIL_CACHE_CACHE_RECORD_H_
#define ORDIL_CACHE_CACHE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/cache_line.h"
#include "base/status.h"

namespace ordil {

// The fields of one comment. Each view holds its field's bytes as stored; a
// field's value ends at its first NUL (fieldValue), which the document
// writer finds as it escapes the field, so decoding never scans the bytes.
// No encoding is checked. The text is meant to be UTF-8; mail and user id
// are plain bytes.
// A decoded record points into the data it was decoded from, so it is valid
// only while that data lives; nothing is copied.
struct CacheRecord {
  std::string_view mail;
  std::string_view text;
  uint32_t position = 0;  // playback position; vpos is position / 10
  std::string_view userId;
  // The end of the data the record was decoded from (nullptr when it was
  // not decoded): the bytes from any field up to it may be read, so that a
  // field can be loaded in whole blocks.
  const char* dataEnd = nullptr;
};

// A field's value: its bytes up to the first NUL, all of them if there is
// none.
inline std::string_view fieldValue(std::string_view stored) {
  return stored.substr(0, stored.find('\0'));
}

// Bytes before the first record.
inline constexpr size_t kCacheHeaderSize = 8;

// Reads a text length stored in 7-bit groups, low group first, with the high
// bit set on every byte but the last, at most 5 bytes. Reads only
// [p, limit). On success stores the length in *length and returns the byte
// after the last length byte. Returns nullptr when the data ends inside the
// length or the length has more than 5 bytes.
const char* readTextLength(const char* p, const char* limit, uint32_t* length);

// Decodes the record that starts at p into *record, whose views then point
// into [p, limit). Reads only [p, limit): every stated length is checked
// against the bytes left before they are touched. Returns the byte after the
// record, or nullptr with *status set when the record is cut short (kind
// kTruncated) or its text length is malformed (kMalformed); *record is then
// unspecified.
const char* decodeRecord(const char* p, const char* limit, CacheRecord* record,
                         Status* status);

// The byte after the record that starts at p, when decodeRecord would
// decode it, otherwise nullptr. Reads only [p, limit), and only the
// lengths: for finding where records end without taking their fields.
const char* recordEnd(const char* p, const char* limit);

// Walks the records of a cache file, held in memory whole or given in
// consecutive windows. The walker only refers to the data, which must
// outlive its use.
//
//   RecordWalker walker(data);                 // the whole file
//   while (walker.next(&record)) use(record);
//   if (walker.failed()) report(walker.status());
//
// In windows: feed() a window, take records until next() returns false;
// while hungry(), feed the bytes not yet walked (unconsumed(), moved or
// copied anywhere) followed by more of the file, widening the window when
// those bytes alone fill it. The records, offsets and failures are those of
// walking the whole file at once.
//
// A walker is advanced at every record, by whichever thread walks it, so
// it keeps a cache line of its own: two threads walking the parts of one
// window (splitFront) do not take lines from each other.
class alignas(kCacheLine) RecordWalker {
 public:
  // Walks data that holds the whole file.
  explicit RecordWalker(std::string_view data) { feed(data, true); }

  // Walks a file that will be fed window by window; hungry() until the
  // first window is fed.
  RecordWalker() = default;

  // Gives the next window: unconsumed() of the last one, then new bytes.
  // last says the file ends with this window.
  void feed(std::string_view window, bool last);

  // Decodes the next record into *record; its views point into the current
  // window. Returns false at the end of the file, at the first record that
  // cannot be decoded (failed() then stays true), and, in a window that is
  // not the last, where the next record may run past the window (hungry()).
  bool next(CacheRecord* record);

  // Takes the records that start within the first `bytes` bytes of
  // unconsumed() off the front of the walk, so that two threads can take
  // the records of one window: *front then walks them and ends after them,
  // and this walker goes on with the record after them, with the same
  // records, offsets and ending as before. Every record taken is whole and
  // decodable, so front ends cleanly. Stores how many there are in *count.
  // Returns false, and changes nothing, when that would take no record or
  // leave no byte of the window, or when a record within those bytes is
  // cut short by the window or cannot be decoded.
  bool splitFront(size_t bytes, RecordWalker* front, uint32_t* count);

  // Whether the walk stopped at a record that cannot be decoded.
  bool failed() const { return !status_.ok(); }

  // Whether the walk waits for a longer window.
  bool hungry() const { return hungry_; }

  // The bytes of the current window not yet walked.
  std::string_view unconsumed() const {
    return std::string_view(pos_, static_cast<size_t>(limit_ - pos_));
  }

  // Byte offset in the file of the record that failed, or of the next one.
  uint64_t offset() const { return windowOffset_ + static_cast<uint64_t>(pos_ - window_); }

  // Why the walk stopped: "record at byte N: reason", with the offset;
  // ok while it has not failed.
  const Status& status() const { return status_; }

 private:
  const char* window_ = nullptr;
  const char* pos_ = nullptr;
  const char* limit_ = nullptr;
  uint64_t windowOffset_ = 0;  // file offset of window_
  size_t headerLeft_ = kCacheHeaderSize;
  bool last_ = false;
  bool hungry_ = true;
  Status status_;
};

}  // namespace ordil

#endif  // ORDIL_CACHE_CACHE_RECORD_H_
