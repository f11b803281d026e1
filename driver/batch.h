// The batch mode: many cache files, and the cache files in folders, each
// converted as the single mode converts it, several at once.
#ifndef ORDIL_DRIVER_BATCH_H_
#define ORDIL_DRIVER_BATCH_H_

#include <string>
#include <vector>

#include "driver/run_driver.h"

namespace ordil {

struct BatchOptions {
  unsigned jobs = 0;     // files converted at once; 0 for one per processor
  bool update = false;   // only where the document is missing or older
  bool verbose = false;  // a line per file on standard output
  bool check = false;    // decode every record, write nothing
  // The folder the documents go below instead of beside their cache files,
  // narrow code page; empty for none.
  std::string outputDir;
  std::vector<std::string> paths;  // cache files and folders, narrow code page
};

// The most files converted at once.
inline constexpr unsigned kMaxJobs = 64;

// Converts the files the paths name and the cache files in the folders they
// name (recursively, in name order, not following links to folders met
// inside). Each file's document is written beside it, or with outputDir in
// the same place below outputDir as the file below the folder it was found
// in (a file named itself goes straight into outputDir; folders are made as
// needed): the first "ashx" of the file's own name becomes "xml". Two files
// whose documents would be one are found before any is converted: the
// first is converted, each later one reported and not. Its id is read from
// the name's part before the first ".". With check, every record is
// decoded and nothing is made or written. Prints problems as "ordil: PATH:
// reason" in the order of the list, and the failure message once at the
// end when any record could not be decoded. Returns the highest exit
// status of all: 0 every file complete, 1 any incomplete, 2 a path missing
// or naming a file whose name holds no "ashx".
int runBatch(const BatchOptions& options, const RunContext& context);

}  // namespace ordil

#endif  // ORDIL_DRIVER_BATCH_H_
