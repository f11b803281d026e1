#include "cache/record_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace ordil {

RecordReader::RecordReader(ByteSource* source, uint64_t size, platform::Buffer* window,
                           size_t windowSize)
    : source_(source), size_(size), left_(size), window_(window), windowSize_(windowSize) {
  // Made resident where it is first filled, after readAhead() has had
  // its say on the size.
  window_->reserve(std::max<size_t>(1, static_cast<size_t>(std::min<uint64_t>(size, windowSize_))));
}

void WindowRead::run() {
  into_->prepare(into_->capacity());
  failure_ = source_->read(into_->data() + offset_, wanted_, &got_);
  pending_ = false;
}

void RecordReader::readAhead(platform::Buffer* spare, size_t carried) {
  if (ended_ || left_ <= windowSize_) return;  // one window holds it all
  window_->reserve(windowSize_ + carried);
  spare->reserve(windowSize_ + carried);  // made resident by the read that fills it
  spare_ = spare;
  carried_ = carried;
}

bool RecordReader::next(CacheRecord* record) {
  for (;;) {
    if (walker_.next(record)) return true;
    if (!nextWindow()) return false;
  }
}

bool RecordReader::nextWindow() {
  if (!walker_.hungry() || ended_) return false;
  if (aheadSetUp_) {
    takeReadAhead();
  } else {
    refill();
  }
  setUpReadAhead();
  return true;
}

void RecordReader::setUpReadAhead() {
  if (spare_ == nullptr || ended_) return;
  ahead_.source_ = source_;
  ahead_.into_ = spare_;
  ahead_.offset_ = carried_;
  ahead_.wanted_ = static_cast<size_t>(std::min<uint64_t>(windowSize_, left_));
  ahead_.got_ = 0;
  ahead_.failure_ = Status();
  ahead_.pending_ = true;
  aheadSetUp_ = true;
}

void RecordReader::takeReadAhead() {
  if (ahead_.pending_) ahead_.run();  // nobody ran it
  aheadSetUp_ = false;
  const std::string_view rest = walker_.unconsumed();
  const size_t got = ahead_.got_;
  account(ahead_.wanted_, got, ahead_.failure_);
  if (rest.size() <= carried_) {
    // The unfinished record goes just before the bytes read, and the
    // buffers change places.
    char* const start = spare_->data() + carried_ - rest.size();
    if (!rest.empty()) std::memcpy(start, rest.data(), rest.size());
    walker_.feed(std::string_view(start, rest.size() + got), ended_);
    std::swap(window_, spare_);
    return;
  }
  // A longer record: the bytes read join it in the window, which doubles
  // when they do not fit, so that a record of any length is copied a
  // bounded number of times over.
  if (rest.data() != window_->data()) std::memmove(window_->data(), rest.data(), rest.size());
  if (rest.size() + got > window_->capacity()) {
    window_->reserve(std::max(rest.size() + got, 2 * window_->capacity()), rest.size());
  }
  std::memcpy(window_->data() + rest.size(), spare_->data() + carried_, got);
  walker_.feed(std::string_view(window_->data(), rest.size() + got), ended_);
}

void RecordReader::account(size_t wanted, size_t got, const Status& failure) {
  left_ -= got;
  const bool shortRead = got < wanted;
  ended_ = left_ == 0 || shortRead;
  if (shortRead) {
    const std::string why = failure.ok() ? "file shrank" : failure.message();
    readStatus_ = Status::io("read " + std::to_string(size_ - left_) + " of " +
                             std::to_string(size_) + " bytes: " + why);
  }
}

void RecordReader::refill() {
  // Keep the bytes not yet walked (an unfinished record) at the front,
  // widening the window when they fill it alone.
  window_->prepare(window_->capacity());  // the read fills it
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
  size_t got = 0;
  const Status failure = source_->read(window_->data() + rest.size(), wanted, &got);
  account(wanted, got, failure);
  walker_.feed(std::string_view(window_->data(), rest.size() + got), ended_);
}

}  // namespace ordil
