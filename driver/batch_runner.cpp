#include "driver/batch_runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/interrupt.h"
#include "platform/output_file.h"
#include "platform/thread.h"

namespace ordil {

namespace {

static_assert(kMaxJobs <= platform::kMaxPendingFiles, "every job's document must be removable");

// A group is made durable when it holds this many documents, or this many
// bytes of them, whichever comes first (fewer documents where the open
// files allowed are few: each keeps its folder open).
constexpr uint64_t kGroupBytes = uint64_t{64} << 20;

// Every job's file may be pending beside a group being put in place and the
// next one, filling.
static_assert(2 * kGroupDocuments + kMaxJobs <= platform::kMaxPendingFiles,
              "every hidden file must be removable when the run is interrupted");

// The documents written to their hidden files and not yet in place, made
// durable a group at a time, as Git's batch mode and dpkg do: one flush for
// the group (OutputFile::makeDurable), then each hidden file renamed over
// its document, and only then is the file counted and reported. A power
// loss leaves each name with its old document or the whole new one: a name
// changes only once the bytes behind it are on the device. A group holds
// names and closed files, not documents; the hidden files pending are those
// of the group being put in place, of the next one, filling, and those the
// jobs are writing. Any job adds; the job that fills a group makes it
// durable and puts it in place while the others go on converting and fill
// the next one (a job that would overfill it waits), so that a slow flush
// holds up one job, not all of them.
class DurableGroups {
 public:
  // documents: how many a group holds at most (1 to kGroupDocuments).
  DurableGroups(Reporter* reporter, size_t documents)
      : reporter_(reporter), documents_(documents) {
    filling_.reserve(kGroupDocuments);
    flushing_.reserve(kGroupDocuments);
    files_.reserve(kGroupDocuments);
    flushed_.reserve(kGroupDocuments);
  }

  // Takes a file's finished document; when the group is full, makes it
  // durable and puts it in place on this thread, once the group before is
  // in place. Needs no memory.
  void add(size_t index, Result result, Finished finished) {
    std::unique_lock<std::mutex> lock(mutex_);
    groupChanged_.wait(lock, [this] { return filling_.size() < documents_; });
    bytes_ += finished.document->bytesWritten();
    filling_.push_back({index, std::move(result), std::move(finished)});
    if (!full()) return;
    groupChanged_.wait(lock, [this] { return !busy_; });
    // Another job that found the group full while this one waited may have
    // put it in place already.
    if (full()) putInPlaceLocked(&lock);
  }

  // Puts the rest in place: at the end of the batch, once every job has
  // ended.
  void finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    groupChanged_.wait(lock, [this] { return !busy_; });
    if (!filling_.empty()) putInPlaceLocked(&lock);
  }

 private:
  struct Entry {
    size_t index;
    Result result;
    Finished finished;
  };

  // Whether the filling group is due to be made durable; mutex_ held.
  bool full() const { return filling_.size() >= documents_ || bytes_ >= kGroupBytes; }

  // Takes the group for this thread, makes it durable and puts each
  // document in place outside the lock, then reports each file.
  void putInPlaceLocked(std::unique_lock<std::mutex>* lock) {
    std::swap(filling_, flushing_);  // each keeps its room
    bytes_ = 0;
    busy_ = true;
    groupChanged_.notify_all();  // the next group may fill
    lock->unlock();
    files_.clear();
    for (Entry& e : flushing_) files_.push_back(e.finished.document->file());
    bool flushed = true;
    try {
      platform::OutputFile::makeDurable(files_, &flushed_);
    } catch (...) {
      flushed = false;  // no memory for a failure's message: none is put in place
    }
    for (size_t i = 0; i < flushing_.size(); ++i) {
      Entry& e = flushing_[i];
      const Status& placed = !flushed             ? noMemory_
                             : !flushed_[i].ok() ? flushed_[i]
                                                 : e.finished.document->commitFinished();
      if (!placed.ok()) {
        e.result.outcome.comments = 0;
        if (&placed == &noMemory_) e.result.outcome.outOfMemory = true;
        try {
          e.result.outcome.problems.push_back({e.finished.outputPath, placed});
        } catch (...) {
          e.result.outcome.outOfMemory = true;
        }
      }
      e.finished = Finished();  // removes a hidden file not renamed, closes the folder
      reporter_->finished(e.index, std::move(e.result));
    }
    flushing_.clear();
    lock->lock();
    busy_ = false;
    groupChanged_.notify_all();
  }

  Reporter* const reporter_;
  const size_t documents_;
  const Status noMemory_ = Status::noMemory();
  std::mutex mutex_;
  std::condition_variable groupChanged_;  // busy_ became false, or filling_ was taken
  std::vector<Entry> filling_;    // guarded by mutex_
  uint64_t bytes_ = 0;            // of filling_'s documents; guarded by mutex_
  bool busy_ = false;             // a group is being put in place; guarded by mutex_
  // The thread that set busy_ alone uses these until it clears it.
  std::vector<Entry> flushing_;
  std::vector<platform::OutputFile*> files_;
  std::vector<Status> flushed_;
};

}  // namespace

size_t groupDocumentsFor(size_t openFiles, unsigned jobs) {
  const size_t spare = openFiles > 64 + 8 * size_t{jobs} ? openFiles - 64 - 8 * size_t{jobs} : 0;
  return std::clamp<size_t>(spare / 2, 1, kGroupDocuments);
}

void runConversions(size_t count, unsigned jobs, size_t groupDocuments,
                    ItemConversion* conversion, Reporter* reporter, Converter::Threads threads) {
  std::vector<platform::Thread> jobThreads;
  // The files that ran out of memory or open files while other jobs ran
  // beside them. A bit for each file, taken before the jobs start, so that
  // putting one off takes no memory. Guarded by deferredMutex.
  std::vector<bool> deferred(jobs > 1 ? count : 0);
  std::mutex deferredMutex;
  std::atomic<size_t> next{0};
  DurableGroups groups(reporter, groupDocuments);
  // Converts a file and hands its result on: to the group when its
  // document waits to be put in place, to the reporter otherwise.
  const auto convertAndReport = [&](size_t i, Converter* converter, bool mayDefer) {
    Finished finished;
    Result result = conversion->convert(i, converter, &finished);
    if ((result.outcome.outOfMemory || result.outcome.outOfFiles()) && mayDefer) {
      const std::lock_guard<std::mutex> lock(deferredMutex);
      deferred[i] = true;
    } else if (finished.document != nullptr) {
      groups.add(i, std::move(result), std::move(finished));
    } else {
      reporter->finished(i, std::move(result));
    }
  };
  const auto work = [&](Converter* converter) {
    for (size_t i; (i = next.fetch_add(1)) < count;) convertAndReport(i, converter, jobs > 1);
  };
  try {
    jobThreads.reserve(jobs);
    for (unsigned j = 1; j < jobs; ++j) {
      jobThreads.emplace_back([&work, threads] {
        Converter converter(threads);
        work(&converter);
      });
    }
  } catch (...) {
    // No more threads to be had: the jobs started share the list.
  }
  {
    Converter converter(threads);
    work(&converter);  // this thread is a job too
  }
  for (platform::Thread& t : jobThreads) t.join();
  // Every other job's memory is released now, and its files closed once
  // the documents waiting are in place; each file put off is converted on
  // one thread, with the least memory a conversion takes.
  groups.finish();
  for (size_t i = 0; i < deferred.size(); ++i) {
    if (!deferred[i]) continue;
    Converter alone(Converter::Threads::kOne);
    convertAndReport(i, &alone, false);
  }
  groups.finish();
}

}  // namespace ordil
