// One run of the converter: from the command line to the documents and the
// exit status, in the single mode or the batch mode (driver/batch.h). What
// the run prints, and the exit status, are decided in the driver alone.
#ifndef ORDIL_DRIVER_RUN_DRIVER_H_
#define ORDIL_DRIVER_RUN_DRIVER_H_

#include "driver/arguments.h"
#include "driver/exit_status.h"
#include "driver/run_context.h"

namespace ordil {

// Runs the converter on a command line (argv[0] is the program name): the
// options, then a cache file and its optional video id, or with --batch
// the paths of cache files and folders. Returns the exit status. Every
// non-zero status comes with a line "ordil: PATH: reason" (or a usage line)
// on *context.err.
int runDriver(int argc, const char* const* argv, const RunContext& context);

}  // namespace ordil

#endif  // ORDIL_DRIVER_RUN_DRIVER_H_
