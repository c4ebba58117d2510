#include "tools/lib/sound/FrameSound.h"

#include <algorithm>

namespace sound {

TFrameSound::TFrameSound(TSignalSource& ASource, std::int32_t AFps, TSpans ASpans)
    : FSource(ASource), FFps(AFps), FSpans(ASpans)
{
    if (FSpans == TSpans::Kept) {
        // A frame adds at most ceil(rate / fps) samples; the blocks read for it end on the next
        // whole block.
        const std::int64_t longest = (std::int64_t{ASource.Rate()} + AFps - 1) / AFps;
        const std::size_t room = static_cast<std::size_t>((longest + BlockSize - 1) / BlockSize * BlockSize);
        FSpanLeft.resize(room);
        FSpanRight.resize(room);
    }
}

void TFrameSound::Read(std::int64_t AFrame)
{
    const std::int32_t rate = FSource.Rate();
    const std::int64_t start = FrameStart(AFrame, rate, FFps);
    FSource.ReadBlock(start, FLeft.data(), FRight.data());
    if (FSpans == TSpans::None)
        return;
    const std::int64_t end = FrameStart(AFrame + 1, rate, FFps);
    FSpanStart = start;
    FSpanCount = static_cast<std::int32_t>(end - start);
    // The span begins with the frame's own block; what lies beyond it is read in the blocks that
    // follow, before the next frame's block, which starts at the span's end or later.
    const std::int32_t first = std::min<std::int32_t>(FSpanCount, BlockSize);
    std::copy_n(FLeft.data(), first, FSpanLeft.data());
    std::copy_n(FRight.data(), first, FSpanRight.data());
    for (std::int32_t at = BlockSize; at < FSpanCount; at += BlockSize)
        FSource.ReadBlock(start + at, FSpanLeft.data() + at, FSpanRight.data() + at);
}

} // namespace sound
