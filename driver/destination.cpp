#include "driver/destination.h"

namespace ordil {

std::optional<platform::NativeFileName> outputNameFor(const std::string& inputPath,
                                                      const DocumentFormat& format) {
  platform::NativeFileName name = platform::nativeFileName(inputPath);
  if (!replaceFirstAshx(&name, format.nameWord())) return std::nullopt;
  return name;
}

Destination::Destination(const OutputTarget& target, const DestinationOptions& options)
    : nothing_(target.kind == OutputTarget::Kind::kNothing), file_(target.ops) {
  switch (target.kind) {
    case OutputTarget::Kind::kFile: {
      platform::Creation how;
      how.placement = target.placement;
      how.folder = target.folder;
      how.cache = options.cache;
      how.onlyWhereNothingStands = options.onlyWhereNothingStands;
      status_ = file_.create(target.name, how);
      break;
    }
    case OutputTarget::Kind::kStandardOutput:
      file_.useDescriptor(target.descriptor);
      break;
    case OutputTarget::Kind::kNothing:
      break;
  }
}

void Destination::write(const char* data, size_t n) {
  if (status_.ok() && !nothing_) status_ = file_.write(data, n);
  written_ += n;
}

const Status& Destination::commit() { return end(&platform::OutputFile::commit); }

const Status& Destination::finishWriting() { return end(&platform::OutputFile::finishWriting); }

const Status& Destination::end(Status (platform::OutputFile::*step)()) {
  if (nothing_) return status_;
  if (status_.ok()) {
    status_ = (file_.*step)();
  } else {
    file_.discard();
  }
  return status_;
}

const Status& Destination::commitFinished() {
  if (!nothing_ && status_.ok()) status_ = file_.commitFinished();
  return status_;
}

}  // namespace ordil
