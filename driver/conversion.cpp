#include "driver/conversion.h"

#include <limits>
#include <new>

#include "cache/record_reader.h"
#include "platform/input_file.h"

namespace ordil {

namespace {

// The largest input taken: the format's sizes are 32-bit.
constexpr uint64_t kMaxInputSize = std::numeric_limits<uint32_t>::max();
static_assert(std::numeric_limits<size_t>::max() >= kMaxInputSize);

}  // namespace

Outcome Converter::convert(const Conversion& c) {
  Outcome outcome;
  const auto problem = [&](const std::string& path, const Status& status) {
    outcome.problems.push_back({path, status});
  };
  try {
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
