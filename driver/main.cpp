// The ordil executable: converts one comment cache file into a comment XML
// document beside it.
#include <iostream>

#include "driver/run_driver.h"
#include "platform/failure_message.h"

int main(int argc, char** argv) {
  const ordil::RunContext context{&std::cout, &std::cerr,
                                  &ordil::platform::presentFailureMessage};
  const int status = ordil::runDriver(argc, argv, context);
  std::cout.flush();
  return status;
}
