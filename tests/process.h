// Running a program and waiting for it, and the files of other users the
// end-to-end tests plant, built on the POSIX or Win32 API; the product
// itself never starts a process.
#ifndef ORDIL_TESTS_PROCESS_H_
#define ORDIL_TESTS_PROCESS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ordil::testing {

struct ProcessOptions {
  // Where standard output goes; empty to capture it into the result.
  std::string stdoutPath;
  // Standard output is a pipe whose reading end is closed (POSIX).
  bool stdoutClosedPipe = false;
  // Standard error is a pseudo-terminal, read into the result (POSIX).
  bool stderrTerminal = false;
  // Limit on the child's address space in bytes (POSIX), 0 for none.
  uint64_t addressSpaceLimit = 0;
  // Limit on the size of any file the child writes (POSIX), 0 for none; a
  // write beyond it fails with EFBIG.
  uint64_t fileSizeLimit = 0;
  // Seconds after which the child is ended by SIGALRM (POSIX), 0 for
  // none: a test of what must not block fails instead of hanging.
  unsigned timeLimitSeconds = 0;
};

// The signals a test may send.
enum class Signal { kInterrupt, kTerminate, kHangUp, kKill };

// The signal's number on this platform (SIGINT ...), 0 where there is none.
int signalNumber(Signal signal);

struct ProcessResult {
  int status = -1;  // exit status; -1 when it could not be started or was killed
  int signal = 0;   // the signal that ended it (POSIX), 0 when it exited
  std::string out;  // captured standard output, unless sent to a file
  std::string err;  // captured standard error
};

// A program started with args[0] as its path and args as its argument list,
// standard input empty. Its output goes to files of its own (not removed
// while any process still holds them: under Wine a process that the child
// starts may keep its handles), read back by wait().
class Process {
 public:
  Process(const std::vector<std::string>& args, const ProcessOptions& options = {});
  ~Process();  // kills the child if it still runs, and waits for it
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Whether it was started.
  bool started() const;

  // Sends the signal (POSIX); false where signals cannot be sent.
  bool sendSignal(Signal signal);

  // Waits for the end and gathers what it printed. Call once.
  ProcessResult wait();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Starts the program and waits for it.
inline ProcessResult runProcess(const std::vector<std::string>& args,
                                const ProcessOptions& options = {}) {
  return Process(args, options).wait();
}

// Whether Process::sendSignal works here.
bool canSendSignals();

// Puts at place a symbolic link to target that belongs to another user,
// as one planted in a folder others can write. As root, a new link given
// to uid 65534 (nobody); otherwise one of the links that root made in the
// folder $ORDIL_FOREIGN_LINKS beforehand, moved into place (a rename keeps
// its owner). Returns "" when it is there, or why it cannot be.
std::string plantForeignLink(const std::string& target, const std::string& place);

// Whether the tests run as root, who may give files to another user.
bool runningAsRoot();
// Gives the file (not what a link leads to) to uid and gid 65534; returns
// "" or why not.
std::string giveToNobody(const std::string& path);
// The owner's uid of the file, links not followed.
unsigned ownerOf(const std::string& path);

// Makes a FIFO at path (POSIX). Returns "" or why it cannot.
std::string makeFifo(const std::string& path);

// A FIFO opened for reading without waiting for a writer, so that a
// writer finds it read; what was written is read back after.
class FifoReader {
 public:
  explicit FifoReader(const std::string& path);
  ~FifoReader();
  FifoReader(const FifoReader&) = delete;
  FifoReader& operator=(const FifoReader&) = delete;

  bool opened() const { return fd_ >= 0; }
  // What is in the FIFO now, without waiting for more.
  std::string readAvailable();

 private:
  int fd_ = -1;
};

}  // namespace ordil::testing

#endif  // ORDIL_TESTS_PROCESS_H_
