// What the machine and the system allow the process: processors to run
// jobs on, and files to hold open.
#ifndef ORDIL_PLATFORM_RESOURCES_H_
#define ORDIL_PLATFORM_RESOURCES_H_

#include <cstddef>

namespace ordil::platform {

// The number of processors, at least 1.
unsigned processorCount();

// Raises the process's limit on open files to the most it may have
// (POSIX: the soft limit to the hard one), for a batch that keeps a folder
// open for each document waiting to be put in place, and returns the limit
// then in force. Windows, whose handles have no such low limit, returns
// SIZE_MAX.
size_t allowManyOpenFiles();

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_RESOURCES_H_
