#include "driver/conversion.h"

#include <limits>
#include <memory>
#include <new>
#include <system_error>

#include "cache/record_reader.h"
#include "platform/input_file.h"

namespace ordil {

namespace {

// The largest input taken: the format's sizes are 32-bit.
constexpr uint64_t kMaxInputSize = std::numeric_limits<uint32_t>::max();
static_assert(std::numeric_limits<size_t>::max() >= kMaxInputSize);

// Inputs over this size are read ahead and their documents written by a
// second thread; for less, starting one costs more than it spares.
constexpr uint64_t kBackgroundFrom = 2 * kReadWindowSize;

}  // namespace

Outcome Converter::convert(const Conversion& c) {
  Outcome outcome;
  const auto problem = [&](const std::string& path, const Status& status) {
    outcome.problems.push_back({path, status});
  };
  try {
    // One thread reads the next window and writes the last block of a
    // large file while this one converts; it outlives the reader and the
    // writer, which wait for their own jobs.
    std::unique_ptr<Background> background;
    // The document is started before the input is looked at, so that a
    // missing input still leaves the head-and-foot document.
    CommentXmlWriter writer(c.output, c.id, &output_);
    platform::InputFile input;
    const Status opened = c.inputName ? input.openNative(*c.inputName) : input.open(c.inputPath);
    if (!opened.ok()) {
      problem(c.inputPath, opened);
    } else if (input.size() > kMaxInputSize) {
      problem(c.inputPath, Status::io("file is too large (" + std::to_string(input.size()) +
                                      " bytes); not converted"));
    } else {
      RecordReader reader(&input, input.size(), &window_);
      if (input.size() > kBackgroundFrom) {
        try {
          background = std::make_unique<Background>();
          reader.readAhead(background.get(), &spare_);
          writer.shareBackground(background.get());
        } catch (const std::system_error&) {
          // no thread: the reads and writes are done here
        } catch (const std::bad_alloc&) {
          // no room for a second window: the reads are done here
        }
      }
      CacheRecord record;
      while (reader.next(&record)) writer.writeChat(record);
      if (!reader.readStatus().ok()) problem(c.inputPath, reader.readStatus());
      if (!reader.decodeStatus().ok()) {
        outcome.undecodable = true;
        problem(c.inputPath, reader.decodeStatus());
      }
    }
    const Status& written = writer.finish();
    if (written.ok()) {
      outcome.comments = writer.chats();
    } else {
      problem(c.outputPath, written);
    }
  } catch (const std::bad_alloc&) {
    // The writer is gone without finishing: the old document stays.
    problem(c.inputPath, Status::noMemory());
  }
  return outcome;
}

}  // namespace ordil
