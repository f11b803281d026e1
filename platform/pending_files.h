// The table of pending files behind platform/interrupt.h, shared by its
// POSIX and Windows sides. Lock-free, so that a signal handler may empty it.
#ifndef ORDIL_PLATFORM_PENDING_FILES_H_
#define ORDIL_PLATFORM_PENDING_FILES_H_

#include <atomic>

#include "platform/interrupt.h"

namespace ordil::platform {

template <typename Char>
class PendingFiles {
 public:
  static_assert(std::atomic<const Char*>::is_always_lock_free);

  // Takes a free slot, looking from where the last search began, so that
  // a table with many names in it takes few tries.
  int remember(const Char* name) {
    const unsigned start = next_.fetch_add(1, std::memory_order_relaxed);
    for (unsigned k = 0; k < kMaxPendingFiles; ++k) {
      const int i = static_cast<int>((start + k) % kMaxPendingFiles);
      const Char* expected = nullptr;
      if (slots_[i].compare_exchange_strong(expected, name)) return i;
    }
    return -1;
  }

  void forget(int ticket) {
    if (ticket >= 0 && ticket < kMaxPendingFiles) slots_[ticket].store(nullptr);
  }

  // Whether removeAll() has begun.
  bool closing() const { return closing_.load(); }

  // Calls remove(name) for every pending name, each at most once. Safe in a
  // signal handler when remove is. A file made pending while it runs is
  // left to its maker, who sees closing() once the file is made.
  template <typename Remove>
  void removeAll(Remove remove) {
    closing_.store(true);
    for (std::atomic<const Char*>& slot : slots_) {
      const Char* name = slot.exchange(nullptr);
      if (name != nullptr) remove(name);
    }
  }

 private:
  std::atomic<const Char*> slots_[kMaxPendingFiles] = {};
  std::atomic<unsigned> next_{0};
  std::atomic<bool> closing_{false};
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_PENDING_FILES_H_
