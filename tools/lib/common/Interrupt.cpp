#include "tools/lib/common/Interrupt.h"

#include "tools/lib/common/ToolError.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace common {

namespace {

// Why the handler is safe. It calls only functions that POSIX lists as async-signal-safe
// (write, _exit, and through the installed cleanup unlink and rmdir) and reads nothing but
// lock-free atomics and the fixed table of temporaries (output/Temporaries.cpp), which no one
// allocates or frees. Every change to that table and to the files it names is made while the
// ending signals are held (TEndingSignalsHeld), so that the handler never sees a file that is
// not yet recorded or a record whose file was already renamed into place. The handler runs with all the ending signals
// blocked, so it runs once, and it never returns: there is no interrupted state to resume. (The one exception is an
// interrupt that asks for an orderly end: the handler then only raises a flag, and returns.)
// The cleanup that the record of temporaries installs (SetEndingCleanup).
std::atomic<TEndingCleanup> EndingCleanup{nullptr};
static_assert(std::atomic<TEndingCleanup>::is_always_lock_free, "the handler may read only lock-free atomics");

std::atomic<bool> ProgressLineOpen{false};

// The gate between held scopes on any thread and the handler (see TEndingSignalsHeld): the
// number of threads inside a held scope, and whether the handler has begun its cleanup.
std::atomic<int> HoldingThreads{0};
std::atomic<bool> CleanupBegun{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may read only lock-free atomics");
// How deep the calling thread's held scopes nest; only the outermost one passes the gate.
thread_local int HeldDepth = 0;

// An orderly stretch (TOrderlyEndOnInterrupt): whether the next SIGINT or SIGTERM only asks for
// the end, and whether one has.
std::atomic<bool> OrderlyArmed{false};
std::atomic<bool> OrderlyRequested{false};

void WriteAll(int AFile, const char* AText, std::size_t ACount) noexcept
{
    while (ACount > 0) {
        const ssize_t put = write(AFile, AText, ACount);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        AText += put;
        ACount -= static_cast<std::size_t>(put);
    }
}

// The signals whose default action ends the process and that a user or the system sends to
// stop it. The signals of faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS)
// are left alone: they mean a bug, the state is not to be trusted, and the sanitizers report
// there. SIGQUIT is handled too: a core of a tool helps nobody, and Ctrl-\ is one more way
// for a user to stop a run that must leave nothing half-written.
sigset_t EndingSignals() noexcept
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal :
         {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO, SIGPWR})
        sigaddset(&set, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&set, signal);
    return set;
}

// The standard error the run started with. Decoding may point descriptor 2 at /dev/null for a
// while (to keep a decoder's own messages out), and a signal may come just then.
std::atomic<int> MessageDescriptor{STDERR_FILENO};

// The handler's work and the end of the process. AOwnHolds is 1 when the calling thread is
// inside a held scope itself (it never leaves it), else 0.
[[noreturn]] void CleanUpAndLeave(int AOwnHolds, const char* AMessage, int AStatus) noexcept
{
    // A thread inside a held scope runs on (its ending signals are blocked, so the handler is
    // not on it) and leaves the scope soon; one that would enter a scope now stops at the gate.
    CleanupBegun.store(true);
    while (HoldingThreads.load() > AOwnHolds) {
    }
    if (const TEndingCleanup cleanup = EndingCleanup.load())
        cleanup();
    // One write for the line, so that nothing else lands inside it.
    char line[256];
    std::size_t length = 0;
    const auto append = [&](const char* AText) {
        for (; *AText != 0 && length < sizeof line - 2; ++AText)
            line[length++] = *AText;
    };
    if (ProgressLineOpen.load())
        append("\n");
    // The name is a pointer published with one lock-free store (ToolError.cpp), to text that
    // never changes: reading it here is safe whenever the signal comes.
    append(ProgramName());
    append(": ");
    append(AMessage);
    line[length++] = '\n';
    WriteAll(MessageDescriptor.load(), line, length);
    _exit(AStatus);
}

extern "C" void OnEndingSignal(int ASignal)
{
    // The first interrupt of an orderly stretch is the user's word to end the run; the loop
    // that polls the flag does the rest.
    if ((ASignal == SIGINT || ASignal == SIGTERM) && OrderlyArmed.exchange(false)) {
        OrderlyRequested.store(true);
        return;
    }
    // The signal is not blocked on this thread, so it is inside no held scope.
    CleanUpAndLeave(0, "interrupted", 128 + ASignal);
}

} // namespace

void OccupyStandardDescriptors() noexcept
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is taken, and those below this one are open by now.
        const int opened = open("/dev/null", O_RDONLY);
        if (opened >= 0 && opened != descriptor) {
            dup2(opened, descriptor);
            close(opened);
        }
    }
}

void InstallEndingHandlers() noexcept
{
    if (const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3); saved >= 0)
        MessageDescriptor.store(saved);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    action.sa_mask = EndingSignals();
    action.sa_flags = 0;
    for (int signal = 1; signal <= SIGRTMAX; ++signal) {
        if (sigismember(&action.sa_mask, signal) != 1)
            continue;
        // A signal already ignored stays so (nohup, a shell's background job), and one with a
        // handler of its own (a profiler's SIGPROF) keeps it.
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            (current.sa_flags & SA_SIGINFO) == 0)
            sigaction(signal, &action, nullptr);
    }
}

TEndingSignalsHeld::TEndingSignalsHeld() noexcept
{
    const sigset_t set = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &set, &FPrevious);
    if (HeldDepth++ > 0)
        return;
    HoldingThreads.fetch_add(1);
    if (CleanupBegun.load()) {
        // The handler is removing the temporaries on another thread and ends the process next.
        HoldingThreads.fetch_sub(1);
        for (;;)
            pause();
    }
}

TEndingSignalsHeld::~TEndingSignalsHeld()
{
    if (--HeldDepth == 0)
        HoldingThreads.fetch_sub(1);
    pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
}

TOrderlyEndOnInterrupt::TOrderlyEndOnInterrupt() noexcept
{
    OrderlyRequested.store(false);
    OrderlyArmed.store(true);
}

TOrderlyEndOnInterrupt::~TOrderlyEndOnInterrupt()
{
    OrderlyArmed.store(false);
}

bool OrderlyEndRequested() noexcept
{
    return OrderlyRequested.load();
}

void EndProcessNow(const char* AMessage, int AStatus) noexcept
{
    const sigset_t set = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    CleanUpAndLeave(HeldDepth > 0 ? 1 : 0, AMessage, AStatus);
}

void BlockEndingSignalsInThisThread() noexcept
{
    const sigset_t set = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void SetProgressLineOpen(bool AOpen) noexcept
{
    ProgressLineOpen.store(AOpen);
}

void SetEndingCleanup(TEndingCleanup ACleanup) noexcept
{
    EndingCleanup.store(ACleanup);
}

} // namespace common
