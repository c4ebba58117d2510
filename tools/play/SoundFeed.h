// Where each frame's samples come from, and the clock that says which samples are heard now:
// a file (or the built-in signal) played through SDL's audio output, or what the desktop plays,
// captured from the sound server.
#pragma once

#include "tools/lib/sound/Capture.h"
#include "tools/play/Sdl.h"
#include "tools/lib/sound/SignalSource.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace play {

class TSoundFeed {
public:
    virtual ~TSoundFeed() = default;

    // Samples per second per channel; always positive.
    virtual std::int32_t Rate() const noexcept = 0;
    // Fills ALeft and ARight with sound::BlockSize samples each, from the position the audio
    // clock gives now, and returns that position (in samples per channel from the start).
    virtual std::int64_t Block(float* ALeft, float* ARight) = 0;
    // The audio clock now, in samples per channel from the start.
    virtual std::int64_t Now() = 0;
    // Whether everything there was to hear has been heard. common::EToolError when the sound turned
    // out damaged on the way, once what came before the damage has been heard.
    virtual bool Ended() = 0;
    // Stops or restarts the sound (and the clock with it).
    virtual void SetPaused(bool APaused) = 0;
    // Samples read for playing that were beyond full scale or not numbers and were cleaned
    // (sound::CleanSample): every one of the input's when the sound has played to its end, a
    // few thousand past what was heard when the run ended early, as the sound is read ahead.
    virtual std::int64_t CleanedSamples() = 0;
};

// A sound source played through SDL's default audio device. The device's callback is the only
// reader of the source once playing has begun; it decodes a little ahead into a ring that holds
// the last few seconds, from which the frames take their blocks. A decoding error in the callback
// cannot be reported from there (no exception may unwind through SDL's C code): it is kept, what
// follows plays as silence, and Ended reports it once the sound before it has been heard.
class TPlayback final : public TSoundFeed {
public:
    // Takes ownership of ASource; plays its first ASeconds (all of it when none), and silence
    // after. common::EToolError "no audio device: ..." when SDL has no output, or when the source
    // cannot be read from the start. Starts paused; SetPaused(false) starts the sound.
    TPlayback(std::unique_ptr<sound::TSignalSource> ASource, std::optional<double> ASeconds);
    ~TPlayback() override;
    TPlayback(const TPlayback&) = delete;
    TPlayback& operator=(const TPlayback&) = delete;

    std::int32_t Rate() const noexcept override { return FRate; }
    std::int64_t Block(float* ALeft, float* ARight) override;
    std::int64_t Now() override;
    bool Ended() override;
    void SetPaused(bool APaused) override;
    std::int64_t CleanedSamples() override;

    // The output latency assumed by the clock, in samples per channel.
    std::int64_t LatencySamples() const noexcept { return FLatency; }

    // The device's buffer that is asked for at ARate, in samples per channel: the largest power
    // of two (as SDL wants) that lasts at most 25 ms. Short enough for the picture to follow
    // closely and for closing the device, which waits for the buffer under way, to be quick at
    // any rate; long enough for a busy machine. 1024 at 44.1 and 48 kHz.
    static std::uint16_t BufferSamplesFor(std::int32_t ARate) noexcept;

private:
    using TClock = std::chrono::steady_clock;

    static void Callback(void* AUser, Uint8* AStream, int ALength) noexcept;
    void Fill(float* AInterleaved, std::int64_t ACount) noexcept;
    // Decodes until the ring holds the samples before AEnd. Caller holds FLock.
    void DecodeTo(std::int64_t AEnd) noexcept;
    std::int64_t NowLocked(TClock::time_point ANow) noexcept;

    // Samples per channel the ring holds: a power of two, several seconds at usual rates, and
    // far more than the output latency, a callback's request and a block together.
    static constexpr std::int64_t RingSize = std::int64_t{1} << 17;

    std::unique_ptr<sound::TSignalSource> FSource;
    std::int32_t FRate;
    std::int64_t FLength;     // samples per channel to be heard: the source's, or fewer with ASeconds
    std::vector<float> FRing; // left and right interleaved, sample i at (i % RingSize) * 2

    std::mutex FLock;           // guards what follows, shared by the callback's thread and the frames'
    std::int64_t FDecoded = 0;  // samples per channel decoded into the ring
    std::int64_t FConsumed = 0; // samples per channel handed to the device
    std::int64_t FAnchor = 0;   // the position heard at FAnchorTime
    TClock::time_point FAnchorTime{};
    std::int64_t FLastNow = 0; // the clock never goes back
    bool FPaused = true;
    std::exception_ptr FFailure; // the source's error; from FFailedAt on the ring holds silence
    std::int64_t FFailedAt = 0;

    std::int64_t FLatency = 0;
    TSdlSubsystems FAudio;
    std::optional<TSdlAudioDevice> FDevice; // last: closed (its callback stopped) before the rest goes
};

// What the desktop plays, through a capture from the sound server.
class TCaptureFeed final : public TSoundFeed {
public:
    explicit TCaptureFeed(std::unique_ptr<sound::TCapture> ACapture);

    std::int32_t Rate() const noexcept override { return FCapture->Rate(); }
    std::int64_t Block(float* ALeft, float* ARight) override;
    std::int64_t Now() override;
    bool Ended() override { return false; }
    void SetPaused(bool) override {}
    // The capture only feeds the frames; it is not played.
    std::int64_t CleanedSamples() override { return 0; }

private:
    std::unique_ptr<sound::TCapture> FCapture;
    std::array<float, sound::BlockSize> FLeft{}, FRight{}; // Now's scratch
};

} // namespace play
