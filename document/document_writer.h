// What every document format offers the conversion: a writer that formats
// the head, the chats of the records a walker gives, and the foot into a
// sink its caller owns. The conversion and its two-thread pipeline use
// only this, so that a format is a folder of its own and an option. The
// format is chosen once per file; its writer is called once per window of
// records, never per record.
#ifndef ORDIL_DOCUMENT_DOCUMENT_WRITER_H_
#define ORDIL_DOCUMENT_DOCUMENT_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/byte_sink.h"
#include "cache/record_reader.h"
#include "platform/memory.h"

namespace ordil {

// Formats one document, or a stretch of its chats, into a sink:
//
//   writer->writeHead(id);
//   writer->writeChats(walker);   // for each window, numbered from 1
//   writer->writeFoot();
//   writer->flush();
//
// Bytes are handed to the sink in blocks and at flush(). Two writers may
// format the two parts of one stretch of records on two threads
// (numberFrom() says where the second part's numbering starts). Throws
// std::bad_alloc when its memory cannot be had, and what the sink throws.
class DocumentWriter {
 public:
  virtual ~DocumentWriter() = default;
  virtual void writeHead(int32_t id) = 0;
  // The chats of the records the walker gives, until its next() is false.
  virtual void writeChats(RecordWalker* walker) = 0;
  virtual void writeFoot() = 0;
  virtual void flush() = 0;
  // Numbers the next chat chatsBefore + 1.
  virtual void numberFrom(uint32_t chatsBefore) = 0;
  // The number of the last chat written (0 before the first).
  virtual uint32_t chats() const = 0;
};

// A document format: how its documents are named and how its writers are
// made.
class DocumentFormat {
 public:
  virtual ~DocumentFormat() = default;

  // The word a document's name takes in place of its cache file's first
  // "ashx" ("xml": 678.ashx gives 678.xml).
  virtual std::string_view nameWord() const = 0;

  // What a writer collects before handing it to its sink.
  virtual size_t writeAt() const = 0;

  // Takes the memory a writer needs in buffer ahead of it, for a caller
  // that would rather take it before other memory. Throws std::bad_alloc.
  virtual void reserve(platform::Buffer* buffer, size_t writeAt) const = 0;

  // A writer into sink, collecting in buffer; both must outlive it.
  // Throws std::bad_alloc.
  virtual std::unique_ptr<DocumentWriter> makeWriter(ByteSink* sink, platform::Buffer* buffer,
                                                     size_t writeAt) const = 0;
};

}  // namespace ordil

#endif  // ORDIL_DOCUMENT_DOCUMENT_WRITER_H_
