// Heap allocations of the whole process while the visualization draws steady frames through the
// player's interface: none. The counting operator new replaces the global one for this program
// and counts only while a test asks it to.
#include "tests/stress/StressSupport.h"
#include "tests/support/GdiRecording.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <ostream>

namespace {

std::atomic<bool> GCounting{false};
std::atomic<std::size_t> GAllocations{0};
int* volatile GSink = nullptr;  // keeps the compiler from eliding the allocation below

} // namespace

void* operator new(std::size_t ASize)
{
    if (GCounting.load(std::memory_order_relaxed))
        GAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(ASize != 0 ? ASize : 1))
        return p;
    throw std::bad_alloc();
}

// The nothrow form is replaced as well, so that every form the plain delete may receive comes
// from malloc: under AddressSanitizer the forms not replaced here stay the sanitizer's own.
void* operator new(std::size_t ASize, const std::nothrow_t&) noexcept
{
    if (GCounting.load(std::memory_order_relaxed))
        GAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(ASize != 0 ? ASize : 1);
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

namespace {

// What the frames look like while they are counted.
struct TAllocationCase {
    const char* Name;
    BOOL Rasterizing;
    std::int32_t Width, Height;
    stress::TWaveKind Wave;
};

// Names the case in test listings.
void PrintTo(const TAllocationCase& ACase, std::ostream* AStream)
{
    *AStream << ACase.Name;
}

class DrawAllocation : public ::testing::TestWithParam<TAllocationCase> {};

TEST_P(DrawAllocation, SteadyFramesAllocateNothing)
{
    const TAllocationCase& c = GetParam();
    StandInSetRasterizing(c.Rasterizing);
    std::atomic<int> destroyed{0};
    auto* vis = Make<stress::TCountedVisualization>(&destroyed);
    IAIMPExtensionEmbeddedVisualization* slots = vis->Interface();
    slots->AddRef();
    ASSERT_EQ(slots->Initialize(c.Width, c.Height), S_OK);
    testing_support::TMemoryDC dc(160, 120);
    std::mt19937 random(77);
    auto block = stress::MakeBlock(c.Wave, random);

    // A full turn of the slots, so that every depth, colour and pool entry has been seen once.
    for (int frame = 0; frame < 160; ++frame)
        slots->Draw(dc.Handle(), block.get());

    GAllocations.store(0);
    GCounting.store(true);
    for (int frame = 0; frame < 160; ++frame)  // captures on every fifth of them
        slots->Draw(dc.Handle(), block.get());
    slots->Resize(c.Height, c.Width);
    for (int frame = 0; frame < 10; ++frame)
        slots->Draw(dc.Handle(), block.get());
    GCounting.store(false);
    EXPECT_EQ(GAllocations.load(), 0u);

    slots->Finalize();
    slots->Release();
    EXPECT_EQ(destroyed.load(), 1);
    StandInSetRasterizing(TRUE);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DrawAllocation,
    ::testing::Values(TAllocationCase{"Drawn", TRUE, 160, 120, stress::TWaveKind::Quiet},
                      TAllocationCase{"NotRasterized", FALSE, 160, 120, stress::TWaveKind::Quiet},
                      TAllocationCase{"LoudBlocks", TRUE, 160, 120, stress::TWaveKind::Loud},
                      TAllocationCase{"HostileBlocks", TRUE, 160, 120, stress::TWaveKind::Hostile},
                      TAllocationCase{"ExtremeExtents", TRUE, INT_MAX, INT_MIN, stress::TWaveKind::Quiet}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// The counter itself works, so that a zero above means something.
TEST(DrawAllocationCounter, SeesAnAllocation)
{
    GAllocations.store(0);
    GCounting.store(true);
    GSink = new int(5);
    GCounting.store(false);
    delete GSink;
    EXPECT_EQ(GAllocations.load(), 1u);
}

} // namespace
