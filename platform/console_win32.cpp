#include <windows.h>

#include "platform/console.h"

namespace ordil::platform {

bool standardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace ordil::platform
