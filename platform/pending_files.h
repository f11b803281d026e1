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
  static_assert(std::atomic<int>::is_always_lock_free);

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

  // A maker of a pending file is between remembering it and asking
  // closing() once it is made: the file may appear after removeAll() has
  // passed its slot, and only its maker can remove it then.
  void beginMaking() { makers_.fetch_add(1); }
  void endMaking() { makers_.fetch_sub(1); }

  // After removeAll(): waits, pausing with pause(), until no maker is left
  // but the caller's own thread (ownThreadMaking), or tries run out. Safe
  // in a signal handler when pause is.
  template <typename Pause>
  void awaitMakers(bool ownThreadMaking, int tries, Pause pause) const {
    const int own = ownThreadMaking ? 1 : 0;
    for (int i = 0; i < tries && makers_.load() > own; ++i) pause();
  }

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
  std::atomic<int> makers_{0};
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_PENDING_FILES_H_
