// The conversion of one cache file into its document, the unit both the
// single and the batch mode are made of. It returns what happened instead
// of printing it: the driver alone prints, presents the failure message and
// picks the exit status.
#ifndef ORDIL_DRIVER_CONVERSION_H_
#define ORDIL_DRIVER_CONVERSION_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "driver/destination.h"
#include "driver/formats.h"
#include "driver/pipeline.h"
#include "platform/file_name.h"
#include "platform/input_file.h"
#include "platform/memory.h"

namespace ordil {

struct Conversion {
  // The input's path in the narrow code page, as messages name it; opened
  // by this path (the single mode) unless inputName is given.
  std::string inputPath;
  // The input by the platform's own name (the batch mode's wide names on
  // Windows).
  std::optional<platform::NativeFileName> inputName;
  // Which links opening inputName follows: only trusted ones for a file
  // met in a folder (the batch), all of them for one the user named.
  platform::InputFile::Links inputLinks = platform::InputFile::Links::kFollow;
  // The folder that holds the input and the output, when they are opened
  // in it (the batch mode's files found in folders); it must outlive the
  // conversion.
  const platform::Folder* folder = nullptr;
  OutputTarget output;
  std::string outputPath;  // the output's name, as messages name it
  int32_t id = 0;
  // What the document is formatted as.
  const DocumentFormat* format = &defaultFormat();
};

// One problem of a conversion, printed as "ordil: PATH: message".
struct Problem {
  std::string path;
  Status status;
};

struct Outcome {
  std::vector<Problem> problems;  // in the order they arose; none when complete
  bool undecodable = false;       // a record could not be decoded
  // Memory ran out; the old document stays. Where not even the problem
  // could be kept, this alone says so.
  bool outOfMemory = false;
  uint32_t comments = 0;          // chat elements in the document written
  bool complete() const { return problems.empty() && !outOfMemory; }
  // The process could open no more files: like running out of memory, the
  // run's failure; no document was written or replaced.
  bool outOfFiles() const {
    for (const Problem& p : problems) {
      if (p.status.kind() == Status::Kind::kTooManyFiles) return true;
    }
    return false;
  }
};

// Adds to *outcome, as a problem of path, the failure an exception stands
// for: "not enough memory" for std::bad_alloc (setting outOfMemory), the
// system's reason for std::system_error, what() for other exceptions.
// Where not even that can be kept, sets outOfMemory alone.
void addFailure(std::exception_ptr thrown, const std::string& path, Outcome* outcome) noexcept;

// Converts files one after another, keeping its memory (the read windows
// and the output buffers) from one to the next; one per job. A large input
// is converted on two threads (driver/pipeline.h); the share of each
// window this thread keeps carries over from file to file.
class Converter {
 public:
  // Whether a large input may take a second thread (and the memory it
  // reads ahead into and formats into); without it a conversion takes the
  // least memory it can, and gives the same document.
  enum class Threads { kTwoForLargeInputs, kOne };

  explicit Converter(Threads threads = Threads::kTwoForLargeInputs) : threads_(threads) {}

  // Opens the input, creates the destination, converts the input into it
  // and commits it. The document replaces the output whole, or, when the
  // run cannot finish it (a write failure, no memory), the output is left
  // as it was. An input that cannot be opened leaves the head-and-foot
  // document only where nothing stands, and none at all when it is a link
  // that is not trusted or the process may open no more files. A document
  // that would replace its own cache file (the same file) is not written:
  // "not converted: its document would replace the cache file PATH". The
  // document takes its cache file's permissions (platform::Creation).
  // Throws nothing: whatever is thrown on either thread becomes a problem
  // of the outcome.
  //
  // With finished given, a document written whole is not committed but
  // finished (Destination::finishWriting) and handed over in *finished,
  // for the caller to make durable with others and put in place; the
  // outcome then counts its comments, as if it were in place.
  Outcome convert(const Conversion& conversion,
                  std::unique_ptr<Destination>* finished = nullptr);

 private:
  platform::Buffer window_;
  platform::Buffer spare_;  // the window read ahead
  PipelineBuffers output_;  // output.output serves the one-thread conversion too
  WindowShare share_;
  Threads threads_;
};

}  // namespace ordil

#endif  // ORDIL_DRIVER_CONVERSION_H_
