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

  int remember(const Char* name) {
    for (int i = 0; i < kMaxPendingFiles; ++i) {
      const Char* expected = nullptr;
      if (slots_[i].compare_exchange_strong(expected, name)) return i;
    }
    return -1;
  }

  void forget(int ticket) {
    if (ticket >= 0 && ticket < kMaxPendingFiles) slots_[ticket].store(nullptr);
  }

  // Calls remove(name) for every pending name, each at most once. Safe in a
  // signal handler when remove is.
  template <typename Remove>
  void removeAll(Remove remove) {
    for (std::atomic<const Char*>& slot : slots_) {
      const Char* name = slot.exchange(nullptr);
      if (name != nullptr) remove(name);
    }
  }

 private:
  std::atomic<const Char*> slots_[kMaxPendingFiles] = {};
};

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_PENDING_FILES_H_
