#include <windows.h>

#include "platform/process.h"
#include "text/encoding.h"

namespace ordil::platform {

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

HANDLE openForChild(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  std::u16string wide;
  narrowToWide(path, &wide);
  return CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()),
                     write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

}  // namespace

int runProcess(const std::vector<std::string>& args, const std::string& stdoutPath,
               const std::string& stderrPath) {
  std::u16string commandLine;
  for (const std::string& arg : args) {
    std::u16string wide;
    narrowToWide(arg, &wide);
    if (!commandLine.empty()) commandLine.push_back(u' ');
    commandLine += quoteArgument(wide);
  }
  const HANDLE in = openForChild("NUL", false);
  const HANDLE out = openForChild(stdoutPath, true);
  const HANDLE err = openForChild(stderrPath, true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(commandLine.data()),
                                      nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                      &process);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  const BOOL got = GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return got ? static_cast<int>(status) : -1;
}

}  // namespace ordil::platform
