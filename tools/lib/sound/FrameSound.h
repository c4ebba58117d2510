// The sound of a run of frames, read once from a source and handed out in order: frame f's block
// (the BlockSize samples from FrameStart(f), which the module is shown) and, for an output with a
// sound track, the span that frame adds to the track (FrameStart(f) to FrameStart(f + 1)), so
// that frames 0 to n - 1 carry exactly the samples 0 to FrameStart(n) between them.
//
// Blocks overlap where a frame hops less than BlockSize samples, and leave gaps where it hops
// more; the span is read ahead of the next frame's block in blocks that follow each other, so
// the source still sees its reads in increasing order and decodes every sample once.
#pragma once

#include "tools/lib/sound/SignalSource.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sound {

enum class TSpans {
    None, // only the frames' blocks
    Kept, // the blocks and the span each frame adds
};

class TFrameSound {
public:
    // Reads ASource (borrowed, outlives this) for frames at AFps. With TSpans::Kept the room for
    // the longest span is made here, so that reading a frame allocates nothing.
    TFrameSound(TSignalSource& ASource, std::int32_t AFps, TSpans ASpans);

    // Reads frame AFrame; frames come in order from 0.
    void Read(std::int64_t AFrame);

    // Frame AFrame's block, BlockSize samples of each channel.
    const float* Left() const noexcept { return FLeft.data(); }
    const float* Right() const noexcept { return FRight.data(); }
    // The span the frame adds, from sample SpanStart: SpanCount samples of each channel (0
    // without TSpans::Kept).
    std::int64_t SpanStart() const noexcept { return FSpanStart; }
    std::int32_t SpanCount() const noexcept { return FSpanCount; }
    const float* SpanLeft() const noexcept { return FSpanLeft.data(); }
    const float* SpanRight() const noexcept { return FSpanRight.data(); }

private:
    TSignalSource& FSource;
    std::int32_t FFps;
    TSpans FSpans;
    std::array<float, BlockSize> FLeft{}, FRight{};
    std::vector<float> FSpanLeft, FSpanRight; // the longest span, rounded up to whole blocks
    std::int64_t FSpanStart = 0;
    std::int32_t FSpanCount = 0;
};

} // namespace sound
