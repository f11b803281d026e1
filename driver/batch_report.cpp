#include "driver/batch_report.h"

#include <new>
#include <ostream>

#include "text/quote.h"

namespace ordil {

void Reporter::finished(size_t index, Result result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result.outcome.complete()) ++incomplete_;
  ++finishedCount_;
  if (index == printed_) {
    print(result);
    ++printed_;
  } else {
    try {
      waiting_.emplace(index, std::move(result));
    } catch (const std::bad_alloc&) {
      // No room to keep it for its turn: printed now, out of order,
      // rather than lost.
      print(result);
    }
  }
  // Only the results that finished before one listed ahead of them wait.
  for (auto next = waiting_.begin(); next != waiting_.end() && next->first == printed_;
       next = waiting_.erase(next)) {
    print(next->second);
    ++printed_;
  }
  drawProgress(false);
}

void Reporter::end() {
  std::lock_guard<std::mutex> lock(mutex_);
  eraseProgress();
}

void Reporter::print(const Result& result) {
  const Outcome& outcome = result.outcome;
  if (outcome.undecodable) undecodable_ = true;
  if (!outcome.complete()) {
    eraseProgress();
    for (const Problem& p : outcome.problems) printProblem(*context_.err, p.path, p.status.message());
    if (outcome.problems.empty()) printProblem(*context_.err, result.inputPath, "not enough memory");
    context_.err->flush();
  }
  if (options_.verbose) {
    if (isPrintableName(result.inputPath)) {
      *context_.out << result.inputPath << ": ";
    } else {
      *context_.out << quotedName(result.inputPath) << ": ";
    }
    if (result.skipped) {
      *context_.out << "up to date";
    } else {
      if (!outcome.complete()) *context_.out << "incomplete, ";
      *context_.out << outcome.comments << " comments";
    }
    *context_.out << '\n';
  }
}

void Reporter::drawProgress(bool force) noexcept {
  if (!progress_) return;
  try {
    drawProgressLine(force);
  } catch (const std::bad_alloc&) {
  }
}

void Reporter::drawProgressLine(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  std::string line = "ordil: " + std::to_string(finishedCount_) + " of " +
                     std::to_string(files_) + " files, " +
                     std::to_string(incomplete_) + " incomplete";
  std::string text = "\r" + line;
  if (line.size() < shownLength_) text.append(shownLength_ - line.size(), ' ');
  *context_.err << text << std::flush;
  shown_ = true;
  shownLength_ = line.size();
}

void Reporter::eraseProgress() {
  if (!shown_) return;
  *context_.err << '\r';
  for (size_t i = 0; i < shownLength_; ++i) context_.err->put(' ');
  *context_.err << '\r' << std::flush;
  shown_ = false;
  shownLength_ = 0;
}

}  // namespace ordil
