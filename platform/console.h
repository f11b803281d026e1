// What the program asks of the system it runs on, beyond files: whether its
// console is a terminal, how many processors there are, whether a path
// names a folder, and room for open files.
#ifndef ORDIL_PLATFORM_CONSOLE_H_
#define ORDIL_PLATFORM_CONSOLE_H_

#include <cstddef>
#include <string>

namespace ordil::platform {

// Whether standard error is a terminal (a console window on Windows), where
// a status line that is redrawn in place makes sense.
bool standardErrorIsTerminal();

// The number of processors, at least 1.
unsigned processorCount();

// Whether the path in the narrow code page names a folder.
bool isFolder(const std::string& narrowPath);

// Raises the process's limit on open files to the most it may have
// (POSIX: the soft limit to the hard one), for a batch that keeps a folder
// open for each document waiting to be put in place, and returns the limit
// then in force. Windows, whose handles have no such low limit, returns
// SIZE_MAX.
size_t allowManyOpenFiles();

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_CONSOLE_H_
