#include "driver/conversion.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <new>
#include <system_error>

#include "cache/record_reader.h"
#include "platform/input_file.h"
#include "text/quote.h"

namespace ordil {

namespace {

// The largest input taken: the format's sizes are 32-bit.
constexpr uint64_t kMaxInputSize = std::numeric_limits<uint32_t>::max();
static_assert(std::numeric_limits<size_t>::max() >= kMaxInputSize);

// Inputs over this size are read ahead and part of their documents
// formatted by a second thread; for less, starting one costs more than it
// spares.
constexpr uint64_t kBackgroundFrom = 2 * kReadWindowSize;

// What addFailure adds; throws std::bad_alloc when the message cannot be
// had.
Status failureOf(std::exception_ptr thrown) {
  try {
    std::rethrow_exception(std::move(thrown));
  } catch (const std::bad_alloc&) {
    return Status::noMemory();
  } catch (const std::system_error& e) {
    return Status::io(e.code().message());
  } catch (const std::exception& e) {
    return Status::io(e.what());
  } catch (...) {
    return Status::io("unexpected failure");
  }
}

}  // namespace

void addFailure(std::exception_ptr thrown, const std::string& path, Outcome* outcome) noexcept {
  try {
    Status failure = failureOf(std::move(thrown));
    outcome->outOfMemory = failure.kind() == Status::Kind::kNoMemory;
    outcome->problems.push_back({path, std::move(failure)});
  } catch (...) {
    outcome->outOfMemory = true;
  }
}

namespace {

// Decodes every record of the reader, formatting nothing: a run that only
// checks. Returns the number of records.
uint32_t decodeAlone(RecordReader* reader) {
  uint32_t records = 0;
  CacheRecord record;
  while (reader->nextWindow()) {
    while (reader->walker()->next(&record)) ++records;
  }
  return records;
}

// Formats the document on this thread alone: the head, a chat for every
// record of the reader (none without one), the foot. Returns the number of
// chats.
uint32_t convertAlone(RecordReader* reader, int32_t id, ByteSink* destination,
                      platform::Buffer* output, const DocumentFormat& format) {
  const std::unique_ptr<DocumentWriter> owned =
      format.makeWriter(destination, output, format.writeAt());
  DocumentWriter& writer = *owned;
  writer.writeHead(id);
  if (reader != nullptr) {
    while (reader->nextWindow()) writer.writeChats(reader->walker());
  }
  writer.writeFoot();
  writer.flush();
  return writer.chats();
}

// Adds how the reader's walk ended, when it did not end whole.
void addReaderProblems(const RecordReader& reader, const std::string& path, Outcome* outcome) {
  if (!reader.readStatus().ok()) outcome->problems.push_back({path, reader.readStatus()});
  if (!reader.decodeStatus().ok()) {
    outcome->undecodable = true;
    outcome->problems.push_back({path, reader.decodeStatus()});
  }
}

}  // namespace

Outcome Converter::convert(const Conversion& c, std::unique_ptr<Destination>* finished) {
  Outcome outcome;
  const auto problem = [&](const std::string& path, const Status& status) {
    outcome.problems.push_back({path, status});
  };
  try {
    // With no document to write, the records are only decoded.
    const bool decodeOnly = c.output.kind == OutputTarget::Kind::kNothing;
    // The document's buffer is taken before the input's: with little
    // memory, a large input is then converted on this thread alone rather
    // than not at all.
    const DocumentFormat& format = *c.format;
    if (!decodeOnly) format.reserve(&output_.output, format.writeAt());
    platform::InputFile input;
    const Status opened = c.inputName ? input.openNative(*c.inputName, c.folder, c.inputLinks)
                                      : input.open(c.inputPath);
    if (!opened.ok() && (input.refused() || opened.kind() == Status::Kind::kTooManyFiles)) {
      problem(c.inputPath, opened);  // nothing read, nothing made
      return outcome;
    }
    DestinationOptions options;
    if (opened.ok()) {
      options.cache = &input.facts();
    } else {
      // No cache file to convert: the empty document stands for it only
      // where no document stands already.
      options.onlyWhereNothingStands = true;
    }
    auto owned = std::make_unique<Destination>(c.output, options);
    Destination& destination = *owned;
    if (destination.file()->replacesCache()) {
      problem(c.inputPath, Status::io("not converted: its document would replace the cache file " +
                                      quotedName(c.inputPath)));
      return outcome;
    }
    uint32_t chats = 0;
    if (!opened.ok() || input.size() > kMaxInputSize) {
      problem(c.inputPath, !opened.ok() ? opened
                                        : Status::io("file is too large (" +
                                                     std::to_string(input.size()) +
                                                     " bytes); not converted"));
      if (!decodeOnly) chats = convertAlone(nullptr, c.id, &destination, &output_.output, format);
    } else if (decodeOnly) {
      RecordReader reader(&input, input.size(), &window_);
      chats = decodeAlone(&reader);
      addReaderProblems(reader, c.inputPath, &outcome);
    } else {
      RecordReader reader(&input, input.size(), &window_);
      // The second thread reads and formats a large file's windows while
      // this one formats; it ends before the reader does.
      std::optional<Background> background;
      if (input.size() > kBackgroundFrom && threads_ == Threads::kTwoForLargeInputs) {
        try {
          background.emplace();
          reader.readAhead(&spare_);
        } catch (const std::system_error&) {
          // no thread: everything is done here
        } catch (const std::bad_alloc&) {
          background.reset();  // no room for a second window: likewise
        }
      }
      chats = background ? convertInParts(&reader, c.id, &destination, &*background, &output_,
                                          &share_, format)
                         : convertAlone(&reader, c.id, &destination, &output_.output, format);
      addReaderProblems(reader, c.inputPath, &outcome);
    }
    const Status& written = finished != nullptr ? destination.finishWriting() : destination.commit();
    if (finished != nullptr && written.ok()) *finished = std::move(owned);
    if (written.ok()) {
      outcome.comments = chats;
    } else {
      problem(c.outputPath, written);
    }
  } catch (...) {
    // The destination is gone without its commit: the old document stays.
    addFailure(std::current_exception(), c.inputPath, &outcome);
  }
  return outcome;
}

}  // namespace ordil
