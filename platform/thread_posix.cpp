// POSIX threads on stacks of our own: the C library caches the stacks it
// makes itself, never one it was given.
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <new>
#include <system_error>
#include <utility>

#include "platform/thread.h"

namespace ordil::platform {

namespace {

// The sanitizers keep state of their own on a thread's stack (ThreadSanitizer
// about 900 KiB of it) and widen its frames.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORDIL_SANITIZED_STACKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORDIL_SANITIZED_STACKS 1
#endif
#endif
#ifdef ORDIL_SANITIZED_STACKS
constexpr size_t kThreadStackSize = size_t{4} << 20;
#else
constexpr size_t kThreadStackSize = size_t{256} << 10;
#endif

}  // namespace

struct Thread::State {
  std::function<void()> job;
  pthread_t id{};
  void* stack = nullptr;  // kThreadStackSize bytes, a guard page below them
  size_t mapped = 0;
  bool joined = false;

  static void* run(void* state) {
    static_cast<State*>(state)->job();
    return nullptr;
  }
};

Thread::Thread(std::function<void()> job) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.job = std::move(job);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  s.mapped = kThreadStackSize + page;
  void* const at = mmap(nullptr, s.mapped, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (at == MAP_FAILED) throw std::bad_alloc();
  s.stack = at;
  // Stacks grow down: an overflow faults on the page below.
  mprotect(at, page, PROT_NONE);
  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error == 0) {
    error = pthread_attr_setstack(&attributes, static_cast<char*>(at) + page, kThreadStackSize);
    if (error == 0) error = pthread_create(&s.id, &attributes, &State::run, &s);
    pthread_attr_destroy(&attributes);
  }
  if (error != 0) {
    munmap(at, s.mapped);
    throw std::system_error(error, std::generic_category(), "cannot start a thread");
  }
}

Thread::Thread(Thread&& other) noexcept = default;

Thread::~Thread() { join(); }

void Thread::join() {
  if (state_ == nullptr || state_->joined) return;
  pthread_join(state_->id, nullptr);
  state_->joined = true;
  munmap(state_->stack, state_->mapped);
}

}  // namespace ordil::platform
