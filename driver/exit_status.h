// The exit status of a run, decided in this one place from the failures
// it met.
#ifndef ORDIL_DRIVER_EXIT_STATUS_H_
#define ORDIL_DRIVER_EXIT_STATUS_H_

#include "base/status.h"

namespace ordil {

// Exit statuses.
inline constexpr int kExitOk = 0;          // complete conversion, or --help
inline constexpr int kExitIncomplete = 1;  // some comments or the file lost
inline constexpr int kExitUsage = 2;       // no path, or no "ashx" in it

// The exit status of a run: the worst of what it met. A failure of kind
// kUsage (a path that cannot be used) gives kExitUsage, any other failure
// or a file not converted whole kExitIncomplete.
class ExitStatus {
 public:
  void add(const Status& failure) {
    if (!failure.ok()) worsen(failure.kind() == Status::Kind::kUsage ? kExitUsage : kExitIncomplete);
  }
  void addIncomplete() { worsen(kExitIncomplete); }
  int value() const { return value_; }

 private:
  void worsen(int status) { value_ = status > value_ ? status : value_; }
  int value_ = kExitOk;
};

}  // namespace ordil

#endif  // ORDIL_DRIVER_EXIT_STATUS_H_
