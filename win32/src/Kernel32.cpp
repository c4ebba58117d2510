// The kernel32 subset: MulDiv, recursive critical sections and the thread identity.
#include <windows.h>

#include "Lock.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// The lock behind a critical section. Windows keeps the waiters' event behind the structure as
// well; the public fields are kept up to date as Windows does, for debuggers and tests.
standin::Lock* LockOf(LPCRITICAL_SECTION ASection)
{
    return static_cast<standin::Lock*>(ASection->DebugInfo);
}

// The owner, which other threads read while the owner writes it: a thread finds its own id
// there only while it owns the section, so owning again is a count, with no lock taken.
#ifdef __cpp_lib_atomic_ref
using TOwnerRef = std::atomic_ref<HANDLE>;
#else
// The two operations of std::atomic_ref used here, for a library without it (emscripten's
// libc++), on the compiler's built-ins, whose orders are std::memory_order's values.
struct TOwnerRef {
    HANDLE& Field;
    HANDLE load(std::memory_order AOrder) const { return __atomic_load_n(&Field, static_cast<int>(AOrder)); }
    void store(HANDLE AValue, std::memory_order AOrder) const
    {
        __atomic_store_n(&Field, AValue, static_cast<int>(AOrder));
    }
};
#endif

TOwnerRef OwnerOf(LPCRITICAL_SECTION ASection)
{
    return TOwnerRef{ASection->OwningThread};
}

HANDLE CurrentThreadHandle()
{
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(GetCurrentThreadId()));
}

} // namespace

extern "C" {

int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator)
{
    if (nDenominator == 0)
        return -1;
    // Magnitudes in unsigned 64-bit arithmetic: |a * b| <= 2^62 and no negation can overflow.
    const auto magnitude = [](int AValue) {
        return AValue < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(static_cast<std::int64_t>(AValue))
                          : static_cast<std::uint64_t>(AValue);
    };
    const bool negative = ((nNumber < 0) != (nNumerator < 0)) != (nDenominator < 0);
    const std::uint64_t product = magnitude(nNumber) * magnitude(nNumerator);
    const std::uint64_t divisor = magnitude(nDenominator);
    // Half the divisor added before truncation: the quotient rounded with halves away from zero.
    const std::uint64_t quotient = (product + divisor / 2) / divisor;
    if (negative) {
        // NOTE: -2^31 is refused as well, as the reference GDI's kernel refuses it.
        if (quotient > static_cast<std::uint64_t>(INT32_MAX))
            return -1;
        return static_cast<int>(-static_cast<std::int64_t>(quotient));
    }
    if (quotient > static_cast<std::uint64_t>(INT32_MAX))
        return -1;
    return static_cast<int>(quotient);
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr)
        return;
    auto* lock = new (std::nothrow) standin::Lock();
    if (lock == nullptr)
        std::abort(); // Windows raises STATUS_NO_MEMORY here; there is no result to report it in.
    lpCriticalSection->DebugInfo = lock;
    lpCriticalSection->LockCount = -1;
    lpCriticalSection->RecursionCount = 0;
    lpCriticalSection->OwningThread = nullptr;
    lpCriticalSection->LockSemaphore = nullptr;
    lpCriticalSection->SpinCount = 0;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr || lpCriticalSection->DebugInfo == nullptr)
        return;
    const HANDLE self = CurrentThreadHandle();
    if (OwnerOf(lpCriticalSection).load(std::memory_order_relaxed) != self) {
        LockOf(lpCriticalSection)->lock();
        OwnerOf(lpCriticalSection).store(self, std::memory_order_relaxed);
    }
    // Only the owner writes these fields, and only while it holds the lock.
    ++lpCriticalSection->RecursionCount;
    ++lpCriticalSection->LockCount;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr || lpCriticalSection->DebugInfo == nullptr)
        return;
    // Leaving a section this thread does not own is a caller's fault; unlocking a mutex one does
    // not own is undefined, so it is ignored instead.
    if (OwnerOf(lpCriticalSection).load(std::memory_order_relaxed) != CurrentThreadHandle() ||
        lpCriticalSection->RecursionCount <= 0)
        return;
    --lpCriticalSection->LockCount;
    if (--lpCriticalSection->RecursionCount == 0) {
        OwnerOf(lpCriticalSection).store(nullptr, std::memory_order_relaxed);
        LockOf(lpCriticalSection)->unlock();
    }
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr)
        return;
    delete LockOf(lpCriticalSection);
    lpCriticalSection->DebugInfo = nullptr;
    lpCriticalSection->LockCount = -1;
    lpCriticalSection->RecursionCount = 0;
    lpCriticalSection->OwningThread = nullptr;
}

DWORD WINAPI GetCurrentThreadId(void)
{
    // The kernel's thread id: unique among live threads of the system, as on Windows, and never
    // 0. Asked for once a thread; a constant-initialized slot needs no guard on later calls.
    static thread_local DWORD id = 0;
    if (id == 0)
#ifdef __EMSCRIPTEN__
        id = static_cast<DWORD>(::gettid()); // emscripten has no syscall(), only its gettid()
#else
        id = static_cast<DWORD>(::syscall(SYS_gettid));
#endif
    return id;
}

} // extern "C"
