// The output file's protocol, the same on every platform: a hidden file
// beside the destination, written, given its final permissions, flushed
// alone or in a group, and renamed over the destination; removed on any
// failure or interruption. Each step is a FileOps call.
#include "platform/output_file.h"

#include "platform/temporary_name.h"

namespace ordil::platform {

OutputFile::~OutputFile() { discard(); }

Status OutputFile::create(const NativeFileName& name, const Creation& how) {
  discard();
  place_ = FileOps::Place();
  hasCache_ = how.cache != nullptr;
  if (hasCache_) cache_ = *how.cache;
  noReplace_ = how.onlyWhereNothingStands;
  if (const Status placed = ops_->place(name, how, &place_); !placed.ok()) return placed;
  if (place_.skip) return Status();
  if (place_.inPlace != -1) {
    handle_ = place_.inPlace;
    place_.inPlace = -1;
    return Status();
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Remembered before it exists, so that no interruption leaves it behind.
    // A hidden name beside a link's absolute target is whole already.
    temporary_ = temporaryNameFor(place_.target, randomNumber(), place_.separators);
    pendingName_ = place_.wholePrefix.empty() || (!temporary_.empty() && temporary_[0] == '/')
                       ? temporary_
                       : place_.wholePrefix + temporary_;
    // Begun only once nothing can throw before the file is made and asked
    // after, so that an interruption never waits for a maker that is gone.
    beginMakingPendingFile();
    pendingTicket_ = rememberPendingFile(pendingName_);
    intptr_t h = -1;
    bool taken = false;
    const Status made = ops_->createHidden(place_, temporary_, &h, &taken);
    if (!made.ok()) {
      forgetTemporary();
      endMakingPendingFile();
      if (taken) continue;
      return made;
    }
    if (interrupted()) {
      // Made after the interruption looked for it: removed here.
      ops_->close(h);
      ops_->remove(place_, temporary_);
      endMakingPendingFile();
      awaitInterruptionsEnd();
    }
    endMakingPendingFile();
    handle_ = h;
    return Status();
  }
  return Status::io("cannot create: no hidden name could be had");
}

void OutputFile::useDescriptor(int descriptor) {
  discard();
  handle_ = ops_->descriptor(descriptor);
  standardOutput_ = true;
}

Status OutputFile::write(const char* data, size_t n) {
  if (place_.skip) return Status();
  if (handle_ == -1) return Status::io("write failed: the file is not open");
  return ops_->write(handle_, data, n);
}

Status OutputFile::commit() {
  if (place_.skip) return Status();
  if (handle_ == -1) return Status::io("write failed: the file is not open");
  const intptr_t h = handle_;
  handle_ = -1;
  if (standardOutput_) {
    standardOutput_ = false;
    return Status();  // the descriptor stays open for the process
  }
  if (temporary_.empty()) return ops_->close(h);  // written in place
  ops_->setPermissions(h, hasCache_ ? &cache_ : nullptr);
  // The bytes reach the device before the name does, so that after a power
  // loss the name holds the old document or the whole new one.
  Status done = ops_->flush(h);
  const Status closed = ops_->close(h);
  if (done.ok()) done = closed;
  if (!done.ok()) {
    discard();
    return done;
  }
  return renameIntoPlace();
}

Status OutputFile::finishWriting() {
  if (place_.skip || handle_ == -1 || standardOutput_ || temporary_.empty()) return commit();
  const intptr_t h = handle_;
  handle_ = -1;
  ops_->setPermissions(h, hasCache_ ? &cache_ : nullptr);
  // Only starts the write-back; a failure of it shows at the flush.
  ops_->startWriteBack(h, &device_);
  if (const Status closed = ops_->close(h); !closed.ok()) {
    discard();
    return closed;
  }
  finished_ = true;
  return Status();
}

Status OutputFile::commitFinished() {
  if (!finished_) return Status();  // written in place, and closed already
  return renameIntoPlace();
}

Status OutputFile::renameIntoPlace() {
  if (interrupted()) awaitInterruptionsEnd();  // renames nothing once it has begun
  bool taken = false;
  const Status renamed = ops_->rename(place_, temporary_, !noReplace_, &taken);
  if (!renamed.ok()) {
    discard();
    if (noReplace_ && taken) return Status();  // what appeared there stays
    return renamed;
  }
  forgetTemporary();
  return Status();
}

void OutputFile::discard() {
  if (handle_ != -1 && !standardOutput_) ops_->close(handle_);
  handle_ = -1;
  standardOutput_ = false;
  if (!temporary_.empty()) ops_->remove(place_, temporary_);
  forgetTemporary();
  place_.skip = false;
}

void OutputFile::makeDurable(const std::vector<OutputFile*>& files, std::vector<Status>* results) {
  results->assign(files.size(), Status());
  for (size_t i = 0; i < files.size(); ++i) {
    const OutputFile& first = *files[i];
    if (!first.finished_) continue;
    // Only the first finished file of each file system flushes it.
    bool seen = false;
    for (size_t j = 0; j < i && !seen; ++j) {
      seen = files[j]->finished_ && files[j]->device_ == first.device_;
    }
    if (seen || first.ops_->flushFileSystem(first.place_, first.temporary_)) continue;
    // Failed, or no such flush here: each file of the file system alone,
    // so that only the files that fail are lost.
    for (size_t j = i; j < files.size(); ++j) {
      const OutputFile& file = *files[j];
      if (file.finished_ && file.device_ == first.device_) {
        (*results)[j] = file.ops_->flushFile(file.place_, file.temporary_);
      }
    }
  }
}

}  // namespace ordil::platform
