// The newest samples of a capture: the sound server's fragments of interleaved stereo floats go
// in as bytes, whole blocks of the newest sound::BlockSize samples per channel come out.
// Not synchronised: its owner holds a lock around both sides.
#pragma once

#include "tools/lib/sound/SignalSource.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace sound {

class TCaptureRing {
public:
    // Bytes of one frame: a float for the left channel, then one for the right.
    static constexpr std::size_t FrameBytes = 2 * sizeof(float);

    // Takes ACount bytes of interleaved frames, or ACount bytes of silence when ABytes is null
    // (a hole in what the server captured). A fragment may end inside a frame; the frame is
    // completed by the next one.
    void Feed(const unsigned char* ABytes, std::size_t ACount) noexcept;

    // Copies the newest BlockSize samples per channel, oldest first, zeros before the first
    // captured one; the count of whole frames fed so far.
    std::int64_t Latest(float* ALeft, float* ARight) const noexcept;

private:
    static constexpr std::size_t Ring = sound::BlockSize;

    void AppendFrames(const unsigned char* AFrames, std::size_t ACount) noexcept;

    // Sample k of the capture is at k mod Ring; FWritten is the count of frames fed.
    std::array<float, Ring> FLeft{};
    std::array<float, Ring> FRight{};
    std::int64_t FWritten = 0;
    // The bytes of a frame that a fragment ended in the middle of.
    std::array<unsigned char, FrameBytes> FPartial{};
    std::size_t FPartialBytes = 0;
};

} // namespace sound
