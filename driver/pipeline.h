// The threads of one conversion: a large input is read a window ahead and
// its document formatted on two threads, with the bytes of the document
// those of formatting it on one. Everything the two threads share is here.
//
//   this thread:    takes window k: formats the front of its records,
//                   hands its bytes to the destination, then passes the
//                   turn to the helper, and goes on with window k + 1
//   second thread:  reads window k + 1; formats the rest of window k's
//                   records (the helper); in the helper's turn, hands its
//                   bytes to the destination and passes the turn back
#ifndef ORDIL_DRIVER_PIPELINE_H_
#define ORDIL_DRIVER_PIPELINE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/byte_sink.h"
#include "cache/record_reader.h"
#include "document/document_writer.h"
#include "driver/background.h"
#include "platform/memory.h"

namespace ordil {

// How much of each window of records the converting thread keeps when a
// second thread formats the rest, in 64ths of the window's bytes: one more
// after a window the second thread finished last, one less after one it
// finished first, so that both finish about together. Kept from file to
// file by its job.
class WindowShare {
 public:
  WindowShare() = default;
  // A share that stays as given, clamped to 1 to 63: the documents are the
  // same whatever it is.
  static WindowShare fixedForTesting(int kept) { return WindowShare(std::clamp(kept, 1, 63), true); }

  size_t bytesKept(size_t bytes) const { return bytes / 64 * static_cast<size_t>(kept_); }
  void update(bool helperFinishedFirst);
  int kept() const { return kept_; }

 private:
  WindowShare(int kept, bool fixed) : kept_(kept), fixed_(fixed) {}
  static constexpr int kLeast = 4, kMost = 60;
  int kept_ = 32;
  bool fixed_ = false;
};

// The memory of a conversion on two threads, kept by its job from file to
// file.
struct PipelineBuffers {
  platform::Buffer output;        // what this thread formats into
  platform::Buffer helperOutput;  // what the second thread formats into
};

// Formats the document of the reader's records into the destination: the
// head, a chat for every record, the foot. The reader reads ahead
// (RecordReader::readAhead) and its reads run on the background thread,
// which also formats the end of each window's records while this one
// formats the start (RecordWalker::splitFront); with no memory for the
// second thread's output, this one formats them all. The destination
// takes the bytes in the document's order, each write in the turn of the
// thread making it. Returns the number of chats; the reader's statuses
// say how the walk ended. Throws what either thread throws (no memory, a
// read that threw), after every job has ended; the destination is then
// not whole.
// The document is the format's: its writers do the formatting.
uint32_t convertInParts(RecordReader* reader, int32_t id, ByteSink* destination,
                        Background* background, PipelineBuffers* buffers, WindowShare* share,
                        const DocumentFormat& format);

}  // namespace ordil

#endif  // ORDIL_DRIVER_PIPELINE_H_
