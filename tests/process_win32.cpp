#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/capture_files.h"
#include "tests/process.h"
#include "platform/code_page.h"

namespace ordil::testing {

namespace {

// Quotes one argument so that the runtime's command-line splitting gives it
// back unchanged: backslashes are doubled only before a quote.
std::u16string quoteArgument(const std::u16string& arg) {
  std::u16string out = u"\"";
  size_t backslashes = 0;
  for (const char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, u'\\');
  out.push_back(u'"');
  return out;
}

// Opens a file the child inherits. Deletion stays shared: a process the
// child starts (Wine's desktop process, started by the first window, a
// message box) may inherit the handle and outlive the child.
HANDLE openForChild(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  std::u16string wide;
  if (!platform::narrowToWide(path, &wide)) return INVALID_HANDLE_VALUE;
  return CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()),
                     write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

struct Process::State {
  HANDLE process = nullptr;
  bool done = false;
  CaptureFiles files;
  explicit State(const ProcessOptions& options) : files(options.stdoutPath) {}
};

Process::Process(const std::vector<std::string>& args, const ProcessOptions& options)
    : state_(std::make_unique<State>(options)) {
  State& s = *state_;
  std::u16string commandLine;
  for (const std::string& arg : args) {
    std::u16string wide;
    if (!platform::narrowToWide(arg, &wide)) wide = u"(argument too long)";
    if (!commandLine.empty()) commandLine.push_back(u' ');
    commandLine += quoteArgument(wide);
  }
  const HANDLE in = openForChild("NUL", false);
  const HANDLE out = openForChild(s.files.stdoutPath, true);
  const HANDLE err = openForChild(s.files.stderrPath, true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL created = CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(commandLine.data()),
                                      nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                      &process);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  if (!created) return;
  CloseHandle(process.hThread);
  s.process = process.hProcess;
}

Process::~Process() {
  if (started() && !state_->done) {
    TerminateProcess(state_->process, 1);
    wait();
  }
  if (state_->process != nullptr) CloseHandle(state_->process);
}

bool Process::started() const { return state_->process != nullptr; }

bool Process::sendSignal(Signal) { return false; }

ProcessResult Process::wait() {
  State& s = *state_;
  ProcessResult result;
  if (started() && !s.done) {
    WaitForSingleObject(s.process, INFINITE);
    s.done = true;
    DWORD status = 0;
    if (GetExitCodeProcess(s.process, &status)) result.status = static_cast<int>(status);
  }
  result.out = s.files.takeStdout();
  result.err = s.files.takeStderr();
  return result;
}

bool canSendSignals() { return false; }

std::string plantForeignLink(const std::string&, const std::string&) {
  return "the tests make no files of another user here";
}

bool runningAsRoot() { return false; }
std::string giveToNobody(const std::string&) { return "no owners here"; }
unsigned ownerOf(const std::string&) { return 0; }

std::string makeFifo(const std::string&) { return "no FIFOs here"; }

FifoReader::FifoReader(const std::string&) {}
FifoReader::~FifoReader() = default;
std::string FifoReader::readAvailable() { return ""; }

int signalNumber(Signal) { return 0; }

}  // namespace ordil::testing
