#include "tests/support/CountingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> GCounting{false};
std::atomic<std::size_t> GAllocations{0};

void* Allocate(std::size_t ASize) noexcept
{
    if (GCounting.load(std::memory_order_relaxed))
        GAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(ASize != 0 ? ASize : 1);
}

} // namespace

testing_support::TAllocationCounter::TAllocationCounter() noexcept
{
    GAllocations.store(0);
    GCounting.store(true);
}

void testing_support::TAllocationCounter::Stop() noexcept
{
    GCounting.store(false);
}

std::size_t testing_support::TAllocationCounter::Allocations() const noexcept
{
    return GAllocations.load();
}

void* operator new(std::size_t ASize)
{
    if (void* p = Allocate(ASize))
        return p;
    throw std::bad_alloc();
}

// The nothrow form is replaced as well, so that every block the plain delete may receive comes
// from malloc: under AddressSanitizer the forms not replaced here stay the sanitizer's own.
void* operator new(std::size_t ASize, const std::nothrow_t&) noexcept
{
    return Allocate(ASize);
}

// The replaced operator new takes its memory from malloc, so free is the matching release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* APointer) noexcept
{
    std::free(APointer);
}

void operator delete(void* APointer, std::size_t) noexcept
{
    std::free(APointer);
}

void operator delete(void* APointer, const std::nothrow_t&) noexcept
{
    std::free(APointer);
}
#pragma GCC diagnostic pop
