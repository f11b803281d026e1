// The comment XML document: its pieces as pure functions over bytes, and the
// writer that derives the output name and stores the document.
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

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/background.h"
#include "base/buffer.h"
#include "base/status.h"
#include "cache/cache_record.h"
#include "platform/file_name.h"
#include "platform/output_file.h"

namespace ordil {

// Appends the head: declaration, data-source comment, <packet>, <thread> and
// <view_counter>, the id written as an unsigned 32-bit number (-1 as
// 4294967295).
void appendDocumentHead(int32_t id, std::string* out);

// Appends one chat element and its line end. The user id and the mail (with
// " 184" added, or "184" alone for an empty mail) are escaped as attribute
// values, the text as element content; vpos is position / 10.
void appendChat(uint32_t number, const CacheRecord& record, std::string* out);

// The closing tag, with no line end after it.
inline constexpr std::string_view kDocumentFoot = "</packet>";

// Replaces the first "ashx" in path, searched from the start and
// case-sensitively over the whole path, by "xml". Returns false and leaves
// path alone when there is none. Works on narrow (byte) and wide names.
template <typename String>
bool replaceFirstAshx(String* path) {
  using Char = typename String::value_type;
  static constexpr Char kAshx[] = {'a', 's', 'h', 'x', 0};
  static constexpr Char kXml[] = {'x', 'm', 'l', 0};
  const size_t at = path->find(kAshx);
  if (at == String::npos) return false;
  path->replace(at, 4, kXml);
  return true;
}

// The output file name for an input path in the narrow code page, or none
// when the path holds no "ashx". The search runs on the platform's own form
// of the name, so it never matches inside a multi-byte character.
std::optional<platform::NativeFileName> outputNameFor(const std::string& inputPath);

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

// Where a document goes: a file by its platform name, or standard output.
struct OutputTarget {
  platform::NativeFileName name;
  bool standardOutput = false;
};

// Writes one comment XML document, which replaces the output file whole or
// not at all (platform::OutputFile). A document longer than two buffers is
// written by a second thread while the next buffer is filled, so that the
// write calls overlap the formatting; a shorter one never starts it. Construction prepares the output and
// writes the head; writeChat appends chat elements numbered from 1;
// finish() writes the foot and puts the document in place. Destruction
// without finish() abandons the document and leaves the output file as it
// was: that is how a run that fails part-way (out of memory) ends. File
// failures never throw: the first one is kept in status(), and everything
// after it is dropped. Only allocation failures throw (std::bad_alloc).
class CommentXmlWriter {
 public:
  // buffer, when given, is the memory output is collected in, kept by the
  // caller for the next document; it must outlive the writer.
  CommentXmlWriter(const OutputTarget& target, int32_t id, Buffer* buffer = nullptr);
  ~CommentXmlWriter();

  CommentXmlWriter(const CommentXmlWriter&) = delete;
  CommentXmlWriter& operator=(const CommentXmlWriter&) = delete;

  // Appends the record's chat element.
  void writeChat(const CacheRecord& record);

  // Has the document's blocks written by this thread, when it comes to
  // that, instead of one of the writer's own; the thread must outlive the
  // writer. Without effect once the writing has started.
  void shareBackground(Background* background);

  // The chat elements written so far.
  uint32_t chats() const { return chats_; }

  // Writes the foot and, when every byte was written, puts the document in
  // place; after a failure the output file stays as it was. Returns ok when
  // the whole document is in place. Later calls return the same.
  const Status& finish();

  // The first failure ("cannot create: ...", "write failed: ...",
  // "cannot replace: ..."); ok while there is none.
  const Status& status() const { return status_; }

 private:
  // Chat elements are written straight into the buffer: room(n) gives at
  // least n bytes at its end, flushing first if needed; done(end) keeps
  // what was written up to end.
  char* room(size_t n);
  void makeRoom(size_t n);
  void done(const char* end);
  // Hands the buffer's bytes to the file: to the background thread while
  // the chats go on, or (last) straight, once the thread's write is done.
  void flush(bool last = false);
  // Flushes a full buffer, and makes the buffer's next pages resident.
  void passMark();
  // Waits for the block being written, and stops the writer's own thread.
  void stopWriting();

  bool finished_ = false;
  DecimalCounter number_;  // the no of the next chat
  uint32_t chats_ = 0;
  Status status_;
  Buffer ownBuffer_;  // used when the caller gives none
  Buffer* const primary_;  // the caller's buffer, or ownBuffer_
  Buffer* buffer_;         // pending bytes, written out in large blocks
  size_t used_ = 0;
  size_t mark_ = 0;  // where passMark() is due
  platform::OutputFile file_;
  Buffer spare_;  // filled while the background thread writes the other
  int flushes_ = 0;  // before the thread starts
  Status written_;  // how the background thread's last write went
  Background* shared_ = nullptr;            // a thread the caller lends
  std::unique_ptr<Background> ownBackground_;
  Background* background_ = nullptr;        // writing, once it writes blocks
  Background::Ticket writing_ = 0;          // the block being written; waited for
                                            // before file_ is gone
};

}  // namespace ordil

#endif  // ORDIL_XML_COMMENT_XML_WRITER_H_
