// Interruptions on POSIX: the handler removes the pending files and then
// lets the signal end the process, so that a shell (and a loop running ordil
// over many files) sees that it was interrupted.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "platform/interrupt.h"
#include "platform/pending_files.h"

namespace ordil::platform {

namespace {

// The handler only empties this table and unlinks, both safe in a signal
// handler.
PendingFiles<char> pending;

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

// Whether this thread is making a pending file: the handler, run on it,
// does not wait for itself.
thread_local bool makingHere = false;

void onInterrupt(int signal) {
  pending.removeAll([](const char* name) { ::unlink(name); });
  pending.awaitMakers(makingHere, 1000, [] {
    const timespec millisecond{0, 1000000};
    ::nanosleep(&millisecond, nullptr);
  });
  // SA_RESETHAND has restored the default action; the signal is blocked
  // while this handler runs, so it takes effect on return.
  ::raise(signal);
}

}  // namespace

void installInterruptHandling() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  for (const int signal : kInterruptions) sigaddset(&action.sa_mask, signal);
  for (const int signal : kInterruptions) {
    // A signal that the caller ignores (nohup, a background job) stays ignored.
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
  ::signal(SIGPIPE, SIG_IGN);
}

int rememberPendingFile(const NativeFileName& name) { return pending.remember(name.c_str()); }

void forgetPendingFile(int ticket) { pending.forget(ticket); }

bool interrupted() { return pending.closing(); }

void beginMakingPendingFile() {
  makingHere = true;
  pending.beginMaking();
}

void endMakingPendingFile() {
  pending.endMaking();
  makingHere = false;
}

void awaitInterruptionsEnd() {
  for (;;) ::pause();
}

}  // namespace ordil::platform
