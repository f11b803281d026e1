// What happens when the run is interrupted, and files it must not leave
// behind when it is.
#ifndef ORDIL_PLATFORM_INTERRUPT_H_
#define ORDIL_PLATFORM_INTERRUPT_H_

#include "platform/file_name.h"

namespace ordil::platform {

// Installs the process's handling of interruptions; call once, first thing.
// On SIGINT, SIGTERM and SIGHUP (POSIX), or Ctrl-C, Ctrl-Break and the
// console being closed (Windows), every pending file (below) is removed and
// the process ends as the signal ends it, which a shell reports as status
// 128 + the signal's number (130 for Ctrl-C); on Windows the process exits
// with that status. On POSIX a write to a closed pipe then fails with
// EPIPE, to be reported, instead of ending the process silently.
void installInterruptHandling();

// The most files pending at once.
inline constexpr int kMaxPendingFiles = 640;

// Marks a file to be removed if the run is interrupted, until
// forgetPendingFile(ticket). The name must stay alive and unchanged until
// then. Returns the ticket, or -1 when kMaxPendingFiles are pending already
// (an interruption then leaves this one behind).
int rememberPendingFile(const NativeFileName& name);

// Ends what rememberPendingFile began; -1 is ignored.
void forgetPendingFile(int ticket);

// Whether an interruption has begun removing the pending files, the process
// ending once it has. Whoever makes a pending file asks after making it,
// and whoever would rename one asks before: when it has, the file is
// removed or left alone, and the caller waits for the end
// (awaitInterruptionsEnd), so that no hidden file outlives an interruption
// and no document is renamed once it has begun.
bool interrupted();

// Bracket the making of a pending file, from before rememberPendingFile
// until its maker has asked interrupted() once the file is made (and
// removed it, when it was): an interruption on another thread waits for
// the maker (a second at most) before the process ends, so that a file
// made just after the pending ones were removed does not outlive it.
void beginMakingPendingFile();
void endMakingPendingFile();

// Never returns: the interruption ends the process.
[[noreturn]] void awaitInterruptionsEnd();

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_INTERRUPT_H_
