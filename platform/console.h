// The console the program runs in: whether its standard error is a
// terminal.
#ifndef ORDIL_PLATFORM_CONSOLE_H_
#define ORDIL_PLATFORM_CONSOLE_H_

namespace ordil::platform {

// Whether standard error is a terminal (a console window on Windows), where
// a status line that is redrawn in place makes sense.
bool standardErrorIsTerminal();

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_CONSOLE_H_
