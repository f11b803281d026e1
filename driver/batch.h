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
  std::vector<std::string> paths;  // cache files and folders, narrow code page
};

// The most files converted at once.
inline constexpr unsigned kMaxJobs = 64;

// Converts the files the paths name and the cache files in the folders they
// name (recursively, in name order, not following links to folders met
// inside). Each file's document is written beside it: the first "ashx" of
// the file's own name becomes "xml". Its id is read from the name's part
// before the first ".". Prints problems as "ordil: PATH: reason" in the
// order of the list, and the failure message once at the end when any
// record could not be decoded. Returns the highest exit status of all:
// 0 every file complete, 1 any incomplete, 2 a path missing or naming a
// file whose name holds no "ashx".
int runBatch(const BatchOptions& options, const RunContext& context);

}  // namespace ordil

#endif  // ORDIL_DRIVER_BATCH_H_
