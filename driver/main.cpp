// The ordil executable: sets up the process, then hands the command line
// to the run driver.
#include <iostream>

#include "driver/run_driver.h"
#include "platform/failure_message.h"
#include "platform/interrupt.h"

int main(int argc, char** argv) {
  ordil::platform::installInterruptHandling();
  const ordil::RunContext context{&std::cout, &std::cerr,
                                  &ordil::platform::presentFailureMessage};
  return ordil::runDriver(argc, argv, context);
}
