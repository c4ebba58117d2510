#include "tools/lib/output/video/Containers.h"

#include <array>

namespace output::video {

namespace {

// Fast enough for real time at 1920x1080; the rings' sharp edges on black keep well at this
// quality. x264 keeps its output repeatable across frame threads (unless told otherwise), so a
// fixed count of two, whatever the machine has, gives the same bytes everywhere.
void TuneX264(AVCodecContext& AEncoder, TDictionary& AOptions)
{
    AOptions.Set("preset", "veryfast");
    AOptions.Set("crf", "20");
    AEncoder.thread_count = 2;
}

// The lossless video quantizes nothing (QP 0); otherwise as TuneX264.
void TuneX264Rgb(AVCodecContext& AEncoder, TDictionary& AOptions)
{
    AOptions.Set("preset", "veryfast");
    AOptions.Set("qp", "0");
    AEncoder.thread_count = 2;
}

// Constant quality at the real-time speed; row threads would tie the bytes to the thread count.
void TuneVp9(AVCodecContext& AEncoder, TDictionary& AOptions)
{
    AEncoder.bit_rate = 0;
    AOptions.Set("deadline", "realtime");
    AOptions.Set("cpu-used", "8");
    AOptions.Set("crf", "32");
    AOptions.Set("row-mt", "0");
}

// Matroska's lossless H.264 of the frames' own RGB pixels decodes exactly: at 1920x1080 it is
// several times as fast as FFV1 and its files are smaller. FLAC keeps 24 bits of each sample,
// all of a 16- or 24-bit input's.
constexpr std::array Containers = {
    // clang-format off
    TContainer{SelvanoreVideoMp4,  "mp4",      "libx264",    "aac",     AV_PIX_FMT_YUV420P, AV_SAMPLE_FMT_FLTP, 192000, &TuneX264,    false},
    TContainer{SelvanoreVideoWebM, "webm",     "libvpx-vp9", "libopus", AV_PIX_FMT_YUV420P, AV_SAMPLE_FMT_FLT,  160000, &TuneVp9,     true},
    TContainer{SelvanoreVideoMkv,  "matroska", "libx264rgb", "flac",    SourcePixels,       AV_SAMPLE_FMT_S32,  0,      &TuneX264Rgb, true},
    // clang-format on
};

} // namespace

const TContainer* ContainerOf(std::int32_t AId) noexcept
{
    for (const TContainer& container : Containers)
        if (container.Id == AId)
            return &container;
    return nullptr;
}

} // namespace output::video
