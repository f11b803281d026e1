// Interruptions on Windows: the console's control handler (which Windows
// runs on a thread of its own) removes the pending files and ends the
// process with 128 + the number of the matching signal.
#include <windows.h>

#include "platform/interrupt.h"
#include "platform/pending_files.h"

namespace ordil::platform {

namespace {

PendingFiles<char16_t> pending;

// The statuses a POSIX shell would report: SIGINT, SIGBREAK, SIGHUP.
UINT statusFor(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return 128 + 2;
    case CTRL_BREAK_EVENT:
      return 128 + 21;
    default:
      return 128 + 1;  // the console closed, the user logged off
  }
}

BOOL WINAPI onControl(DWORD event) {
  // The files are open with their deletion shared: each goes when its
  // handle closes, at the exit below.
  pending.removeAll(
      [](const char16_t* name) { DeleteFileW(reinterpret_cast<const wchar_t*>(name)); });
  // Runs on a thread of its own: every maker is another thread.
  pending.awaitMakers(false, 1000, [] { Sleep(1); });
  ExitProcess(statusFor(event));
}

}  // namespace

void installInterruptHandling() { SetConsoleCtrlHandler(onControl, TRUE); }

int rememberPendingFile(const NativeFileName& name) { return pending.remember(name.c_str()); }

void forgetPendingFile(int ticket) { pending.forget(ticket); }

bool interrupted() { return pending.closing(); }

void beginMakingPendingFile() { pending.beginMaking(); }

void endMakingPendingFile() { pending.endMaking(); }

void awaitInterruptionsEnd() {
  for (;;) Sleep(INFINITE);
}

}  // namespace ordil::platform
