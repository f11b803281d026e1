#include "driver/conversion.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <new>
#include <system_error>

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

namespace {

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
    const Status opened = c.inputName ? input.openNative(*c.inputName, c.folder) : input.open(c.inputPath);
    if (!opened.ok()) {
      problem(c.inputPath, opened);
    } else if (input.size() > kMaxInputSize) {
      problem(c.inputPath, Status::io("file is too large (" + std::to_string(input.size()) +
                                      " bytes); not converted"));
    } else {
      RecordReader reader(&input, input.size(), &window_);
      if (input.size() > kBackgroundFrom && threads_ == Threads::kTwoForLargeInputs) {
        try {
          background = std::make_unique<Background>();
          reader.readAhead(background.get(), &spare_);
        } catch (const std::system_error&) {
          // no thread: everything is done here
        } catch (const std::bad_alloc&) {
          background.reset();  // no room for a second window: likewise
        }
      }
      if (background != nullptr) {
        convertInParts(&reader, &writer, background.get(), &helperOutput_, &share_);
      } else {
        while (reader.nextWindow()) writer.writeChats(reader.walker());
      }
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
  } catch (...) {
    // The writer is gone without finishing: the old document stays.
    addFailure(std::current_exception(), c.inputPath, &outcome);
  }
  return outcome;
}

void WindowShare::update(bool helperFinishedFirst) {
  if (fixed_) return;
  kept_ = std::clamp(kept_ + (helperFinishedFirst ? -1 : 1), kLeast, kMost);
}

void convertInParts(RecordReader* reader, CommentXmlWriter* writer, Background* background,
                    platform::Buffer* helperBuffer, WindowShare* share) {
  std::optional<CommentXmlWriter::Helper> helper;
  try {
    helper.emplace(writer, helperBuffer);
  } catch (const std::bad_alloc&) {
    // No room for the helper's buffer: every record is formatted here.
    while (reader->nextWindow()) writer->writeChats(reader->walker());
    return;
  }
  // The helper's jobs refer to it, to the writer and to the reader's
  // walker: however this ends, they end before those do.
  Background::Ticket last = 0;
  std::exception_ptr formatFailure;
  try {
    while (reader->nextWindow()) {
      RecordWalker* const walker = reader->walker();
      RecordWalker front;
      uint32_t inFront = 0;
      if (!walker->splitFront(share->bytesKept(walker->unconsumed().size()), &front, &inFront)) {
        writer->writeChats(walker);
        continue;
      }
      const uint32_t before = writer->chats() + inFront;
      const Background::Ticket formatted =
          background->start([&helper, walker, before, &formatFailure] {
            try {
              helper->begin(before);
              helper->writeChats(walker);
            } catch (...) {
              formatFailure = std::current_exception();
            }
          });
      last = formatted;
      writer->writeChats(&front);
      writer->handOver();
      last = background->start([&helper] { helper->end(); });
      share->update(background->done(formatted));
      background->wait(formatted);
      if (formatFailure != nullptr) std::rethrow_exception(formatFailure);
      writer->join(*helper);
    }
  } catch (...) {
    writer->abandon();
    background->waitQuietly(last);
    throw;
  }
  background->wait(last);
}

}  // namespace ordil
