// The conversion of one cache file into its document, the unit both the
// single and the batch mode are made of. It returns what happened instead
// of printing it: the driver alone prints, presents the failure message and
// picks the exit status.
#ifndef ORDIL_DRIVER_CONVERSION_H_
#define ORDIL_DRIVER_CONVERSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/status.h"
#include "platform/file_name.h"
#include "xml/comment_xml_writer.h"

namespace ordil {

struct Conversion {
  // The input's path in the narrow code page, as messages name it; opened
  // by this path (the single mode) unless inputName is given.
  std::string inputPath;
  // The input by the platform's own name (the batch mode's wide names on
  // Windows).
  std::optional<platform::NativeFileName> inputName;
  OutputTarget output;
  std::string outputPath;  // the output's name, as messages name it
  int32_t id = 0;
};

// One problem of a conversion, printed as "ordil: PATH: message".
struct Problem {
  std::string path;
  Status status;
};

struct Outcome {
  std::vector<Problem> problems;  // in the order they arose; none when complete
  bool undecodable = false;       // a record could not be decoded
  uint32_t comments = 0;          // chat elements in the document written
  bool complete() const { return problems.empty(); }
};

// Converts files one after another, keeping its memory (the read window and
// the output buffer) from one to the next; one per job.
class Converter {
 public:
  // Converts the input into the output. The document replaces the output
  // whole, or, when the run cannot finish it (a write failure, no memory),
  // the output is left as it was.
  Outcome convert(const Conversion& conversion);

 private:
  Buffer window_;
  Buffer spare_;  // the window read ahead
  Buffer output_;
};

}  // namespace ordil

#endif  // ORDIL_DRIVER_CONVERSION_H_
