// How a program of the tools ends on a signal without leaving anything half-written.
//
// A run may be blocked where no check of a flag can reach it: in open() of a FIFO that has no
// writer yet, in a read inside libsndfile (which retries EINTR), in a write to a pipe nobody
// reads. So the handler of an ending signal does the cleanup itself: it removes the temporary
// files and folders recorded here, writes the one-line message and leaves with _exit(128 +
// signal), as a shell reports a program ended by that signal. See Interrupt.cpp for why that is
// safe inside a handler.
#pragma once

#include "tools/lib/common/ToolError.h"

#include <csignal>
#include <cstdint>
#include <string>

namespace common {

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that no file the program
// opens takes one of them (a trace in descriptor 1 would receive the PPM frames). They are
// opened read-only: a write to a standard stream that was closed fails with EBADF and is
// reported, rather than vanishing.
void OccupyStandardDescriptors() noexcept;

// Installs the handler of the ending signals, and ignores SIGPIPE and SIGXFSZ so that a reader
// that went away and a file-size limit (ulimit -f) make a write fail (EPIPE, EFBIG) and end the
// run with its one-line error instead of killing it on the spot. The handler's line begins with
// the program's name (ToolError.h): "NAME: interrupted". RunProgram (ProgramMain.h) calls it.
void InstallEndingHandlers() noexcept;

// For its lifetime, the first SIGINT or SIGTERM asks for an orderly end instead of ending the
// process: OrderlyEndRequested() turns true, and the caller, which polls it, ends its run as on
// its user's word. Every other ending signal, and a second SIGINT or SIGTERM, end the process at
// once as usual. For the live player, whose Ctrl-C ends the run as closing its window does.
class TOrderlyEndOnInterrupt {
public:
    TOrderlyEndOnInterrupt() noexcept;
    ~TOrderlyEndOnInterrupt();
    TOrderlyEndOnInterrupt(const TOrderlyEndOnInterrupt&) = delete;
    TOrderlyEndOnInterrupt& operator=(const TOrderlyEndOnInterrupt&) = delete;
};
bool OrderlyEndRequested() noexcept;

// Ends the process as the ending handler does, for a failure that cannot be returned from (Xlib
// ends the process when its handler of a lost connection returns): removes every recorded
// temporary, writes "NAME: AMessage" as one line (AMessage must hold no line break) and
// leaves with _exit(AStatus). Not for a signal handler; safe wherever else a thread stands,
// inside a held scope too.
[[noreturn]] void EndProcessNow(const char* AMessage, int AStatus) noexcept;

// Holds the ending signals back for its lifetime: what happens in its scope (creating and
// recording a temporary, moving the outputs into place) is never cut in half by the handler.
// A signal that arrives meanwhile is handled when the scope ends.
//
// This holds across threads too. The handler, on whichever thread it runs, first waits until
// no other thread is inside such a scope, and a thread that would enter one once the handler
// has begun waits there for the end of the process: no thread creates a file while the handler
// removes what the record names. Scopes nest within a thread.
class TEndingSignalsHeld {
public:
    TEndingSignalsHeld() noexcept;
    ~TEndingSignalsHeld();
    TEndingSignalsHeld(const TEndingSignalsHeld&) = delete;
    TEndingSignalsHeld& operator=(const TEndingSignalsHeld&) = delete;

private:
    sigset_t FPrevious;
};

// Blocks the ending signals in the calling thread for good, so that they go to another thread
// of the process: for helper threads, such as the one that writes the output.
void BlockEndingSignalsInThisThread() noexcept;

// The bar of Progress.h is on the screen without its newline: the handler ends that line before
// its message.
void SetProgressLineOpen(bool AOpen) noexcept;

// What the handler removes before the process ends, installed by the library that records the
// temporary outputs (output/Temporaries.h); null until then. It must be async-signal-safe, and
// it runs once the other threads have left their held scopes.
using TEndingCleanup = void (*)() noexcept;
void SetEndingCleanup(TEndingCleanup ACleanup) noexcept;

} // namespace common
