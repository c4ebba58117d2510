#include "tools/lib/sound/CaptureRing.h"

#include <algorithm>
#include <cstring>

namespace sound {

void TCaptureRing::Feed(const unsigned char* ABytes, std::size_t ACount) noexcept
{
    // A null ABytes is silence: it copies as zeros and never advances.
    const auto take = [&](unsigned char* ATo, std::size_t ABytesTaken) {
        if (ABytes) {
            std::memcpy(ATo, ABytes, ABytesTaken);
            ABytes += ABytesTaken;
        } else {
            std::memset(ATo, 0, ABytesTaken);
        }
        ACount -= ABytesTaken;
    };
    if (FPartialBytes > 0) {
        const std::size_t missing = std::min(FrameBytes - FPartialBytes, ACount);
        take(FPartial.data() + FPartialBytes, missing);
        FPartialBytes += missing;
        if (FPartialBytes < FrameBytes)
            return;
        AppendFrames(FPartial.data(), 1);
        FPartialBytes = 0;
    }
    const std::size_t frames = ACount / FrameBytes;
    AppendFrames(ABytes, frames);
    if (ABytes)
        ABytes += frames * FrameBytes;
    ACount -= frames * FrameBytes;
    FPartialBytes = ACount;
    take(FPartial.data(), ACount);
}

// Of a run longer than the ring only its newest Ring frames are copied.
void TCaptureRing::AppendFrames(const unsigned char* AFrames, std::size_t ACount) noexcept
{
    const std::size_t skipped = ACount > Ring ? ACount - Ring : 0;
    auto position = static_cast<std::size_t>((FWritten + static_cast<std::int64_t>(skipped)) % Ring);
    for (std::size_t i = skipped; i < ACount; ++i) {
        float frame[2] = {0.0f, 0.0f};
        if (AFrames)
            std::memcpy(frame, AFrames + i * FrameBytes, FrameBytes);
        FLeft[position] = frame[0];
        FRight[position] = frame[1];
        position = position + 1 == Ring ? 0 : position + 1;
    }
    FWritten += static_cast<std::int64_t>(ACount);
}

std::int64_t TCaptureRing::Latest(float* ALeft, float* ARight) const noexcept
{
    // The oldest of the newest Ring samples is where the next one goes; before the ring is
    // full, the slots from there on have never been written, which puts the zeros first.
    const auto oldest = static_cast<std::ptrdiff_t>(FWritten % static_cast<std::int64_t>(Ring));
    const auto split = static_cast<std::ptrdiff_t>(Ring) - oldest;
    std::copy(FLeft.begin() + oldest, FLeft.end(), ALeft);
    std::copy(FLeft.begin(), FLeft.begin() + oldest, ALeft + split);
    std::copy(FRight.begin() + oldest, FRight.end(), ARight);
    std::copy(FRight.begin(), FRight.begin() + oldest, ARight + split);
    return FWritten;
}

} // namespace sound
