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
// (unlink, rmdir, write, _exit) and reads nothing but this fixed table, which no one allocates
// or frees. Each slot is published with a lock-free atomic state: the path is filled in while
// the slot is "claimed" and becomes visible to the handler only once the state turns "live"
// (release order), and a slot stops being live before it is reused. Every change to the table
// and to the files it names is made while the ending signals are held (TEndingSignalsHeld), so
// that the handler never sees a file that is not yet recorded or a record whose file was
// already renamed into place. The handler runs with all the ending signals blocked, so it runs
// once, and it never returns: there is no interrupted state to resume. (The one exception is an
// interrupt that asks for an orderly end: the handler then only raises a flag, and returns.)
enum : int { SlotFree = 0, SlotClaimed = 1, SlotLive = 2 };

struct TSlot {
    std::atomic<int> State{SlotFree};
    std::atomic<std::int64_t> Frames{0};
    TTemporaryKind Kind = TTemporaryKind::File;
    char Path[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::int64_t>::is_always_lock_free,
              "the handler may read only lock-free atomics");

// A trace, a GIF or a PNG and a folder at most are written at once; the rest is headroom.
constexpr int SlotCount = 8;
TSlot Slots[SlotCount];

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
    RemoveRecordedTemporaries();
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

TTemporaryRecord::TTemporaryRecord(const std::string& APath, TTemporaryKind AKind)
{
    if (APath.size() >= PATH_MAX)
        throw EToolError("cannot write output " + Quoted(APath) + ": the path is too long");
    for (int slot = 0; slot < SlotCount; ++slot) {
        int expected = SlotFree;
        if (!Slots[slot].State.compare_exchange_strong(expected, SlotClaimed))
            continue;
        TSlot& entry = Slots[slot];
        std::memcpy(entry.Path, APath.c_str(), APath.size() + 1);
        entry.Kind = AKind;
        entry.Frames.store(0);
        entry.State.store(SlotLive, std::memory_order_release);
        FSlot = slot;
        return;
    }
    throw EToolError("cannot write output " + Quoted(APath) + ": too many outputs at once");
}

TTemporaryRecord::~TTemporaryRecord()
{
    Drop();
}

TTemporaryRecord::TTemporaryRecord(TTemporaryRecord&& AOther) noexcept : FSlot(AOther.FSlot)
{
    AOther.FSlot = -1;
}

TTemporaryRecord& TTemporaryRecord::operator=(TTemporaryRecord&& AOther) noexcept
{
    if (this != &AOther) {
        Drop();
        FSlot = AOther.FSlot;
        AOther.FSlot = -1;
    }
    return *this;
}

void TTemporaryRecord::SetFrameCount(std::int64_t ACount) noexcept
{
    if (FSlot >= 0)
        Slots[FSlot].Frames.store(ACount);
}

void TTemporaryRecord::Drop() noexcept
{
    if (FSlot >= 0)
        Slots[FSlot].State.store(SlotFree, std::memory_order_release);
    FSlot = -1;
}

int FormatFrameName(std::int64_t AFrame, char* AOut) noexcept
{
    char digits[24];
    int count = 0;
    auto value = static_cast<std::uint64_t>(AFrame < 0 ? 0 : AFrame);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count < 6)
        digits[count++] = '0';
    int length = 0;
    for (const char c : {'f', 'r', 'a', 'm', 'e', '-'})
        AOut[length++] = c;
    while (count > 0)
        AOut[length++] = digits[--count];
    for (const char c : {'.', 'p', 'n', 'g'})
        AOut[length++] = c;
    AOut[length] = 0;
    return length;
}

void SetProgressLineOpen(bool AOpen) noexcept
{
    ProgressLineOpen.store(AOpen);
}

void RemoveRecordedTemporaries() noexcept
{
    for (TSlot& slot : Slots) {
        if (slot.State.load(std::memory_order_acquire) != SlotLive)
            continue;
        if (slot.Kind == TTemporaryKind::File) {
            unlink(slot.Path);
            continue;
        }
        char path[PATH_MAX + 40];
        const std::size_t folder = std::strlen(slot.Path);
        std::memcpy(path, slot.Path, folder);
        path[folder] = '/';
        const std::int64_t frames = slot.Frames.load();
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            FormatFrameName(frame, path + folder + 1);
            unlink(path);
        }
        rmdir(slot.Path);
    }
}

} // namespace common
