// Whole runs of selvanore-play as a user starts it, headless: SDL's dummy video driver and
// its disk audio driver, which writes what the sound card would play to a file.
#include "PlayTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <cstdlib>
#include <sstream>

namespace {

using namespace testing_support;

// A sample of the test song: distinct values on each channel, so that a sample lost, repeated
// or swapped between the channels shows.
double SongSample(int AChannel, std::int64_t AIndex)
{
    const double phase = static_cast<double>(AIndex) * (AChannel == 0 ? 0.0571 : 0.0137);
    return 0.6 * std::sin(phase) + 0.2 * std::sin(phase * 7.3 + AChannel);
}

// A report's number for AKey; NaN when it is not there.
double ReportNumber(const std::string& AJson, const std::string& AKey)
{
    const std::string label = "\"" + AKey + "\": ";
    const std::size_t at = AJson.find(label);
    if (at == std::string::npos)
        return std::nan("");
    const char* first = AJson.c_str() + at + label.size();
    char* end = nullptr;
    const double value = std::strtod(first, &end);
    return end == first ? std::nan("") : value;
}

std::vector<std::string> HeadlessEnvironment(const TScratch& AScratch)
{
    return {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + AScratch / "played.raw"};
}

TEST(PlayRun, PlaysEverySampleInOrderAndDrawsAtTheFrameRate)
{
    TScratch scratch;
    constexpr int Rate = 8000;
    constexpr std::int64_t Length = 3 * Rate;
    WriteWav(scratch / "song.wav", Rate, 2, Length, SongSample);

    const TEnded ended = RunToEnd(ChildSetup({"song.wav", "--fps", "25", "--size", "160x120", "--report", "run.json"},
                                             scratch.Path(), HeadlessEnvironment(scratch)));
    ASSERT_EQ(ended.Status, 0) << ended.Err;

    // The sound card got silence while the device was opened but not yet started, then the
    // whole song, in order, both channels, then silence. (The song's right channel starts
    // away from zero, so its start shows.)
    const std::vector<float> played = ReadFloats(scratch / "played.raw");
    std::size_t start = 0;
    while (start + 1 < played.size() && played[start] == 0.0f && played[start + 1] == 0.0f)
        start += 2;
    ASSERT_GE(played.size(), start + static_cast<std::size_t>(2 * Length));
    std::int64_t wrong = 0, firstWrong = -1;
    for (std::int64_t i = 0; i < Length; ++i)
        for (int channel = 0; channel < 2; ++channel) {
            // The WAV holds 16-bit samples, which decode exactly to these floats.
            const float expected = static_cast<float>(std::lround(SongSample(channel, i) * 32768.0) / 32768.0);
            if (played[start + static_cast<std::size_t>(2 * i + channel)] != expected) {
                ++wrong;
                firstWrong = firstWrong < 0 ? i : firstWrong;
            }
        }
    EXPECT_EQ(wrong, 0) << "first wrong sample " << firstWrong;
    for (std::size_t i = start + static_cast<std::size_t>(2 * Length); i < played.size(); ++i)
        ASSERT_EQ(played[i], 0.0f) << "after the end, at " << i;

    // About seconds x fps frames: the song lasts 3 seconds at 25 frames per second.
    const std::string report = ReadBytes(scratch / "run.json");
    const double drawn = ReportNumber(report, "frames_drawn");
    EXPECT_GE(drawn, 0.8 * 75) << report;
    EXPECT_LE(drawn, 1.1 * 75) << report;
    for (const char* key : {"frames_dropped", "seconds", "max_av_offset_ms", "mean_av_offset_ms", "cpu_seconds"})
        EXPECT_FALSE(std::isnan(ReportNumber(report, key))) << key << " missing from " << report;
    EXPECT_GE(ReportNumber(report, "seconds"), 2.9) << report;
    EXPECT_LE(ReportNumber(report, "frames_dropped") + drawn, 1.2 * ReportNumber(report, "seconds") * 25) << report;
}

TEST(PlayRun, StopsAfterTheSecondsAsked)
{
    TScratch scratch;
    constexpr int Rate = 8000;
    WriteWav(scratch / "song.wav", Rate, 2, 6 * Rate, SongSample);
    const TEnded ended = RunToEnd(ChildSetup({"song.wav", "--fps", "20", "--seconds", "1.5", "--report", "run.json"},
                                             scratch.Path(), HeadlessEnvironment(scratch)));
    ASSERT_EQ(ended.Status, 0) << ended.Err;
    const std::string report = ReadBytes(scratch / "run.json");
    EXPECT_GE(ReportNumber(report, "frames_drawn"), 0.8 * 30) << report;
    EXPECT_LE(ReportNumber(report, "frames_drawn"), 1.2 * 30) << report;
    // What was played reaches 1.5 seconds, plus what the device held, and no further.
    const std::size_t played = ReadFloats(scratch / "played.raw").size() / 2;
    EXPECT_GE(played, static_cast<std::size_t>(1.5 * Rate));
    EXPECT_LT(played, static_cast<std::size_t>(3 * Rate));
}

// The dummy driver has no accelerated renderer, so the player's own choice is the window's
// surface; --present wins over SELVANORE_PRESENT, which wins over the player's choice.
TEST(PlayRun, ThePresentationIsTheOneAskedForOrTheLightestAndTheReportSaysWhich)
{
    TScratch scratch;
    WriteSong(scratch / "song.wav", 1);
    struct TCase {
        std::vector<std::string> Args;
        const char* Variable; // SELVANORE_PRESENT; null: unset
        std::string Reported;
    } const cases[] = {
        {{}, nullptr, "window surface"},
        {{}, "texture", "texture (software)"},
        {{"--present", "surface"}, "texture", "window surface"},
        {{"--present", "texture"}, nullptr, "texture (software)"},
        {{"--present", "auto"}, "", "window surface"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args{"song.wav", "--fps", "20", "--size", "64x48", "--report", "run.json"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        std::vector<std::string> environment = HeadlessEnvironment(scratch);
        if (c.Variable)
            environment.push_back(std::string("SELVANORE_PRESENT=") + c.Variable);
        const TEnded ended = RunToEnd(ChildSetup(args, scratch.Path(), environment));
        ASSERT_EQ(ended.Status, 0) << c.Reported << ": " << ended.Err;
        const std::string report = ReadBytes(scratch / "run.json");
        EXPECT_NE(report.find("\"presentation\": \"" + c.Reported + "\""), std::string::npos) << report;
        EXPECT_GT(ReportNumber(report, "frames_drawn"), 0) << report;
    }
}

TEST(PlayRun, BadInputEndsWithOneLineAndStatusTwo)
{
    TScratch scratch;
    WriteSong(scratch / "song.wav", 1);
    {
        std::ofstream(scratch / "notes.txt") << "not a sound\n";
    }
    struct TCase {
        std::vector<std::string> Args;
        std::vector<std::string> Environment;
        std::string Message; // a part of the one line
    };
    const std::vector<std::string> headless{"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
    const std::vector<TCase> cases{
        {{"missing.wav"}, headless, "missing.wav"},
        {{"notes.txt"}, headless, "notes.txt"},
        {{"song.wav"}, {"SDL_VIDEODRIVER=no-such-driver", "SDL_AUDIODRIVER=dummy"}, "no display"},
        {{"song.wav"}, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=no-such-driver"}, "no audio device"},
        // No sound server: the server's address leads nowhere.
        {{"--capture"}, {"SDL_VIDEODRIVER=dummy", "PULSE_SERVER=unix:/nonexistent/socket", "PULSE_AUTOSPAWN=0"}, ""},
        {{"--capture", "no.such.source"},
         {"SDL_VIDEODRIVER=dummy", "PULSE_SERVER=unix:/nonexistent/socket", "PULSE_AUTOSPAWN=0"},
         ""},
        {{"--capture", "--", "song.wav"}, headless, "leave out FILE"},
        {{"song.wav", "--size", "0x10"}, headless, "--size"},
        {{"song.wav", "--fps", "0"}, headless, "--fps"},
        {{"song.wav", "--seconds", "-1"}, headless, "--seconds"},
        {{"song.wav", "--report", ""}, headless, "--report"},
        {{"song.wav", "--report", "song.wav"}, headless, "song.wav"},
        {{"song.wav", "--module", "missing.so"}, headless, "missing.so"},
        {{"song.wav", "--no-such-option"}, headless, "no-such-option"},
        {{"song.wav", "--present", "gpu"}, headless, "--present"},
        {{"song.wav"},
         {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "SELVANORE_PRESENT=gpu"},
         "SELVANORE_PRESENT"},
    };
    for (const TCase& each : cases) {
        std::string shown;
        for (const std::string& arg : each.Args)
            shown += arg + " ";
        const TEnded ended = RunToEnd(ChildSetup(each.Args, scratch.Path(), each.Environment));
        EXPECT_EQ(ended.Status, 2) << shown << ended.Err;
        EXPECT_TRUE(IsPlayOneLineError(ended.Err)) << shown << ended.Err;
        EXPECT_NE(ended.Err.find(each.Message), std::string::npos) << shown << ended.Err;
        // A refused run leaves nothing behind: no report, no temporary.
        EXPECT_FALSE(HoldsTemporaries(scratch.Path())) << shown;
    }
    EXPECT_EQ(ReadBytes(scratch / "song.wav").substr(0, 4), "RIFF");
}

} // namespace
