#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/capture_files.h"
#include "tests/process.h"

namespace ordil::testing {

struct Process::State {
  pid_t pid = -1;
  int terminal = -1;      // the pseudo-terminal's master side, when asked for
  std::thread terminalReader;
  std::string terminalOutput;
  bool done = false;
  CaptureFiles files;
  explicit State(const ProcessOptions& options) : files(options.stdoutPath) {}
};

Process::Process(const std::vector<std::string>& args, const ProcessOptions& options)
    : state_(std::make_unique<State>(options)) {
  State& s = *state_;
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // The reading end is closed before the child starts, so that its first
  // write already finds no reader.
  int closedPipe[2] = {-1, -1};
  if (options.stdoutClosedPipe) {
    if (::pipe2(closedPipe, O_CLOEXEC) != 0) return;
    ::close(closedPipe[0]);
  }
  std::string terminalName;
  if (options.stderrTerminal) {
    s.terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (s.terminal < 0 || ::grantpt(s.terminal) != 0 || ::unlockpt(s.terminal) != 0) return;
    terminalName = ::ptsname(s.terminal);
  }
  const pid_t pid = ::fork();
  if (pid < 0) return;
  if (pid == 0) {
    // The child: only async-signal-safe calls until exec.
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = options.stdoutClosedPipe
                        ? closedPipe[1]
                        : ::open(s.files.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = options.stderrTerminal
                        ? ::open(terminalName.c_str(), O_RDWR | O_NOCTTY)
                        : ::open(s.files.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // A test run in the background of a shell inherits SIGINT and SIGQUIT
    // ignored, which the program keeps ignored: the signals the tests send
    // start at their defaults.
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(number, SIG_DFL);
    if (options.addressSpaceLimit != 0) {
      const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(127);
    }
    if (options.fileSizeLimit != 0) {
      // Ignored across exec, so that the write fails instead of the process.
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
    }
    if (options.timeLimitSeconds != 0) ::alarm(options.timeLimitSeconds);  // kept across exec
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (options.stdoutClosedPipe) ::close(closedPipe[1]);
  s.pid = pid;
  if (s.terminal >= 0) {
    // Read while the child runs, so that it never waits on a full terminal;
    // the reads end (EIO) once the child's side is closed.
    s.terminalReader = std::thread([&s] {
      char chunk[4096];
      for (ssize_t n; (n = ::read(s.terminal, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR);) {
        if (n > 0) s.terminalOutput.append(chunk, static_cast<size_t>(n));
      }
    });
  }
}

Process::~Process() {
  if (started() && !state_->done) {
    sendSignal(Signal::kKill);
    wait();
  }
}

bool Process::started() const { return state_->pid > 0; }

bool Process::sendSignal(Signal signal) {
  return started() && !state_->done && ::kill(state_->pid, signalNumber(signal)) == 0;
}

ProcessResult Process::wait() {
  State& s = *state_;
  ProcessResult result;
  if (started() && !s.done) {
    int status = 0;
    while (::waitpid(s.pid, &status, 0) < 0 && errno == EINTR) {
    }
    s.done = true;
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  result.out = s.files.takeStdout();
  if (s.terminal >= 0) {
    if (s.terminalReader.joinable()) s.terminalReader.join();
    ::close(s.terminal);
    s.terminal = -1;
    result.err = std::move(s.terminalOutput);
  } else {
    result.err = s.files.takeStderr();
  }
  return result;
}

bool canSendSignals() { return true; }

std::string plantForeignLink(const std::string& target, const std::string& place) {
  if (::geteuid() == 0) {
    if (::symlink(target.c_str(), place.c_str()) != 0) return std::strerror(errno);
    if (::lchown(place.c_str(), 65534, 65534) != 0) return std::strerror(errno);
    return "";
  }
  const char* stock = std::getenv("ORDIL_FOREIGN_LINKS");
  if (stock == nullptr) return "not root, and no $ORDIL_FOREIGN_LINKS of links of another user";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(stock, error)) {
    if (entry.is_symlink() && std::filesystem::read_symlink(entry.path(), error) == target &&
        ::rename(entry.path().c_str(), place.c_str()) == 0) {
      return "";
    }
  }
  return "no link to " + target + " left in " + stock;
}

bool runningAsRoot() { return ::geteuid() == 0; }

std::string giveToNobody(const std::string& path) {
  return ::lchown(path.c_str(), 65534, 65534) == 0 ? "" : std::strerror(errno);
}

unsigned ownerOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_uid) : ~0u;
}

std::string makeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0644) == 0 ? "" : std::strerror(errno);
}

FifoReader::FifoReader(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}

FifoReader::~FifoReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::string FifoReader::readAvailable() {
  std::string got;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fd_, chunk, sizeof chunk)) > 0;) {
    got.append(chunk, static_cast<size_t>(n));
  }
  return got;
}

int signalNumber(Signal signal) {
  switch (signal) {
    case Signal::kInterrupt:
      return SIGINT;
    case Signal::kTerminate:
      return SIGTERM;
    case Signal::kHangUp:
      return SIGHUP;
    case Signal::kKill:
      return SIGKILL;
  }
  return 0;
}

}  // namespace ordil::testing
