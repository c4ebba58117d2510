// What each container holds: its muxer, its two encoders, their formats and their tuning.
#pragma once

#include "tools/lib/output/video/Ffmpeg.h"
#include "tools/lib/output/video/VideoLibrary.h"

#include <cstdint>

namespace output::video {

// The frames' own pixels, 0x00RRGGBB in memory order B, G, R, 0 on a little-endian machine.
inline constexpr AVPixelFormat SourcePixels = AV_PIX_FMT_0RGB32;

struct TContainer {
    SelvanoreVideoContainer Id;
    const char* Muxer;
    const char* VideoEncoder;
    const char* AudioEncoder;
    AVPixelFormat PixelFormat;
    AVSampleFormat SampleFormat;
    std::int64_t AudioBitRate; // bits per second; 0 for the lossless FLAC
    // The video encoder's settings beyond the common ones, before it opens.
    void (*TuneVideo)(AVCodecContext& AEncoder, TDictionary& AOptions);
    // The container states the sound encoder's priming as the track's codec delay, so the
    // sound's timestamps start at 0 and are offset by the priming (see TVideoEncoder).
    bool DelayInTrack;
};

// The row of AId, or null when there is none.
const TContainer* ContainerOf(std::int32_t AId) noexcept;

} // namespace output::video
