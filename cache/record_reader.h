// Reading the records of a cache file from a byte source a window at a
// time, so that memory does not grow with the file.
#ifndef ORDIL_CACHE_RECORD_READER_H_
#define ORDIL_CACHE_RECORD_READER_H_

#include <cstddef>
#include <cstdint>

#include "base/background.h"
#include "platform/memory.h"
#include "base/byte_source.h"
#include "base/status.h"
#include "cache/cache_record.h"

namespace ordil {

// How much of a file is read at once.
inline constexpr size_t kReadWindowSize = size_t{1} << 20;

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
  // it must outlive the reader. windowSize is for tests.
  RecordReader(ByteSource* source, uint64_t size, platform::Buffer* window,
               size_t windowSize = kReadWindowSize);

  // Waits for a read the background thread is doing.
  ~RecordReader();

  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Reads each next window on the background thread into *spare while the
  // records of the one before are taken; the two buffers then take turns.
  // Call before the first next(); the thread and spare must outlive the
  // reader, and the source must allow reads from that thread. A record
  // that runs from one window into the next keeps its bytes before the
  // read ones (up to carried of them; a longer one is moved; carried is
  // for tests). Throws std::bad_alloc when spare cannot be had.
  void readAhead(Background* background, platform::Buffer* spare, size_t carried = kCarriedSize);

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
  // Starts reading the next window into spare_, if the file goes on.
  void startReadAhead();
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
  Background* background_ = nullptr;  // reading ahead, when set
  platform::Buffer* spare_ = nullptr;           // the window being read ahead
  size_t carried_ = 0;                // room before the bytes read ahead
  Background::Ticket reading_ = 0;    // the read ahead, 0 when none runs
  size_t aheadWanted_ = 0;
  size_t aheadGot_ = 0;
  Status aheadFailure_;
};

}  // namespace ordil

#endif  // ORDIL_CACHE_RECORD_READER_H_
