#include <unistd.h>

#include "platform/console.h"

namespace ordil::platform {

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace ordil::platform
