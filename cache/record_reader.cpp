#include "cache/record_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace ordil {

RecordReader::RecordReader(ByteSource* source, uint64_t size, Buffer* window,
                           size_t windowSize)
    : source_(source), size_(size), left_(size), window_(window), windowSize_(windowSize) {
  window_->reserve(std::max<size_t>(1, static_cast<size_t>(std::min<uint64_t>(size, windowSize_))));
  window_->prepare(window_->capacity());  // the first read fills it
}

bool RecordReader::next(CacheRecord* record) {
  for (;;) {
    if (walker_.next(record)) return true;
    if (!walker_.hungry() || ended_) return false;
    refill();
  }
}

void RecordReader::refill() {
  // Keep the bytes not yet walked (an unfinished record) at the front,
  // widening the window when they fill it alone.
  const std::string_view rest = walker_.unconsumed();
  const size_t capacity = window_->capacity();
  if (rest.size() == capacity) {
    // The rest is the whole window, so it starts at the front already.
    const size_t more = static_cast<size_t>(std::min<uint64_t>(left_, capacity));
    window_->reserve(rest.size() + more, rest.size());
    window_->prepare(window_->capacity());
  } else if (!rest.empty()) {
    std::memmove(window_->data(), rest.data(), rest.size());
  }
  const size_t room = window_->capacity() - rest.size();
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(room, left_));
  Status failure;
  const size_t got = source_->read(window_->data() + rest.size(), wanted, &failure);
  left_ -= got;
  const bool shortRead = got < wanted;
  ended_ = left_ == 0 || shortRead;
  if (shortRead) {
    const std::string why = failure.ok() ? "file shrank" : failure.message();
    readStatus_ = Status::io("read " + std::to_string(size_ - left_) + " of " +
                             std::to_string(size_) + " bytes: " + why);
  }
  walker_.feed(std::string_view(window_->data(), rest.size() + got), ended_);
}

}  // namespace ordil
