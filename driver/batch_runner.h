// The batch's runner: the jobs that convert the files of the list, the
// retry alone of a file that ran out of memory or open files beside the
// others, and the groups in which documents are made durable and put in
// place. What it converts comes through an interface, so that tests drive
// it with a fake (ninja's Builder and CommandRunner are the model).
#ifndef ORDIL_DRIVER_BATCH_RUNNER_H_
#define ORDIL_DRIVER_BATCH_RUNNER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "driver/batch.h"
#include "driver/batch_report.h"
#include "driver/conversion.h"
#include "driver/destination.h"
#include "platform/folder.h"

namespace ordil {

// A file's document written whole to its hidden file, not yet in place,
// with the folder it is made in, which stays open until then.
struct Finished {
  std::unique_ptr<Destination> document;
  std::unique_ptr<platform::Folder> folder;
  std::string outputPath;  // as messages name it
};

// The conversion of one file of the list, as the runner calls it.
class ItemConversion {
 public:
  virtual ~ItemConversion() = default;
  // Converts the file at index in the list with the job's converter. A
  // document written whole is left in *finished, to be made durable with
  // others and put in place; the result then counts it as in place.
  // Throws nothing: what goes wrong is the result's outcome.
  virtual Result convert(size_t index, Converter* converter, Finished* finished) = 0;
};

// A group is made durable when it holds this many documents at most.
inline constexpr size_t kGroupDocuments = 256;

// How many documents a group holds where the process may have openFiles
// files open: each waiting document keeps its folder open, two groups of
// them at most, beside a few files for each job and the process's own.
size_t groupDocumentsFor(size_t openFiles, unsigned jobs);

// Converts the files [0, count) of the list on jobs threads, this one
// among them (fewer when no more threads can be had), each taking the next
// file. Each result goes to the reporter once its document is in place:
// documents are made durable and renamed a group of groupDocuments at a
// time. A file whose outcome ran out of memory or of open files while
// other jobs ran is converted again alone once they have ended, with the
// least memory a conversion takes, so that what converts does not depend
// on jobs. threads says whether a job's large input may take a second
// thread (driver/conversion.h).
void runConversions(size_t count, unsigned jobs, size_t groupDocuments,
                    ItemConversion* conversion, Reporter* reporter,
                    Converter::Threads threads = Converter::Threads::kOne);

}  // namespace ordil

#endif  // ORDIL_DRIVER_BATCH_RUNNER_H_
