// What the output file does the same way on every platform: the steps of
// a commit in groups, around each platform's flushes and rename.
#include "platform/output_file.h"

namespace ordil::platform {

Status OutputFile::commitFinished() {
  if (!finished_) return Status();  // written in place, and closed already
  return renameIntoPlace();
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
    if (seen || first.flushFileSystem()) continue;
    // Failed, or no such flush here: each file of the file system alone,
    // so that only the files that fail are lost.
    for (size_t j = i; j < files.size(); ++j) {
      if (files[j]->finished_ && files[j]->device_ == first.device_) {
        (*results)[j] = files[j]->flushAlone();
      }
    }
  }
}

}  // namespace ordil::platform
