// The comment XML document, formatted into a sink that its caller owns.
//
// The document is UTF-8 with CR LF line ends and no byte-order mark:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <!-- VelmarinData=corvaneID -->
//   <packet>
//   <thread last_res="0" resultcode="0" revision="1" server_time="0" thread="0" ticket="0"/>
//   <view_counter id="corvaneID" mylist="0" video="0"/>
//   <chat anonymity="1" date="1" no="1" user_id="..." vpos="..." mail="... 184">...</chat>
//   ...
//   </packet>                      (no line end after the foot)
#ifndef ORDIL_XML_COMMENT_XML_WRITER_H_
#define ORDIL_XML_COMMENT_XML_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/byte_sink.h"
#include "base/cache_line.h"
#include "cache/cache_record.h"
#include "document/document_writer.h"
#include "platform/memory.h"
#include "xml/chat_format.h"

namespace ordil {

// Appends the head: declaration, data-source comment, <packet>, <thread> and
// <view_counter>, the id written as an unsigned 32-bit number (-1 as
// 4294967295).
void appendDocumentHead(int32_t id, std::string* out);

// The closing tag, with no line end after it.
inline constexpr std::string_view kDocumentFoot = "</packet>";

// Formats a document, or a stretch of its chat elements, into a sink:
//
//   CommentXmlWriter writer(&sink, &buffer);
//   writer.writeHead(id);
//   while (...) writer.writeChat(record);   // numbered from 1
//   writer.writeFoot();
//   writer.flush();
//
// The bytes are collected in a buffer and handed to the sink a block at a
// time, whenever writeAt bytes or more are held, and at flush(). The
// writer holds no file and no lock: what the sink does with a block, and
// whether it fails, is its owner's. Two writers may format the two parts
// of one stretch of records on two threads (numberFrom() says where the
// second part's numbering starts), their sinks then putting the blocks in
// order. Throws std::bad_alloc when its buffer cannot be had or widened,
// and what the sink throws.
//
// Aligned to a cache line: two writers on two threads, written at every
// chat, never share one.
class alignas(kCacheLine) CommentXmlWriter final : public DocumentWriter {
 public:
  // What the writer collects before handing it to the sink.
  static constexpr size_t kWriteAt = size_t{1} << 20;

  // sink takes the bytes; buffer is the memory they are collected in, kept
  // by the caller for the next document. Both must outlive the writer.
  // Takes the buffer's memory now (writeAt plus room for the largest
  // chat).
  CommentXmlWriter(ByteSink* sink, platform::Buffer* buffer, size_t writeAt = kWriteAt);

  // Takes the memory a writer needs in buffer ahead of it, for a caller
  // that would rather take it before other memory. Throws std::bad_alloc.
  static void reserve(platform::Buffer* buffer, size_t writeAt = kWriteAt) {
    buffer->reserve(writeAt + kMaxChatRequest);
  }

  CommentXmlWriter(const CommentXmlWriter&) = delete;
  CommentXmlWriter& operator=(const CommentXmlWriter&) = delete;

  void writeHead(int32_t id) override;

  // Appends the record's chat element.
  void writeChat(const CacheRecord& record);

  // Appends the chat elements of the records the walker gives, until its
  // next() returns false: writeChat for each, in one loop.
  void writeChats(RecordWalker* walker) override;

  void writeFoot() override;

  // Hands what the writer holds to the sink.
  void flush() override;

  // Numbers the next chat chatsBefore + 1.
  void numberFrom(uint32_t chatsBefore) override;

  // The number of the last chat written (0 before the first): the chats
  // before those written since numberFrom(), and those.
  uint32_t chats() const override { return chats_; }

 private:
  // What writeChatTo writes through: room(n) gives at least n bytes at the
  // end of what is held, handing what is held to the sink first when the
  // buffer lacks them; done(end) keeps what was written.
  struct Sink {
    CommentXmlWriter* writer;
    char* room(size_t n) { return writer->room(n); }
    void done(const char* end) { writer->used_ = static_cast<size_t>(end - writer->buffer_->data()); }
  };
  void formatChat(const CacheRecord& record);
  char* room(size_t n);
  void makeRoom(size_t n);
  // Makes the buffer's next pages resident, and flushes when writeAt is
  // reached.
  void passMark();

  ByteSink* const sink_;
  platform::Buffer* const buffer_;
  const size_t writeAt_;
  size_t used_ = 0;
  size_t mark_ = 0;         // where passMark() is due
  DecimalCounter number_;   // the no of the next chat
  uint32_t chats_ = 0;
};

// The comment XML format: documents named NAME.xml, written by
// CommentXmlWriter.
const DocumentFormat& xmlFormat();

}  // namespace ordil

#endif  // ORDIL_XML_COMMENT_XML_WRITER_H_
