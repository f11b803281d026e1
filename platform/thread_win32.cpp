// Windows threads: the system gives a thread's stack back when it ends.
#include <thread>
#include <utility>

#include "platform/thread.h"

namespace ordil::platform {

struct Thread::State {
  std::thread thread;
};

Thread::Thread(std::function<void()> job)
    : state_(std::make_unique<State>(State{std::thread(std::move(job))})) {}

Thread::Thread(Thread&& other) noexcept = default;

Thread::~Thread() { join(); }

void Thread::join() {
  if (state_ != nullptr && state_->thread.joinable()) state_->thread.join();
}

}  // namespace ordil::platform
