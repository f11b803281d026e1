// Reading the records of a cache file from a byte source a window at a
// time, so that memory does not grow with the file.
#ifndef ORDIL_CACHE_RECORD_READER_H_
#define ORDIL_CACHE_RECORD_READER_H_

#include <cstddef>
#include <cstdint>

#include "base/byte_source.h"
#include "base/status.h"
#include "cache/cache_record.h"
#include "platform/memory.h"

namespace ordil {

// How much of a file is read at once.
inline constexpr size_t kReadWindowSize = size_t{1} << 20;

// The read of the window after the one being walked, which the reader's
// owner may run on another thread while the walk goes on
// (RecordReader::pendingRead). It touches only the source, the window it
// reads into and itself.
class WindowRead {
 public:
  // Makes the window resident and reads into it. Throws what the source
  // throws.
  void run();

 private:
  friend class RecordReader;
  ByteSource* source_ = nullptr;
  platform::Buffer* into_ = nullptr;
  size_t offset_ = 0;  // where in into_ the bytes go
  size_t wanted_ = 0;
  size_t got_ = 0;
  Status failure_;
  bool pending_ = false;  // set up and not run yet
};

// Reads the records of a cache file of a known size from a source: a
// window of the file at a time into *window (a record longer than the
// window widens it). The records, offsets and failures are those of
// walking the whole file at once. Reads no more than size bytes; a source
// that ends early or fails ends the walk after the bytes it gave.
//
//   RecordReader reader(&source, size, &buffer);
//   while (reader.next(&record)) use(record);
//   if (!reader.readStatus().ok()) ...     // the file could not be read whole
//   if (!reader.decodeStatus().ok()) ...   // a record could not be decoded
class RecordReader {
 public:
  // window is the memory to read into, which may be kept for the next file;
  // it must outlive the reader. windowSize is how much is read at once.
  RecordReader(ByteSource* source, uint64_t size, platform::Buffer* window,
               size_t windowSize = kReadWindowSize);

  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Reads each next window into *spare while the records of the one before
  // are taken; the two buffers then take turns. From then on each
  // nextWindow() that does not end the walk sets up the read of the window
  // after it (pendingRead()). Call before the first next(); spare must
  // outlive the reader. A record that runs from one window into the next
  // keeps its bytes before the read ones (up to carried of them; a longer
  // one is moved). Throws std::bad_alloc when spare cannot be had.
  void readAhead(platform::Buffer* spare, size_t carried = kCarriedSize);

  // The read of the next window, set up by the last nextWindow(), for the
  // owner to run (on any thread whose reads the source allows) while the
  // walker's records are taken, and to have done before the next
  // nextWindow(), which runs it itself when nobody has; nullptr when none
  // is due.
  WindowRead* pendingRead() { return ahead_.pending_ ? &ahead_ : nullptr; }

  // The bytes of an unfinished record room is kept for before a window
  // read ahead.
  static constexpr size_t kCarriedSize = 64 << 10;

  // Decodes the next record into *record; its views point into the window
  // and are valid until the next call. Returns false at the end of the
  // file, after a short read, or at a record that cannot be decoded.
  // Throws std::bad_alloc when the window cannot be widened.
  bool next(CacheRecord* record);

  // Window by window instead, for a caller that shares each window's
  // records between threads (RecordWalker::splitFront):
  //
  //   while (reader.nextWindow()) {
  //     RecordWalker* walker = reader.walker();
  //     while (walker->next(&record)) use(record);
  //   }
  //
  // nextWindow() feeds the walker the next window once it has taken every
  // record it could from the one before (next() returned false), and
  // returns false at the end of the file, after a short read, or at a
  // record that cannot be decoded. The walker's records stay valid until
  // the next call of nextWindow(); whoever walks it until then may be
  // another thread. Throws std::bad_alloc as next().
  bool nextWindow();
  RecordWalker* walker() { return &walker_; }

  // Ok, or (kind kIo) "read N of M bytes: reason" when the source gave
  // fewer bytes than the size.
  const Status& readStatus() const { return readStatus_; }

  // Ok, or why the record at its offset could not be decoded.
  const Status& decodeStatus() const { return walker_.status(); }

 private:
  // Feeds the walker the bytes it has not walked and more of the file.
  void refill();
  // Feeds the window read ahead, behind the bytes not walked.
  void takeReadAhead();
  // Sets up the read of the next window into spare_, if the file goes on.
  void setUpReadAhead();
  // Counts got of wanted bytes as read, and ends the file after a short
  // read, saying why.
  void account(size_t wanted, size_t got, const Status& failure);

  ByteSource* source_;
  uint64_t size_;
  uint64_t left_;  // bytes of the file not read yet
  platform::Buffer* window_;
  size_t windowSize_;
  bool ended_ = false;  // the last window has been fed
  RecordWalker walker_;
  Status readStatus_;
  platform::Buffer* spare_ = nullptr;  // the window read ahead; none when not reading ahead
  size_t carried_ = 0;                 // room before the bytes read ahead
  bool aheadSetUp_ = false;            // ahead_ reads the next window
  WindowRead ahead_;
};

}  // namespace ordil

#endif  // ORDIL_CACHE_RECORD_READER_H_
