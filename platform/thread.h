// The threads the program starts: the batch mode's jobs and the second
// thread of a large file.
#ifndef ORDIL_PLATFORM_THREAD_H_
#define ORDIL_PLATFORM_THREAD_H_

#include <functional>
#include <memory>

namespace ordil::platform {

// A thread whose stack (256 KiB: the work keeps little on it) is taken
// when it starts and given back when it is joined. A thread of the system's default stack (8 MiB on Linux) counts
// against a limit on the address space while it runs and, on Linux, after
// it is joined too, when the C library keeps its stack for the next
// thread: what converts under such a limit would then depend on how many
// jobs had run before. Once a Thread is joined, nothing of it remains.
class Thread {
 public:
  // Starts job on a new thread. job must not throw. Throws
  // std::system_error when no thread can be started, std::bad_alloc when
  // no stack can be had.
  explicit Thread(std::function<void()> job);
  ~Thread();  // joins, when not joined yet

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&&) = delete;

  // Waits for the job to end, and gives the stack back.
  void join();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_THREAD_H_
