// Recursive locks of the graphics unit: a Windows critical section with one owner, and the guard
// that holds it for a scope.
#pragma once

#include <windows.h>

// One critical section, initialised at construction and deleted at destruction. Recursive: the
// owning thread may enter again and must leave as often. It never moves, because Windows keeps
// the section's address.
class TCriticalSection {
public:
    TCriticalSection() noexcept { InitializeCriticalSection(&FSection); }
    ~TCriticalSection() { DeleteCriticalSection(&FSection); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;

    void Enter() noexcept { EnterCriticalSection(&FSection); }
    void Leave() noexcept { LeaveCriticalSection(&FSection); }

private:
    CRITICAL_SECTION FSection;
};

// Holds a critical section from construction to destruction. A null section (an object without
// an owner) is no lock at all.
class TLockGuard {
public:
    explicit TLockGuard(TCriticalSection& ALock) noexcept : FLock(&ALock) { FLock->Enter(); }
    explicit TLockGuard(TCriticalSection* ALock) noexcept : FLock(ALock)
    {
        if (FLock)
            FLock->Enter();
    }
    ~TLockGuard()
    {
        if (FLock)
            FLock->Leave();
    }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    TCriticalSection* FLock;
};
