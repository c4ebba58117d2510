// The stand-in's own lock: one word, one atomic operation each way when nobody waits, and a
// futex wait (through std::atomic's wait and notify) when somebody must. The handle table and
// every critical section are one of these, so that a call pays a few instructions for its lock
// where a pthread mutex costs tens.
#pragma once

#include <atomic>
#include <cstdint>

namespace standin {

class Lock {
public:
    Lock() = default;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void lock() noexcept
    {
        std::uint32_t expected = Free;
        if (FState.compare_exchange_strong(expected, Held, std::memory_order_acquire, std::memory_order_relaxed))
            return;
        // From here on the lock is marked as waited for, so that whoever holds it wakes a waiter
        // on leaving; the marking stays while any waiter may be left.
        while (FState.exchange(Contended, std::memory_order_acquire) != Free)
            FState.wait(Contended, std::memory_order_relaxed);
    }

    void unlock() noexcept
    {
        if (FState.exchange(Free, std::memory_order_release) == Contended)
            FState.notify_one();
    }

private:
    static constexpr std::uint32_t Free = 0;
    static constexpr std::uint32_t Held = 1;
    static constexpr std::uint32_t Contended = 2; // held, and a thread may be waiting

    std::atomic<std::uint32_t> FState{Free};
};

} // namespace standin
