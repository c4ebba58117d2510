// Counts heap allocations of the whole process while a frame is drawn. The counting operator
// new replaces the global one for this test program; it counts only while a test asks it to.
#include "graphics/Graphics.h"
#include "graphics/ResourceManager.h"
#include "tests/support/TestCanvas.h"

#include <win32_standin.h>

#include "tests/support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// One frame as the ring renderer draws it: the background, then 31 rings of 64 dots, each dot
// with its own pen and brush colour (about 4000 colour changes), each ring closed by an outline.
void DrawFrame(TCanvas& ACanvas, HDC ADc, int AFrame)
{
    ACanvas.SetHandle(ADc);
    ACanvas.Brush().SetColor(0);
    ACanvas.FillRect(TRect{0, 0, 64, 64});
    ACanvas.Pen().SetWidth(1);
    TPoint ring[64];
    for (int s = 0; s < 31; ++s) {
        for (int k = 0; k < 64; ++k) {
            const int z = (AFrame * 5 + s * 25 + k) % 140;
            ring[k] = TPoint{32 + (k % 8) * 3 - 12, 32 + (k / 8) * 3 - 12};
            ACanvas.Pen().SetColor(static_cast<TColor>((s * 8) << 16 | z));
            ACanvas.Brush().SetColor(static_cast<TColor>((s * 8) << 16 | (z + 50)));
            ACanvas.Ellipse(ring[k].X - 1, ring[k].Y - 1, ring[k].X + 1, ring[k].Y + 1);
        }
        ACanvas.Polyline(ring);
    }
    ACanvas.SetHandle(nullptr);
}

TEST(PoolAllocation, SteadyFramesMakeNoHeapAllocation)
{
    testing_support::TMemoryContext dc(64, 64);
    ASSERT_TRUE(dc.Valid());
    for (BOOL rasterizing : {FALSE, TRUE}) {
        SCOPED_TRACE(rasterizing);
        StandInSetRasterizing(rasterizing);
        TCanvas canvas;
        DrawFrame(canvas, dc.Dc(), 0); // the pools reach their peak of entries
        const std::size_t poolAllocations =
            GraphicsModule().Pens.HeapAllocationCount() + GraphicsModule().Brushes.HeapAllocationCount();

        testing_support::TAllocationCounter counter;
        for (int frame = 1; frame <= 3; ++frame)
            DrawFrame(canvas, dc.Dc(), frame);
        counter.Stop();

        EXPECT_EQ(counter.Allocations(), 0u);
        EXPECT_EQ(GraphicsModule().Pens.HeapAllocationCount() + GraphicsModule().Brushes.HeapAllocationCount(),
                  poolAllocations);
    }
    StandInSetRasterizing(TRUE);
}

} // namespace
