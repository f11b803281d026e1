// The command line read as GNU getopt reads it: options anywhere before
// "--", short ones combined (-uv, -j4, -dDIR), long ones with "=" or the
// next argument (--jobs=4, --output-dir DIR). An argument "-" or "-"
// followed by a digit (a negative video id) is an operand, never an option.
#ifndef ORDIL_DRIVER_COMMAND_LINE_H_
#define ORDIL_DRIVER_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace ordil {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool batch = false;                // --batch
  const char* output = nullptr;      // -o
  const char* outputDir = nullptr;   // -d
  bool check = false;                // --check
  bool update = false;               // -u
  bool verbose = false;              // -v
  unsigned jobs = 0;                 // -j; 0 when not given
  std::vector<const char*> operands; // in order
  // Why the command line cannot be used ("unknown option -x"), empty when
  // it can; unknownOption when that is the reason.
  std::string problem;
  bool unknownOption = false;
};

// Reads argv[1..argc). The values point into argv. Stops at the first
// problem, with help and version still read before it.
CommandLine parseCommandLine(int argc, const char* const* argv);

}  // namespace ordil

#endif  // ORDIL_DRIVER_COMMAND_LINE_H_
