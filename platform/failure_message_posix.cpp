// Without a message box the message goes to standard error, where a person
// at a terminal or a script's log will see it.
#include <cstdio>
#include <string>

#include "platform/failure_message.h"

namespace ordil::platform {

void presentFailureMessage(std::string_view caption, std::string_view utf8Text) {
  std::string line;
  line.append(caption).append(": ").append(utf8Text).append("\n");
  std::fflush(stdout);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace ordil::platform
