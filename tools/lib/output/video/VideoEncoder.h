// A video with its sound, through FFmpeg's libraries: the frames converted and encoded, the
// sound converted (resampled where the encoder must have another rate) and encoded, both
// interleaved into the container.
#pragma once

#include "tools/lib/output/video/Containers.h"
#include "tools/lib/output/video/Muxer.h"

#include <array>
#include <cstdint>
#include <vector>

namespace output::video {

class TVideoEncoder {
public:
    // Writes ASetup's header; EVideoFailure or EWriteFailure when it cannot.
    TVideoEncoder(const SelvanoreVideoSetup& ASetup, const TContainer& AContainer);
    TVideoEncoder(const TVideoEncoder&) = delete;
    TVideoEncoder& operator=(const TVideoEncoder&) = delete;

    // Frame AFrame, then the ACount samples of each channel from ASoundStart that it adds.
    void Write(std::int64_t AFrame, const std::uint32_t* APixels, std::int64_t ASoundStart, std::int32_t ACount,
               const float* ALeft, const float* ARight);
    // Flushes the resampler and the encoders and writes the trailer.
    void Finish();

private:
    void OpenVideo(const AVCodec* ACodec, const TContainer& AContainer, std::int32_t AWidth, std::int32_t AHeight);
    void OpenAudio(const AVCodec* ACodec, const TContainer& AContainer, std::int32_t ASoundRate);
    void FeedSound(std::int64_t AStart, std::int32_t ACount, const float* ALeft, const float* ARight);
    void StoreResampled(int ACount);
    void EncodeSound(bool ALast);
    void Encode(AVCodecContext* AEncoder, const AVFrame* AFrame, const AVStream* AStream);
    void Check(int AResult, const char* AWhat) const { FMuxer.Check(AResult, AWhat); }

    std::int32_t FFps;
    TMuxer FMuxer; // first: destroyed after the encoders
    TCodecContext FVideo;
    TCodecContext FAudio;
    AVStream* FVideoStream = nullptr; // owned by FMuxer
    AVStream* FAudioStream = nullptr;
    TFrame FPicture;
    std::unique_ptr<SwsContext, TScaleFree> FScale; // null when the encoder takes the frames' pixels
    TFrame FSoundFrame;
    TPacket FPacket;
    std::unique_ptr<SwrContext, TResampleFree> FResample;
    std::unique_ptr<AVAudioFifo, TFifoFree> FFifo;
    std::array<std::vector<std::uint8_t>, 2> FResampledPlanes;
    std::array<std::uint8_t*, 2> FResampled{};
    int FResampledCapacity = 0; // samples per channel
    int FAudioFrameSize = 0;
    bool FWholeSamples = false;        // the encoder takes integers (FLAC), made by ToFlacSample
    std::int64_t FSoundTimeOffset = 0; // added to the sound's timestamps, at the encoder's rate
    bool FSmallLastFrame = true;

    std::vector<std::int32_t> FLeftWhole, FRightWhole; // a piece of the sound, for FLAC
    std::int64_t FFed = 0;                             // samples fed to the resampler
    std::int64_t FSoundSamples = 0;                    // samples sent to the encoder, at its rate
};

} // namespace output::video
