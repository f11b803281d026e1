// The one vocabulary for failures: a kind and a short message, with the
// byte offset in the input where it helps. Failures are values; the driver
// alone turns them into messages and an exit status.
#ifndef ORDIL_BASE_STATUS_H_
#define ORDIL_BASE_STATUS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ordil {

class Status {
 public:
  enum class Kind : uint8_t {
    kOk,
    kUsage,      // the command line or a path cannot be used; nothing was done
    kTruncated,  // the data ends inside a record (more data may mend it)
    kMalformed,  // a record that no more data could mend
    kIo,         // a file could not be opened, read, written or replaced
    kNoMemory,
  };

  Status() = default;  // success
  Status(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  static Status usage(std::string message) { return {Kind::kUsage, std::move(message)}; }
  static Status io(std::string message) { return {Kind::kIo, std::move(message)}; }
  static Status noMemory() { return {Kind::kNoMemory, "not enough memory"}; }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }

  // Whether it says a record could not be decoded.
  bool isUndecodable() const { return kind_ == Kind::kTruncated || kind_ == Kind::kMalformed; }

  // The short message, e.g. "cannot open: No such file or directory" or
  // "record at byte 42: text runs past the end of the data"; empty when ok.
  const std::string& message() const { return message_; }

  // Where in the input the failure lies, when that helps.
  std::optional<uint64_t> offset() const { return offset_; }

  // The same failure with "context: " before its message.
  Status withContext(std::string_view context) const {
    Status s = *this;
    s.message_.insert(0, std::string(context) + ": ");
    return s;
  }

  // The same failure placed at a record's offset in the input.
  Status atRecord(uint64_t offset) const {
    Status s = withContext("record at byte " + std::to_string(offset));
    s.offset_ = offset;
    return s;
  }

 private:
  Kind kind_ = Kind::kOk;
  std::string message_;
  std::optional<uint64_t> offset_;
};

}  // namespace ordil

#endif  // ORDIL_BASE_STATUS_H_
