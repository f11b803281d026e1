#include "driver/run_context.h"

#include <cerrno>
#include <cstring>
#include <ostream>

#include "text/quote.h"

namespace ordil {

void printProblem(std::ostream& err, std::string_view path, std::string_view message) {
  err << "ordil: ";
  if (isPrintableName(path)) {
    err << path;
  } else {
    err << quotedName(path);
  }
  err << ": " << message << '\n';
}

bool outputWasWritten(const RunContext& context) {
  // The stream fails through the C library, which sets errno; a stream that
  // failed earlier has no reason left to give.
  errno = 0;
  context.out->flush();
  if (*context.out) return true;
  const int error = errno;
  if (error == EPIPE) return false;  // its reader has gone: nobody to tell
  *context.err << "ordil: write error: "
               << (error != 0 ? std::strerror(error) : "the output was not written") << '\n';
  return false;
}

}  // namespace ordil
