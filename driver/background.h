// A second thread that runs jobs for its owner one after another, in the
// order they were handed over, so that reads and formatting can go on while
// the owner works on something else (driver/pipeline.h). A job that throws
// does not end the process: what it threw reaches the owner.
#ifndef ORDIL_DRIVER_BACKGROUND_H_
#define ORDIL_DRIVER_BACKGROUND_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

#include "platform/thread.h"

namespace ordil {

// start(), done(), wait() and destruction belong to the owner's thread;
// the jobs run on the second one.
class Background {
 public:
  // Says which job to wait for.
  using Ticket = uint64_t;

  // Starts the thread. Throws std::system_error when it cannot be started,
  // std::bad_alloc when its stack cannot be had (the owner then does its
  // jobs itself).
  Background() : thread_([this] { run(); }) {}

  // Runs the jobs handed over, and stops the thread.
  ~Background() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // Hands over a job, to run after those handed over before it. What the
  // job touches is the thread's until wait() for its ticket returns.
  // Throws std::bad_alloc when the job cannot be queued.
  Ticket start(std::function<void()> job) {
    Ticket ticket;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      jobs_.push_back(std::move(job));
      ticket = ++started_;
    }
    changed_.notify_all();
    return ticket;
  }

  // Whether the job of the ticket (and every job before it) is done.
  bool done(Ticket ticket) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lastDone_ >= ticket;
  }

  // Waits until the job of the ticket (and every job before it) is done;
  // returns at once for one done already, or for ticket 0. Then rethrows
  // the first exception a job threw and no wait() has rethrown yet.
  void wait(Ticket ticket) {
    std::exception_ptr failure;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return lastDone_ >= ticket; });
      failure = std::exchange(failure_, nullptr);
    }
    if (failure != nullptr) std::rethrow_exception(failure);
  }

  // Waits as wait() does, and drops what a job threw: for an owner that is
  // giving up already (a destructor, a failure being handled).
  void waitQuietly(Ticket ticket) noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return lastDone_ >= ticket; });
    failure_ = nullptr;
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !jobs_.empty() || stop_; });
      if (jobs_.empty()) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      std::exception_ptr failure;
      try {
        job();
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      if (failure != nullptr && failure_ == nullptr) failure_ = std::move(failure);
      ++lastDone_;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;                 // a job handed over or done, or stop_
  std::deque<std::function<void()>> jobs_;          // guarded by mutex_
  Ticket started_ = 0;                              // guarded by mutex_
  Ticket lastDone_ = 0;                                 // guarded by mutex_
  std::exception_ptr failure_;                      // guarded by mutex_
  bool stop_ = false;                               // guarded by mutex_
  platform::Thread thread_;  // last: starts once the rest is set
};

}  // namespace ordil

#endif  // ORDIL_DRIVER_BACKGROUND_H_
