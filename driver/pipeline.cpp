#include "driver/pipeline.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>


namespace ordil {

namespace {

// The helper collects twice as much as the writer before it writes, so
// that its part of a window seldom has to wait for its turn.
constexpr size_t kHelperWriteAtFactor = 2;

enum class Turn { kWriter, kHelper };

// Whose bytes the destination takes: the writer's (this thread's), or,
// once the writer has handed over, the helper's part of the window.
class Turns {
 public:
  // Waits for the turn. Returns false when the run was abandoned. In the
  // writer's turn, rethrows what the helper passed the turn back with.
  bool await(Turn turn) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return turn_ == turn || abandoned_; });
    if (abandoned_) return false;
    if (helperFailure_ != nullptr) std::rethrow_exception(std::exchange(helperFailure_, nullptr));
    return true;
  }

  void pass(Turn to, std::exception_ptr failure = nullptr) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      turn_ = to;
      if (failure != nullptr) helperFailure_ = std::move(failure);
    }
    changed_.notify_all();
  }

  // For a run given up: whoever waits for a turn, or will, drops its bytes
  // instead of waiting for a turn that may not come.
  void abandon() noexcept {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      abandoned_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;   // turn_ or abandoned_ changed
  Turn turn_ = Turn::kWriter;         // guarded by mutex_
  bool abandoned_ = false;            // guarded by mutex_
  std::exception_ptr helperFailure_;  // guarded by mutex_; passed with the turn
};

// Hands a thread's bytes to the destination in that thread's turn.
class TurnSink final : public ByteSink {
 public:
  TurnSink(Turns* turns, Turn turn, ByteSink* destination)
      : turns_(turns), turn_(turn), destination_(destination) {}
  void write(const char* data, size_t n) override {
    if (turns_->await(turn_)) destination_->write(data, n);
  }

 private:
  Turns* const turns_;
  const Turn turn_;
  ByteSink* const destination_;
};

}  // namespace

void WindowShare::update(bool helperFinishedFirst) {
  if (fixed_) return;
  kept_ = std::clamp(kept_ + (helperFinishedFirst ? -1 : 1), kLeast, kMost);
}

uint32_t convertInParts(RecordReader* reader, int32_t id, ByteSink* destination,
                        Background* background, PipelineBuffers* buffers, WindowShare* share,
                        const DocumentFormat& format) {
  Turns turns;
  TurnSink writerSink(&turns, Turn::kWriter, destination);
  TurnSink helperSink(&turns, Turn::kHelper, destination);
  // The writer: this thread's alone.
  const std::unique_ptr<DocumentWriter> owned =
      format.makeWriter(&writerSink, &buffers->output, format.writeAt());
  DocumentWriter& writer = *owned;
  writer.writeHead(id);
  // The helper: the second thread's from the start of its format job until
  // wait() for that job returns, and again in its flush job.
  std::unique_ptr<DocumentWriter> helper;
  try {
    helper = format.makeWriter(&helperSink, &buffers->helperOutput,
                               kHelperWriteAtFactor * format.writeAt());
  } catch (const std::bad_alloc&) {
    // No room for the helper's buffer: every record is formatted here.
  }
  // The jobs refer to the helper, the walker and the reader's read: however
  // this ends, they end before those do.
  Background::Ticket last = 0;
  try {
    while (reader->nextWindow()) {
      Background::Ticket read = 0;
      if (WindowRead* ahead = reader->pendingRead()) {
        read = last = background->start([ahead] { ahead->run(); });
      }
      RecordWalker* const walker = reader->walker();
      RecordWalker front;
      uint32_t inFront = 0;
      if (!helper ||
          !walker->splitFront(share->bytesKept(walker->unconsumed().size()), &front, &inFront)) {
        writer.writeChats(walker);
      } else {
        const uint32_t before = writer.chats() + inFront;
        const Background::Ticket formatted = last = background->start([&helper, walker, before] {
          helper->numberFrom(before);
          helper->writeChats(walker);
        });
        writer.writeChats(&front);
        writer.flush();
        turns.pass(Turn::kHelper);
        // The turn goes back whatever happens, or the writer would wait
        // for it for ever; what the flush threw goes with it.
        last = background->start([&helper, &turns] {
          std::exception_ptr failure;
          try {
            helper->flush();
          } catch (...) {
            failure = std::current_exception();
          }
          turns.pass(Turn::kWriter, std::move(failure));
        });
        share->update(background->done(formatted));
        background->wait(formatted);
        writer.numberFrom(helper->chats());
      }
      background->wait(read);  // the next window is read before it is fed
    }
    writer.writeFoot();
    writer.flush();
  } catch (...) {
    turns.abandon();
    background->waitQuietly(last);
    throw;
  }
  background->wait(last);
  return writer.chats();
}

}  // namespace ordil
