// Heap allocations of the whole process while the visualization draws steady frames through the
// player's interface: none. The counting operator new replaces the global one for this program
// and counts only while a test asks it to.
#include "tests/support/StressSupport.h"
#include "tests/support/GdiRecording.h"

#include "tests/support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <ostream>

namespace {

// What the frames look like while they are counted.
struct TAllocationCase {
    const char* Name;
    BOOL Rasterizing;
    std::int32_t Width, Height;
    testing_support::TWaveKind Wave;
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
    auto* vis = Make<testing_support::TCountedVisualization>(&destroyed).Detach();
    IAIMPExtensionEmbeddedVisualization* slots = vis->Interface();
    ASSERT_EQ(slots->Initialize(c.Width, c.Height), S_OK);
    testing_support::TMemoryContext dc(160, 120);
    std::mt19937 random(77);
    auto block = testing_support::MakeBlock(c.Wave, random);

    // A full turn of the slots, so that every depth, colour and pool entry has been seen once.
    for (int frame = 0; frame < 160; ++frame)
        slots->Draw(dc.Dc(), block.get());

    testing_support::TAllocationCounter counter;
    for (int frame = 0; frame < 160; ++frame) // captures on every fifth of them
        slots->Draw(dc.Dc(), block.get());
    slots->Resize(c.Height, c.Width);
    for (int frame = 0; frame < 10; ++frame)
        slots->Draw(dc.Dc(), block.get());
    counter.Stop();
    EXPECT_EQ(counter.Allocations(), 0u);

    slots->Finalize();
    slots->Release();
    EXPECT_EQ(destroyed.load(), 1);
    StandInSetRasterizing(TRUE);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DrawAllocation,
    ::testing::Values(TAllocationCase{"Drawn", TRUE, 160, 120, testing_support::TWaveKind::Quiet},
                      TAllocationCase{"NotRasterized", FALSE, 160, 120, testing_support::TWaveKind::Quiet},
                      TAllocationCase{"LoudBlocks", TRUE, 160, 120, testing_support::TWaveKind::Loud},
                      TAllocationCase{"HostileBlocks", TRUE, 160, 120, testing_support::TWaveKind::Hostile},
                      TAllocationCase{"ExtremeExtents", TRUE, INT_MAX, INT_MIN, testing_support::TWaveKind::Quiet}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

} // namespace
