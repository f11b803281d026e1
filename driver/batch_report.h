// The batch's report: each file's lines in the order of the list, however
// the jobs finish, and a status line on a terminal.
#ifndef ORDIL_DRIVER_BATCH_REPORT_H_
#define ORDIL_DRIVER_BATCH_REPORT_H_

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "driver/batch.h"
#include "driver/conversion.h"
#include "driver/run_driver.h"

namespace ordil {

// What became of one file.
struct Result {
  std::string inputPath;  // as messages name it
  Outcome outcome;
  bool skipped = false;  // up to date (--update)
};

// Prints the results in the order of the list as they become ready, and the
// progress line, from whichever job finishes a file; all under one lock, so
// that lines are whole and never interleaved.
class Reporter {
 public:
  // files: how many the list holds. With progress (standard error is a
  // terminal), a status line counts the files done, redrawn in place.
  Reporter(size_t files, const BatchOptions& options, const RunContext& context, bool progress)
      : files_(files), options_(options), context_(context), progress_(progress) {}

  // Takes the result of the file at index in the list, from any job: its
  // problems on standard error and, with verbose, its line on standard
  // output, once every file before it has been printed. Needs no memory
  // beyond keeping a result for its turn (printed at once, out of order,
  // when even that cannot be had).
  void finished(size_t index, Result result);

  // Erases the progress line at the end.
  void end();

  // Once the jobs have ended: whether any file was incomplete, and whether
  // any record could not be decoded.
  bool anyIncomplete() const { return incomplete_ > 0; }
  bool undecodable() const { return undecodable_; }

 private:
  // Streams the lines piece by piece, so that printing needs no memory.
  void print(const Result& result);
  // Draws at most ten times a second; a line that cannot be made (no
  // memory) is not drawn.
  void drawProgress(bool force) noexcept;
  void drawProgressLine(bool force);
  // Needs no memory, as print() does.
  void eraseProgress();

  const size_t files_;
  const BatchOptions& options_;
  const RunContext& context_;  // its streams: written under mutex_
  const bool progress_;
  // Every job reports through finished(); the fields below are guarded by
  // mutex_, and read without it only once the jobs have ended.
  std::mutex mutex_;
  std::map<size_t, Result> waiting_;  // finished, not printed yet
  size_t finishedCount_ = 0, printed_ = 0, incomplete_ = 0;
  bool undecodable_ = false;
  bool shown_ = false;
  size_t shownLength_ = 0;
  std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace ordil

#endif  // ORDIL_DRIVER_BATCH_REPORT_H_
