// A small lexical cast on top of a string stream: insert a value of one type,
// extract it as another, with the stream's formatting flags (the number base,
// for one) applied to both.
//
//   clx::cast_stream stream;
//   stream.setf(std::ios::hex, std::ios::basefield);
//   stream << "ff";
//   unsigned value = stream.extract<unsigned>();  // 255
#ifndef ORDIL_DRIVER_CAST_STREAM_H_
#define ORDIL_DRIVER_CAST_STREAM_H_

#include <ios>
#include <sstream>
#include <string>
#include <typeinfo>

namespace clx {

// Raised when the text in a cast_stream gives no value of the target type.
// Carries the identities of the source and target types.
class bad_lexical_cast : public std::bad_cast {
 public:
  bad_lexical_cast(const std::type_info& source, const std::type_info& target)
      : source_(&source), target_(&target) {}

  const char* what() const noexcept override { return "bad lexical cast"; }
  const std::type_info& source_type() const noexcept { return *source_; }
  const std::type_info& target_type() const noexcept { return *target_; }

 private:
  const std::type_info* source_;
  const std::type_info* target_;
};

// One conversion at a time: construct, set flags, insert, extract.
class cast_stream {
 public:
  cast_stream() = default;

  std::ios_base::fmtflags setf(std::ios_base::fmtflags flags,
                               std::ios_base::fmtflags mask) {
    return stream_.setf(flags, mask);
  }

  // Inserts the source; its type is remembered for the error.
  template <typename Source>
  cast_stream& operator<<(const Source& source) {
    stream_ << source;
    source_ = &typeid(Source);
    return *this;
  }

  // Extracts a Target by formatted extraction. Characters left unread after
  // the value are ignored. Throws bad_lexical_cast when the stream reports a
  // failure.
  template <typename Target>
  Target extract() {
    Target target{};
    stream_ >> target;
    if (stream_.fail() || stream_.bad()) {
      throw bad_lexical_cast(*source_, typeid(Target));
    }
    return target;
  }

 private:
  std::stringstream stream_;
  const std::type_info* source_ = &typeid(void);
};

}  // namespace clx

#endif  // ORDIL_DRIVER_CAST_STREAM_H_
