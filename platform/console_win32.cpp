#include <windows.h>

#include <cstdint>

#include "platform/console.h"

namespace ordil::platform {

bool standardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

unsigned processorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

bool isFolder(const std::string& narrowPath) {
  const DWORD attributes = GetFileAttributesA(narrowPath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

size_t allowManyOpenFiles() { return SIZE_MAX; }

}  // namespace ordil::platform
