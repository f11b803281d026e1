// Where a document goes: the name it takes beside its cache file, and the
// destination a conversion creates, writes, and commits or abandons.
#ifndef ORDIL_DRIVER_DESTINATION_H_
#define ORDIL_DRIVER_DESTINATION_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_sink.h"
#include "base/status.h"
#include "driver/formats.h"
#include "platform/file_name.h"
#include "platform/output_file.h"

namespace ordil {

// Replaces the first "ashx" in path, searched from the start and
// case-sensitively over the whole path, by word (ASCII: a format's name
// word, "xml"). Returns false and leaves path alone when there is none.
// Works on narrow (byte) and wide names. The one rule every document's
// name comes from.
template <typename String>
bool replaceFirstAshx(String* path, std::string_view word) {
  using Char = typename String::value_type;
  static constexpr Char kAshx[] = {'a', 's', 'h', 'x', 0};
  const size_t at = path->find(kAshx);
  if (at == String::npos) return false;
  path->replace(at, 4, String(word.begin(), word.end()));
  return true;
}

// Whether name holds "ashx", the mark of a cache file.
template <typename String>
bool holdsAshx(const String& name) {
  using Char = typename String::value_type;
  static constexpr Char kAshx[] = {'a', 's', 'h', 'x', 0};
  return name.find(kAshx) != String::npos;
}

// The document's name for an input path in the narrow code page, or none
// when the path holds no "ashx". The search runs on the platform's own form
// of the name, so it never matches inside a multi-byte character.
std::optional<platform::NativeFileName> outputNameFor(
    const std::string& inputPath, const DocumentFormat& format = defaultFormat());

// The document's own name for a cache file's own name (its last part): the
// first "ashx" in it replaced by the format's word, or the name unchanged
// when it holds none. How a document is named in a folder of its own (-d)
// and in the batch.
inline platform::NativeFileName documentNameFor(platform::NativeFileName ownName,
                                                const DocumentFormat& format = defaultFormat()) {
  replaceFirstAshx(&ownName, format.nameWord());
  return ownName;
}

// Where a document goes: a file by its platform name, an open descriptor
// (standard output), or nowhere (a run that only decodes). For a file,
// placement says what may stand in its place (a link, a FIFO), and folder,
// when given, is the folder it is made in, which must stay open until the
// document is committed or abandoned.
struct OutputTarget {
  enum class Kind { kFile, kStandardOutput, kNothing };
  platform::NativeFileName name;
  Kind kind = Kind::kFile;
  platform::Placement placement = platform::Placement::kDerived;
  const platform::Folder* folder = nullptr;
  int descriptor = 1;  // kStandardOutput: which one (/dev/stderr is 2)
  // What the file's steps go through: the platform's own, or in tests ones
  // that fail where asked.
  platform::FileOps* ops = platform::systemFileOps();
};

// How a Destination makes its file, besides where (platform::Creation):
// the cache file it takes its permissions from, and whether it is made
// only where nothing stands.
struct DestinationOptions {
  const platform::FileFacts* cache = nullptr;
  bool onlyWhereNothingStands = false;
};

// One document's destination, which takes the document whole or not at
// all (platform::OutputFile). Construction creates it; write() appends;
// commit() puts the document in place when every byte was written.
// Destruction without commit() abandons the document and leaves the place
// as it was. A failure never throws: the first is kept in status() and
// every write after it is dropped.
//
// Two threads may write it in turns (the pipeline's formatting): each
// write, and so status_, belongs to whoever has the turn.
class Destination final : public ByteSink {
 public:
  explicit Destination(const OutputTarget& target, const DestinationOptions& options = {});

  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  void write(const char* data, size_t n) override;

  // Ok, or the first failure: "cannot create: ...", "not written: ...",
  // "write failed: ...", "cannot replace: ...".
  const Status& status() const { return status_; }

  // Puts the document in place, or, after a failure, leaves the place as
  // it was. Returns ok when the whole document is in place.
  const Status& commit();

  // commit() in steps, for documents made durable in groups (the batch):
  // finishWriting() ends the writing, and once makeDurable() has been run
  // on the group's files (platform/output_file.h), commitFinished() puts
  // the document in place. Each returns ok, or the failure, kept in
  // status(), after which the place stays as it was.
  const Status& finishWriting();
  platform::OutputFile* file() { return &file_; }
  const Status& commitFinished();

  // The bytes written so far.
  uint64_t bytesWritten() const { return written_; }

 private:
  // Ends the writing with the file's step (commit or finishWriting) when
  // every byte was written, and discards the file otherwise.
  const Status& end(Status (platform::OutputFile::*step)());

  Status status_;
  bool nothing_;
  uint64_t written_ = 0;
  platform::OutputFile file_;
};

}  // namespace ordil

#endif  // ORDIL_DRIVER_DESTINATION_H_
