// Where the sound comes from: an audio file decoded by libsndfile, or the built-in signal.
// Both give two channels of floats at the source's own rate, read block by block.
#pragma once

#include "host/apiVisuals.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sound {

// Samples per channel in one frame's block: the length of the record's waveform rows.
inline constexpr int BlockSize = AIMP_VISUAL_WAVEFORM_SIZE;

class TSignalSource {
public:
    virtual ~TSignalSource() = default;

    // Samples per second per channel; always positive.
    virtual std::int32_t Rate() const = 0;
    // Samples per channel; always positive.
    virtual std::int64_t Length() const = 0;
    // Fills ALeft and ARight, BlockSize samples each, with the samples from AStart on; those
    // past the end are 0. A mono source gives its one channel to both. AStart never decreases
    // from one call to the next, so a source may read sequentially.
    // Every sample is within full scale (see CleanSample).
    virtual void ReadBlock(std::int64_t AStart, float* ALeft, float* ARight) = 0;

    // How many of the samples decoded so far CleanSample had to change, among the positions
    // before the end that CountCleanedBefore set (every position until it is called). A sample
    // is one channel's value at one position, of the channels that are read: the one of a mono
    // source, the first two of more. Each position counts once however often blocks overlap it.
    std::int64_t CleanedSamples() const noexcept { return FCleaned; }
    void CountCleanedBefore(std::int64_t AEnd) noexcept { FCountedEnd = AEnd; }

protected:
    // Cleans the sample decoded at APosition, and counts it when it changed.
    void Clean(float& ASample, std::int64_t APosition) noexcept;

private:
    std::int64_t FCountedEnd = INT64_MAX;
    std::int64_t FCleaned = 0;
};

// The sample rates a sound file may have, in samples per second per channel. The highest is the
// most the sound server takes (PulseAudio's limit) and what the fastest sound cards play; the
// lowest leaves a few samples to the live player's shortest device buffer. FFmpeg's encoders
// take every rate between, resampled where they must be (AAC to 7350 .. 96000 Hz, Opus to 48 kHz).
inline constexpr std::int32_t MinRate = 1000;
inline constexpr std::int32_t MaxRate = 384000;

// Brings ASample within full scale: NaN becomes 0, and a value beyond -1..1 (an infinity
// included) the nearer end. Returns whether ASample changed. A float or double file may hold
// such samples, which no player's decoder passes on; the sources clean every sample as it is
// decoded, so that the frames, the video's encoders and the sound card all get the same ones.
bool CleanSample(float& ASample) noexcept;

// The warning of a run whose input ANamed (a file name; empty for the built-in signal) had
// ACount samples cleaned, without the program's name: "warning: N samples of 'x.wav' were
// beyond full scale or not numbers: clipped to full scale, NaN to 0".
std::string CleanedSamplesWarning(std::int64_t ACount, const std::string& ANamed);

// The file an input's path names: standard input ("/dev/stdin") for "-", as for every program
// that reads a file or a pipe; APath itself otherwise.
std::string InputFileOf(const std::string& APath);

// Opens APath (InputFileOf) for decoding; common::EToolError when it is missing, empty, not decodable or at a rate
// outside MinRate .. MaxRate. ReadBlock throws common::EToolError when the file turns out damaged or
// cut short on the way, saying after how many samples.
std::unique_ptr<TSignalSource> OpenSoundFile(const std::string& APath);

// The limits of the rates as one sentence, for --help.
std::string RateLimitsHelp();

// The built-in 8-second signal at 44100 Hz: a chord, beats, a sweep, silence, then chord and
// beats together, loud enough that the rings' normalisation comes into play.
std::unique_ptr<TSignalSource> MakeDefaultSignal();

// The first sample of frame AFrame: floor(AFrame x ARate / AFps), exact in integers.
constexpr std::int64_t FrameStart(std::int64_t AFrame, std::int32_t ARate, std::int32_t AFps) noexcept
{
    return AFrame * ARate / AFps;
}

// How many frames start within ALength samples: the least n with FrameStart(n) >= ALength.
std::int64_t FramesForLength(std::int64_t ALength, std::int32_t ARate, std::int32_t AFps);

} // namespace sound
