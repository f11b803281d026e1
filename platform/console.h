// What the program asks of the system it runs on, beyond files: whether its
// console is a terminal, how many processors there are, whether a path
// names a folder.
#ifndef ORDIL_PLATFORM_CONSOLE_H_
#define ORDIL_PLATFORM_CONSOLE_H_

#include <string>

namespace ordil::platform {

// Whether standard error is a terminal (a console window on Windows), where
// a status line that is redrawn in place makes sense.
bool standardErrorIsTerminal();

// The number of processors, at least 1.
unsigned processorCount();

// Whether the path in the narrow code page names a folder.
bool isFolder(const std::string& narrowPath);

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_CONSOLE_H_
