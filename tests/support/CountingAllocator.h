// Counts the heap allocations of the whole process, the module's included (it shares the C++
// runtime). A test program that links CountingAllocator.cpp replaces the global operator new
// with one that counts while a TAllocationCounter is alive.
#pragma once

#include <cstddef>

namespace testing_support {

// Counts every allocation through operator new from construction until Stop() or destruction.
// One at a time.
class TAllocationCounter {
public:
    TAllocationCounter() noexcept;
    ~TAllocationCounter() { Stop(); }
    TAllocationCounter(const TAllocationCounter&) = delete;
    TAllocationCounter& operator=(const TAllocationCounter&) = delete;

    void Stop() noexcept;
    std::size_t Allocations() const noexcept;
};

} // namespace testing_support
