// A second thread that runs one job at a time for its owner, so that a
// read or a write can go on while the owner works on something else.
#ifndef ORDIL_BASE_BACKGROUND_H_
#define ORDIL_BASE_BACKGROUND_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ordil {

class Background {
 public:
  // Starts the thread. Throws std::system_error when it cannot be started
  // (the owner then does its jobs itself).
  Background() : thread_([this] { run(); }) {}

  // Waits for the job at hand, if any, and stops the thread.
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

  // Hands over a job; the thread must be idle (wait() returned since the
  // last start). What the job touches is the thread's until wait() returns.
  void start(std::function<void()> job) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      job_ = std::move(job);
      busy_ = true;
    }
    changed_.notify_all();
  }

  // Waits until the job handed over last is done; returns at once when
  // there is none. What the job wrote is then the owner's.
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return busy_ || stop_; });
      if (!busy_) return;
      std::function<void()> job = std::move(job_);
      lock.unlock();
      job();
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;  // last: starts once the rest is set
};

}  // namespace ordil

#endif  // ORDIL_BASE_BACKGROUND_H_
