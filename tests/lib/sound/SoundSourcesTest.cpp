// The sound library's sources: frame timing, blocks read from a file, the frame's sound spans
// and the built-in signal.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/Formats.h"
#include "tools/lib/sound/FrameSound.h"
#include "tools/lib/sound/SignalSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

using testing_support::TScratch;

namespace {

TEST(FrameTiming, FrameStartIsTheFlooredSampleOfTheFrame)
{
    struct TCase {
        std::int64_t Frame;
        std::int32_t Rate;
        std::int32_t Fps;
        std::int64_t Start;
    } const cases[] = {
        {0, 44100, 30, 0},
        {1, 44100, 30, 1470},
        {1, 44100, 60, 735},
        {1, 44100, 24, 1837}, // 1837.5 floored
        {7, 48000, 7, 48000},
        {3, 22050, 4, 16537}, // 16537.5 floored
        {9999999, 48000, 1000, 479999952},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(sound::FrameStart(c.Frame, c.Rate, c.Fps), c.Start) << c.Frame << " at " << c.Rate << "/" << c.Fps;
}

TEST(FrameTiming, FramesForLengthCountsEveryFrameThatStartsInside)
{
    struct TCase {
        std::int64_t Length;
        std::int32_t Rate;
        std::int32_t Fps;
        std::int64_t Frames;
    } const cases[] = {
        {352800, 44100, 30, 240}, // 8 s exactly
        {352801, 44100, 30, 241}, // one sample more starts a frame of its own
        {1, 44100, 30, 1},        {1470, 44100, 30, 1}, {1471, 44100, 30, 2}, {0, 44100, 30, 0},
    };
    for (const TCase& c : cases) {
        const std::int64_t frames = sound::FramesForLength(c.Length, c.Rate, c.Fps);
        EXPECT_EQ(frames, c.Frames) << c.Length;
        if (frames > 0) {
            EXPECT_LT(sound::FrameStart(frames - 1, c.Rate, c.Fps), c.Length);
            EXPECT_GE(sound::FrameStart(frames, c.Rate, c.Fps), c.Length);
        }
    }
}

// The value of the ramp test file at sample i: distinct for each sample, and exact in 16 bits.
double Ramp(int AChannel, std::int64_t AIndex)
{
    return static_cast<double>((AIndex * 7 + AChannel * 1000) % 20000 - 10000) / 32768.0;
}

TEST(SoundFile, BlocksFollowTheFileWhateverTheHopBetweenThem)
{
    TScratch scratch;
    const std::string path = scratch / "ramp.wav";
    const std::int64_t length = 5000;
    testing_support::WriteWav(path, 8000, 2, length, Ramp);
    const auto signal = sound::OpenSoundFile(path);
    ASSERT_EQ(signal->Rate(), 8000);
    ASSERT_EQ(signal->Length(), length);

    // Overlapping blocks, the same block again, hops past the window, and blocks running off
    // the end of the file.
    const std::int64_t starts[] = {0, 100, 100, 611, 2000, 2001, 4600, 4999, 5000, 9000};
    float left[sound::BlockSize], right[sound::BlockSize];
    for (const std::int64_t start : starts) {
        signal->ReadBlock(start, left, right);
        for (int i = 0; i < sound::BlockSize; ++i) {
            const std::int64_t at = start + i;
            const float wantLeft = at < length ? static_cast<float>(Ramp(0, at)) : 0.0f;
            const float wantRight = at < length ? static_cast<float>(Ramp(1, at)) : 0.0f;
            ASSERT_EQ(left[i], wantLeft) << "block " << start << " sample " << i;
            ASSERT_EQ(right[i], wantRight) << "block " << start << " sample " << i;
        }
    }
}

// A source whose sample n is n on the left and -n on the right, which records where each read
// starts.
class TCountingSource final : public sound::TSignalSource {
public:
    explicit TCountingSource(std::int32_t ARate) : FRate(ARate) {}
    std::int32_t Rate() const override { return FRate; }
    std::int64_t Length() const override { return std::int64_t{1} << 40; }
    void ReadBlock(std::int64_t AStart, float* ALeft, float* ARight) override
    {
        Starts.push_back(AStart);
        for (int i = 0; i < sound::BlockSize; ++i) {
            ALeft[i] = static_cast<float>(AStart + i);
            ARight[i] = -static_cast<float>(AStart + i);
        }
    }
    std::vector<std::int64_t> Starts;

private:
    std::int32_t FRate;
};

// The frames' blocks are the source's blocks at FrameStart(f), and the spans join up into the
// samples 0 to FrameStart(n), whether the frames overlap (hops below a block) or leave gaps
// (hops of several blocks); the source sees its reads in increasing order, so that a file is
// decoded once, from the start.
TEST(FrameSound, SpansJoinUpIntoTheFramesSpanAndReadsOnlyIncrease)
{
    const struct {
        std::int32_t Rate, Fps;
    } cases[] = {{44100, 30}, {48000, 120}, {8000, 1000}, {384000, 1}, {44100, 7}, {1000, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Rate) + " Hz at " + std::to_string(c.Fps) + " fps");
        TCountingSource source(c.Rate);
        sound::TFrameSound frames(source, c.Fps, sound::TSpans::Kept);
        std::int64_t next = 0; // the sample the next span must start at
        const std::int64_t count = 9;
        for (std::int64_t frame = 0; frame < count; ++frame) {
            frames.Read(frame);
            const std::int64_t start = sound::FrameStart(frame, c.Rate, c.Fps);
            ASSERT_EQ(frames.Left()[0], static_cast<float>(start));
            ASSERT_EQ(frames.Right()[sound::BlockSize - 1], -static_cast<float>(start + sound::BlockSize - 1));
            ASSERT_EQ(frames.SpanStart(), next);
            ASSERT_EQ(frames.SpanCount(), sound::FrameStart(frame + 1, c.Rate, c.Fps) - start);
            ASSERT_LE(frames.SpanCount(), output::LongestSoundSpan(c.Rate, c.Fps));
            for (std::int32_t i = 0; i < frames.SpanCount(); ++i) {
                ASSERT_EQ(frames.SpanLeft()[i], static_cast<float>(next + i)) << "frame " << frame;
                ASSERT_EQ(frames.SpanRight()[i], -static_cast<float>(next + i)) << "frame " << frame;
            }
            next += frames.SpanCount();
        }
        EXPECT_EQ(next, sound::FrameStart(count, c.Rate, c.Fps));
        EXPECT_TRUE(std::is_sorted(source.Starts.begin(), source.Starts.end()));
    }
    // Without spans the reads are exactly the frames' blocks, as before there were spans.
    TCountingSource source(44100);
    sound::TFrameSound frames(source, 30, sound::TSpans::None);
    for (std::int64_t frame = 0; frame < 4; ++frame)
        frames.Read(frame);
    EXPECT_EQ(source.Starts, (std::vector<std::int64_t>{0, 1470, 2940, 4410}));
    EXPECT_EQ(frames.SpanCount(), 0);
}

TEST(SoundFile, MonoGoesToBothChannelsScaledBy32768)
{
    TScratch scratch;
    const std::string path = scratch / "mono.wav";
    testing_support::WriteWav(path, 11025, 1, 600, [](int, std::int64_t AIndex) {
        return AIndex == 0 ? 0.5 : AIndex == 1 ? -1.0 : 1.0 / 32768.0;
    });
    const auto signal = sound::OpenSoundFile(path);
    float left[sound::BlockSize], right[sound::BlockSize];
    signal->ReadBlock(0, left, right);
    EXPECT_EQ(left[0], 0.5f);
    EXPECT_EQ(left[1], -1.0f);
    EXPECT_EQ(left[2], 1.0f / 32768.0f);
    for (int i = 0; i < sound::BlockSize; ++i)
        ASSERT_EQ(left[i], right[i]) << i;
}

TEST(SoundFile, MissingEmptyAndUndecodableInputsAreRefused)
{
    TScratch scratch;
    std::ofstream(scratch / "empty.wav").close();
    std::ofstream(scratch / "text.wav") << "this is not a sound file, not even close to one\n";
    testing_support::WriteWav(scratch / "silent.wav", 8000, 2, 0, Ramp);
    for (const char* name : {"missing.wav", "empty.wav", "text.wav", "silent.wav", "."})
        EXPECT_THROW(sound::OpenSoundFile(scratch / name), common::EToolError) << name;
}

TEST(DefaultSignal, LastsEightSecondsAndIsNotSilent)
{
    const auto signal = sound::MakeDefaultSignal();
    EXPECT_EQ(signal->Length(), 8 * signal->Rate());
    EXPECT_EQ(sound::FramesForLength(signal->Length(), signal->Rate(), 30), 240);
    float left[sound::BlockSize], right[sound::BlockSize];
    // Chord, beats, sweep, silence, and the loud end: only the silence is silent.
    const double seconds[] = {1.0, 2.0, 5.0, 6.5, 7.25};
    for (const double at : seconds) {
        signal->ReadBlock(static_cast<std::int64_t>(at * signal->Rate()), left, right);
        float peak = 0;
        for (int i = 0; i < sound::BlockSize; ++i)
            peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
        if (at == 6.5)
            EXPECT_EQ(peak, 0.0f) << at;
        else
            EXPECT_GT(peak, 0.1f) << at;
        EXPECT_LE(peak, 1.0f) << at;
    }
}

} // namespace
