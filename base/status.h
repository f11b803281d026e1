// The one vocabulary for failures: a kind and a short message, with the
// byte offset in the input where it helps. Failures are values; the driver
// alone turns them into messages and an exit status.
#ifndef ORDIL_BASE_STATUS_H_
#define ORDIL_BASE_STATUS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ordil {

// Success is a null pointer, as leveldb's Status has it: making, moving and
// dropping one costs next to nothing, so a Status may be made per record.
// Only a failure takes memory (and may throw std::bad_alloc).
class Status {
 public:
  enum class Kind : uint8_t {
    kOk,
    kUsage,      // the command line or a path cannot be used; nothing was done
    kTruncated,  // the data ends inside a record (more data may mend it)
    kMalformed,  // a record that no more data could mend
    kIo,         // a file could not be opened, read, written or replaced
    kNoMemory,
    // The process may open no more files (EMFILE): like kNoMemory, a
    // failure of the run, not of the file.
    kTooManyFiles,
    // Standard output's reader has gone (a closed pipe): the run ends
    // quietly.
    kClosedOutput,
  };

  Status() noexcept = default;  // success
  // A failure of the kind (kOk gives success, and the message is dropped).
  Status(Kind kind, std::string message)
      : rep_(kind == Kind::kOk ? nullptr : new Rep{kind, std::move(message), std::nullopt}) {}

  Status(const Status& other) : rep_(other.rep_ ? new Rep(*other.rep_) : nullptr) {}
  Status& operator=(const Status& other) {
    if (this != &other) rep_.reset(other.rep_ ? new Rep(*other.rep_) : nullptr);
    return *this;
  }
  Status(Status&&) noexcept = default;
  Status& operator=(Status&&) noexcept = default;

  static Status usage(std::string message) { return {Kind::kUsage, std::move(message)}; }
  static Status io(std::string message) { return {Kind::kIo, std::move(message)}; }
  static Status noMemory() { return {Kind::kNoMemory, "not enough memory"}; }
  static Status tooManyFiles(std::string message) {
    return {Kind::kTooManyFiles, std::move(message)};
  }
  static Status closedOutput(std::string message) {
    return {Kind::kClosedOutput, std::move(message)};
  }

  bool ok() const { return rep_ == nullptr; }
  Kind kind() const { return rep_ ? rep_->kind : Kind::kOk; }

  // Whether it says a record could not be decoded.
  bool isUndecodable() const {
    return kind() == Kind::kTruncated || kind() == Kind::kMalformed;
  }

  // The short message, e.g. "cannot open: No such file or directory" or
  // "record at byte 42: text runs past the end of the data"; empty when ok.
  const std::string& message() const {
    static const std::string kNone;
    return rep_ ? rep_->message : kNone;
  }

  // Where in the input the failure lies, when that helps.
  std::optional<uint64_t> offset() const { return rep_ ? rep_->offset : std::nullopt; }

  // The same failure with "context: " before its message; success stays
  // success.
  Status withContext(std::string_view context) const {
    Status s = *this;
    if (s.rep_) s.rep_->message.insert(0, std::string(context) + ": ");
    return s;
  }

  // The same failure placed at a record's offset in the input.
  Status atRecord(uint64_t offset) const {
    Status s = withContext("record at byte " + std::to_string(offset));
    if (s.rep_) s.rep_->offset = offset;
    return s;
  }

 private:
  struct Rep {
    Kind kind;
    std::string message;
    std::optional<uint64_t> offset;
  };
  std::unique_ptr<Rep> rep_;
};

}  // namespace ordil

#endif  // ORDIL_BASE_STATUS_H_
