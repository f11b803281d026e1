// Running a program and waiting for it; used by the end-to-end tests.
#ifndef ORDIL_PLATFORM_PROCESS_H_
#define ORDIL_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

namespace ordil::platform {

// Runs args[0] with args as its argument list (args[0] being the program
// name), with standard input empty and standard output and standard error
// written to the files stdoutPath and stderrPath. Waits for it and returns
// its exit status, or -1 when it could not be started or did not exit
// normally.
int runProcess(const std::vector<std::string>& args,
               const std::string& stdoutPath, const std::string& stderrPath);

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_PROCESS_H_
