// File operations that fail where a test asks: the n-th call of one step
// fails as a full or broken device would make it, and every other call is
// the platform's own.
#ifndef ORDIL_TESTS_FAULTY_FILE_OPS_H_
#define ORDIL_TESTS_FAULTY_FILE_OPS_H_

#include <atomic>
#include <string>

#include "platform/file_ops.h"

namespace ordil::testing {

class FaultyFileOps final : public platform::FileOps {
 public:
  enum class Step { kNone, kCreate, kWrite, kFlush, kClose, kRename, kFlushFileSystem, kFlushFile };

  // Makes the n-th call (from 1) of step fail; fail() adds another.
  FaultyFileOps(Step step, int n) { fail(step, n); }
  FaultyFileOps& fail(Step step, int n) {
    failAt_[static_cast<int>(step)] = n;
    return *this;
  }

  Status place(const platform::NativeFileName& name, const platform::Creation& how,
               Place* place) override {
    return real_->place(name, how, place);
  }
  Status createHidden(const Place& place, const platform::NativeFileName& hidden, intptr_t* handle,
                      bool* taken) override {
    if (fails(Step::kCreate)) return Status::io("cannot create: No space left on device");
    return real_->createHidden(place, hidden, handle, taken);
  }
  Status write(intptr_t handle, const char* data, size_t n) override {
    if (fails(Step::kWrite)) return Status::io("write failed: No space left on device");
    return real_->write(handle, data, n);
  }
  void setPermissions(intptr_t handle, const platform::FileFacts* cache) override {
    real_->setPermissions(handle, cache);
  }
  Status flush(intptr_t handle) override {
    if (fails(Step::kFlush)) return Status::io("write failed: Input/output error");
    return real_->flush(handle);
  }
  void startWriteBack(intptr_t handle, uint64_t* device) override {
    real_->startWriteBack(handle, device);
  }
  Status close(intptr_t handle) override {
    const Status closed = real_->close(handle);
    if (fails(Step::kClose)) return Status::io("write failed: Input/output error");
    return closed;
  }
  Status rename(const Place& place, const platform::NativeFileName& hidden, bool replace,
                bool* taken) override {
    if (fails(Step::kRename)) return Status::io("cannot replace: Permission denied");
    return real_->rename(place, hidden, replace, taken);
  }
  void remove(const Place& place, const platform::NativeFileName& hidden) override {
    real_->remove(place, hidden);
  }
  bool flushFileSystem(const Place& place, const platform::NativeFileName& hidden) override {
    if (fails(Step::kFlushFileSystem)) return false;
    return real_->flushFileSystem(place, hidden);
  }
  Status flushFile(const Place& place, const platform::NativeFileName& hidden) override {
    if (fails(Step::kFlushFile)) return Status::io("write failed: Input/output error");
    return real_->flushFile(place, hidden);
  }
  intptr_t descriptor(int number) override { return real_->descriptor(number); }

 private:
  static constexpr int kSteps = 8;
  bool fails(Step step) {
    const int i = static_cast<int>(step);
    return ++calls_[i] == failAt_[i];
  }

  platform::FileOps* const real_ = platform::systemFileOps();
  int failAt_[kSteps] = {};           // 0: never
  std::atomic<int> calls_[kSteps] = {};
};

}  // namespace ordil::testing

#endif  // ORDIL_TESTS_FAULTY_FILE_OPS_H_
