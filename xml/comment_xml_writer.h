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

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/memory.h"
#include "base/cache_line.h"
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

// Where a document goes: a file by its platform name, or standard output;
// placement says what may stand in the file's place (a link, a FIFO), and
// folder, when given, is the folder the file is made in.
struct OutputTarget {
  platform::NativeFileName name;
  bool standardOutput = false;
  platform::Placement placement = platform::Placement::kDerived;
  const platform::Folder* folder = nullptr;
};

// Writes one comment XML document, which replaces the output file whole or
// not at all (platform::OutputFile). Construction prepares the output and
// writes the head; writeChat appends chat elements numbered from 1;
// finish() writes the foot and puts the document in place. Destruction
// without finish() abandons the document and leaves the output file as it
// was: that is how a run that fails part-way (out of memory) ends. File
// failures never throw: the first one is kept in status(), and everything
// after it is dropped. Only allocation failures throw (std::bad_alloc).
//
// A second thread may format part of the document (Helper): the records
// of a stretch are then split, the writer taking the first ones and the
// helper the rest, and each writes what it formatted, in the document's
// order. The bytes are those of writing every chat here.
class CommentXmlWriter {
  // Whose bytes may be written: the writer's, or the helper's part after
  // the writer has handed over.
  enum class Turn { kWriter, kHelper };

  // What one thread formats chat elements into: a buffer, written out
  // when it holds writeAt bytes or more, and the numbering of its chats.
  // Written at every chat, so the writer's lane and a helper's never share
  // a cache line.
  struct alignas(kCacheLine) Lane {
    Lane(platform::Buffer* into, size_t writtenAt, Turn writtenIn)
        : buffer(into), writeAt(writtenAt), turn(writtenIn) {}
    platform::Buffer* const buffer;
    const size_t writeAt;
    const Turn turn;  // in which its bytes are written
    size_t used = 0;
    size_t mark = 0;        // where passMark() is due
    DecimalCounter number;  // the no of its next chat
    uint32_t chats = 0;     // formatted so far
  };

 public:
  // buffer, when given, is the memory output is collected in, kept by the
  // caller for the next document; it must outlive the writer.
  CommentXmlWriter(const OutputTarget& target, int32_t id, platform::Buffer* buffer = nullptr);
  ~CommentXmlWriter();

  CommentXmlWriter(const CommentXmlWriter&) = delete;
  CommentXmlWriter& operator=(const CommentXmlWriter&) = delete;

  // Appends the record's chat element.
  void writeChat(const CacheRecord& record);

  // Appends the chat elements of the records the walker gives, until its
  // next() returns false: writeChat for each, in one loop.
  void writeChats(RecordWalker* walker);

  // The chat elements written so far, a helper's parts included once
  // joined.
  uint32_t chats() const { return own_.chats; }

  // Writes the foot and, when every byte was written, puts the document in
  // place; after a failure the output file stays as it was. Returns ok when
  // the whole document is in place. Later calls return the same.
  const Status& finish();

  // The first failure ("cannot create: ...", "write failed: ...",
  // "cannot replace: ..."); ok while there is none. Read it on the
  // writer's thread while no helper's part is being written.
  const Status& status() const { return status_; }

  // Formats the chats of a part of the document on a second thread. For
  // each stretch of records split in two, with n records in the first
  // part:
  //
  //   helper thread:  helper.begin(writer.chats() + n); helper.writeChat(r)
  //                   or writeChats() for the second part; then, once the
  //                   writer has handed over, helper.end()
  //   this thread:    writer.writeChat(r) or writeChats() for the first
  //                   part; writer.handOver(); and once the helper has
  //                   written its last chat, writer.join(helper)
  //
  // The writer's part is written before the helper's, and the writer
  // writes nothing more until the helper's end() has written its part.
  // begin(), writeChat() and end() belong to the helper's thread, and
  // make it wait for its turn when its buffer fills before the writer has
  // handed over. The helper must be ended before the writer finishes or
  // is destroyed.
  class Helper {
   public:
    // buffer as for the writer; the helper takes it on construction.
    // Throws std::bad_alloc when it cannot be had.
    Helper(CommentXmlWriter* writer, platform::Buffer* buffer);

    // Starts a part whose first chat follows `chatsBefore` chats.
    void begin(uint32_t chatsBefore);
    void writeChat(const CacheRecord& record);
    void writeChats(RecordWalker* walker);
    // Writes the rest of the part, once it is the helper's turn, and
    // hands the turn back to the writer, with what it threw, if anything,
    // for the writer to rethrow.
    void end();
    // The chats of the part begun last.
    uint32_t chats() const { return lane_.chats; }

   private:
    CommentXmlWriter* writer_;
    Lane lane_;
  };

  // Ends the writer's part of a stretch: writes what it holds and lets
  // the helper's part follow. Rethrows, here, what the helper's end() of
  // the part before threw.
  void handOver();

  // Counts the helper's chats, which have been written or will be, and
  // goes on numbering after them.
  void join(const Helper& helper);

  // For a writer given up while a helper's part runs (its thread failed):
  // the helper then drops what it would write instead of waiting for a
  // turn that will not come. The writer may then only be destroyed, which
  // leaves the output file as it was.
  void abandon() noexcept;

 private:
  // Appends a chat element to the lane. A sink for writeChatTo, in the
  // source file, gives room at the lane's end with room(lane, n) (at
  // least n bytes, writing out what it holds first if needed) and keeps
  // what was written with done(lane, end).
  void writeChatInto(Lane* lane, const CacheRecord& record);
  void writeChatsInto(Lane* lane, RecordWalker* walker);
  char* room(Lane* lane, size_t n);
  void makeRoom(Lane* lane, size_t n);
  static void done(Lane* lane, const char* end);
  // Makes the lane's next pages resident, and writes it out when full.
  void passMark(Lane* lane);
  // Writes the lane's bytes to the file once it is the lane's turn, unless
  // a write failed before (or the writer was abandoned); the lane is then
  // empty.
  void writeOut(Lane* lane);
  // Waits for the turn. Returns false when the writer was abandoned;
  // rethrows, in the writer's turn, what the helper passed it with.
  bool awaitTurn(Turn turn);
  void passTurn(Turn to, std::exception_ptr failure = nullptr);

  bool finished_ = false;
  Status status_;          // changed only in the turn of whoever changes it
  platform::Buffer ownBuffer_;       // used when the caller gives none
  Lane own_;
  platform::OutputFile file_;
  std::mutex turnMutex_;
  std::condition_variable turnChanged_;
  Turn turn_ = Turn::kWriter;
  std::exception_ptr helperFailure_;  // passed with the turn
  bool abandoned_ = false;
};

}  // namespace ordil

#endif  // ORDIL_XML_COMMENT_XML_WRITER_H_
