#include "tools/play/SoundFeed.h"

#include "tools/lib/common/ToolError.h"

#include <algorithm>
#include <cmath>

namespace play {

using sound::BlockSize;

namespace {

// Samples per channel in the first ASeconds at ARate, never more than ALength.
std::int64_t HeardLength(std::int64_t ALength, std::int32_t ARate, std::optional<double> ASeconds)
{
    if (!ASeconds)
        return ALength;
    return std::min(ALength, static_cast<std::int64_t>(std::ceil(*ASeconds * static_cast<double>(ARate))));
}

} // namespace

std::uint16_t TPlayback::BufferSamplesFor(std::int32_t ARate) noexcept
{
    std::uint32_t samples = 1;
    while (samples < 32768 && std::int64_t{samples} * 2 * 40 <= ARate)
        samples *= 2;
    return static_cast<std::uint16_t>(samples);
}

TPlayback::TPlayback(std::unique_ptr<sound::TSignalSource> ASource, std::optional<double> ASeconds)
    : FSource(std::move(ASource)), FRate(FSource->Rate()), FLength(HeardLength(FSource->Length(), FRate, ASeconds)),
      FRing(static_cast<std::size_t>(RingSize) * 2), FAudio(SDL_INIT_AUDIO, "no audio device")
{
    // The first frames come before the device's first request; a file that fails at once is
    // refused before anything plays.
    DecodeTo(sound::BlockSize);
    if (FFailure)
        std::rethrow_exception(FFailure);

    SDL_AudioSpec wanted{};
    wanted.freq = FRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    // SDL converts to whatever the device takes.
    wanted.samples = BufferSamplesFor(FRate);
    wanted.callback = &TPlayback::Callback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (device == 0)
        throw common::EToolError("no audio device: " + SdlError());
    FDevice.emplace(device);
    // The buffer being played and the one just handed over stand between the callback and the
    // speaker.
    FLatency = 2 * static_cast<std::int64_t>(obtained.samples);
}

TPlayback::~TPlayback() = default;

void TPlayback::Callback(void* AUser, Uint8* AStream, int ALength) noexcept
{
    auto* self = static_cast<TPlayback*>(AUser);
    self->Fill(reinterpret_cast<float*>(AStream), ALength / static_cast<int>(2 * sizeof(float)));
}

void TPlayback::Fill(float* AInterleaved, std::int64_t ACount) noexcept
{
    const std::lock_guard lock(FLock);
    // A block past the end of what was handed over must be there for the frames as well.
    DecodeTo(FConsumed + ACount + sound::BlockSize);
    for (std::int64_t i = 0; i < ACount; ++i) {
        const std::int64_t sample = FConsumed + i;
        const std::size_t at = static_cast<std::size_t>(sample % RingSize) * 2;
        const bool heard = sample < FLength;
        AInterleaved[2 * i] = heard ? FRing[at] : 0.0f;
        AInterleaved[2 * i + 1] = heard ? FRing[at + 1] : 0.0f;
    }
    const auto now = TClock::now();
    // Continuity: the clock goes on from where it stood, and takes the device's word from here.
    const std::int64_t before = NowLocked(now);
    FConsumed += ACount;
    FAnchor = std::max(before, FConsumed - FLatency);
    FAnchorTime = now;
}

void TPlayback::DecodeTo(std::int64_t AEnd) noexcept
{
    // Nothing past what is to be heard is decoded: damage there is never met.
    AEnd = std::min(AEnd, FLength + sound::BlockSize);
    std::array<float, sound::BlockSize> left{}, right{};
    while (FDecoded < AEnd) {
        if (!FFailure) {
            try {
                FSource->ReadBlock(FDecoded, left.data(), right.data());
            } catch (...) {
                // Kept for the frames' thread, which ends the run with it (Ended).
                FFailure = std::current_exception();
                FFailedAt = FDecoded;
            }
        }
        if (FFailure) {
            left.fill(0.0f);
            right.fill(0.0f);
        }
        for (int i = 0; i < sound::BlockSize; ++i) {
            const std::size_t at = static_cast<std::size_t>((FDecoded + i) % RingSize) * 2;
            FRing[at] = left[static_cast<std::size_t>(i)];
            FRing[at + 1] = right[static_cast<std::size_t>(i)];
        }
        FDecoded += sound::BlockSize;
    }
}

std::int64_t TPlayback::NowLocked(TClock::time_point ANow) noexcept
{
    if (FPaused)
        return FLastNow;
    const double elapsed = std::chrono::duration<double>(ANow - FAnchorTime).count();
    std::int64_t now = FAnchor + static_cast<std::int64_t>(std::floor(std::max(0.0, elapsed) * FRate));
    // Never into the buffer just handed over, nor back from what was reported.
    now = std::min(now, FConsumed - FLatency / 2);
    now = std::max(now, FLastNow);
    FLastNow = now;
    return now;
}

std::int64_t TPlayback::Now()
{
    const std::lock_guard lock(FLock);
    return NowLocked(TClock::now());
}

std::int64_t TPlayback::Block(float* ALeft, float* ARight)
{
    const std::lock_guard lock(FLock);
    std::int64_t position = NowLocked(TClock::now());
    // The ring's oldest block; the clock never lags that far behind with a sane device.
    position = std::max(position, FDecoded - RingSize + sound::BlockSize);
    DecodeTo(position + sound::BlockSize);
    for (int i = 0; i < sound::BlockSize; ++i) {
        const std::int64_t sample = position + i;
        const std::size_t at = static_cast<std::size_t>(sample % RingSize) * 2;
        const bool heard = sample < FLength;
        ALeft[i] = heard ? FRing[at] : 0.0f;
        ARight[i] = heard ? FRing[at + 1] : 0.0f;
    }
    return position;
}

bool TPlayback::Ended()
{
    const std::lock_guard lock(FLock);
    const std::int64_t now = NowLocked(TClock::now());
    if (now >= FLength)
        return true;
    if (FFailure && now >= FFailedAt)
        std::rethrow_exception(FFailure);
    return false;
}

void TPlayback::SetPaused(bool APaused)
{
    {
        const std::lock_guard lock(FLock);
        if (APaused == FPaused)
            return;
        const auto now = TClock::now();
        if (APaused) {
            FLastNow = NowLocked(now);
        } else {
            // The clock resumes from where it stopped.
            FAnchor = FLastNow;
            FAnchorTime = now;
        }
        FPaused = APaused;
    }
    SDL_PauseAudioDevice(FDevice->Get(), APaused ? 1 : 0);
}

std::int64_t TPlayback::CleanedSamples()
{
    const std::lock_guard lock(FLock);
    return FSource->CleanedSamples();
}

TCaptureFeed::TCaptureFeed(std::unique_ptr<sound::TCapture> ACapture) : FCapture(std::move(ACapture)) {}

std::int64_t TCaptureFeed::Block(float* ALeft, float* ARight)
{
    return std::max<std::int64_t>(0, FCapture->Latest(ALeft, ARight) - sound::BlockSize);
}

std::int64_t TCaptureFeed::Now()
{
    return std::max<std::int64_t>(0, FCapture->Latest(FLeft.data(), FRight.data()) - sound::BlockSize);
}

} // namespace play
