// Once the rings are all in flight, a frame of the preview (reading the block, filling the
// record, the module's Draw and the GIF's encoding) asks the heap for nothing: every buffer is
// made once, before the first frame.
// Not under AddressSanitizer, which brings its own operator new to watch every block.
#ifndef __SANITIZE_ADDRESS__

#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/output/gif/GifWriter.h"
#include "tools/lib/drive/NativeRenderer.h"
#include "tools/lib/sound/FrameSound.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/lib/drive/VisualData.h"
#include "tools/lib/output/WriterThread.h"

#include "tests/support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

#ifdef PREVIEW_MODULE
// Through the GIF writer alone, and through the writer thread in front of it as a run has it
// (the count covers every thread of the process).
class PreviewSteadyState : public ::testing::TestWithParam<bool> {};

TEST_P(PreviewSteadyState, AFrameAllocatesNothing)
{
    testing_support::TScratch scratch;
    const auto signal = sound::MakeDefaultSignal();
    drive::TNativeRenderer renderer({PREVIEW_MODULE, 160, 120, scratch / "trace.txt"});
    std::unique_ptr<output::TFrameWriter> writer = output::MakeGifWriter(scratch / "out.gif", 160, 120, 30);
    if (GetParam())
        writer = std::make_unique<output::TWriterThread>(std::move(writer), 160, 120);
    TAIMPVisualData data{};
    std::array<float, sound::BlockSize> left{}, right{};
    const auto frame = [&](std::int64_t AFrame) {
        signal->ReadBlock(sound::FrameStart(AFrame, signal->Rate(), 30), left.data(), right.data());
        drive::FillVisualData(data, left.data(), right.data());
        writer->Write(AFrame, renderer.Render(AFrame, data), {});
    };
    // 155 frames: every slot has been captured once and every colour has been drawn.
    std::int64_t n = 0;
    for (; n < 160; ++n)
        frame(n);
    testing_support::TAllocationCounter counter;
    for (; n < 200; ++n)
        frame(n);
    // A Write returns once a buffer is free, that is once all but the last QueuedFrames frames
    // are encoded: these frames make sure that the ones above were encoded while counting.
    for (const std::int64_t end = n + output::QueuedFrames + 1; n < end; ++n)
        frame(n);
    counter.Stop();
    EXPECT_EQ(counter.Allocations(), 0u);
}

// The sound a video takes with each frame: the frame sound reads each frame's span ahead into
// room it made at the start, and the writer thread copies it into its buffers, made at the start
// as well, so that a frame with its sound allocates nothing either.
TEST(PreviewSteadyStateSound, AFrameWithItsSoundAllocatesNothing)
{
    testing_support::TScratch scratch;
    const auto signal = sound::MakeDefaultSignal();
    drive::TNativeRenderer renderer({PREVIEW_MODULE, 160, 120, ""});
    const std::unique_ptr<output::TFrameWriter> writer =
        std::make_unique<output::TWriterThread>(output::MakeGifWriter(scratch / "out.gif", 160, 120, 30), 160, 120,
                                                output::QueuedFrames, output::LongestSoundSpan(signal->Rate(), 30));
    sound::TFrameSound sound(*signal, 30, sound::TSpans::Kept);
    TAIMPVisualData data{};
    const auto frame = [&](std::int64_t AFrame) {
        sound.Read(AFrame);
        drive::FillVisualData(data, sound.Left(), sound.Right());
        writer->Write(AFrame, renderer.Render(AFrame, data),
                      {sound.SpanStart(), sound.SpanCount(), sound.SpanLeft(), sound.SpanRight()});
    };
    std::int64_t n = 0;
    for (; n < 160; ++n)
        frame(n);
    testing_support::TAllocationCounter counter;
    for (const std::int64_t end = n + 40 + output::QueuedFrames + 1; n < end; ++n)
        frame(n);
    counter.Stop();
    EXPECT_EQ(counter.Allocations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Preview, PreviewSteadyState, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& AInfo) {
                             return AInfo.param ? "ThroughTheWriterThread" : "Direct";
                         });
#endif

} // namespace

#endif
