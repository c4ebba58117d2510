// How a run of selvanore-play ends when it does not end at its sound's end: a file found damaged
// while it plays, a rate no sound card takes, --seconds at any frame rate, an ending signal, an
// X server that goes away. Each run is a child as a user starts it, headless (SDL's disk audio
// driver writes what the sound card would play to a file); each case checks the status, the one
// line, and what is left on disk: the report or its absence, no temporary, the sound played.
#include "PlayTestSupport.h"

#include "tools/play/SoundFeed.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// The longest an ending may take: the run is asked to end within a second of its cause.
constexpr double EndWithin = 1.0;

// A sample of the test song: never silent on both channels at once (the left one stays above
// 0.1), so that where the played sound stops shows, and distinct on each channel.
double SongSample(int AChannel, std::int64_t AIndex)
{
    const double phase = static_cast<double>(AIndex) * (AChannel == 0 ? 0.0571 : 0.0137);
    return AChannel == 0 ? 0.35 + 0.25 * std::sin(phase) : 0.6 * std::sin(phase + 0.5);
}

// What libsndfile decodes from APath: floats, interleaved by two channels, up to the end or the
// first error.
std::vector<float> DecodeAll(const std::string& APath)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(APath.c_str(), SFM_READ, &info);
    std::vector<float> values;
    if (!file)
        return values;
    std::vector<float> chunk(1024);
    for (sf_count_t got; (got = sf_readf_float(file, chunk.data(), 512)) > 0 && sf_error(file) == SF_ERR_NO_ERROR;)
        values.insert(values.end(), chunk.begin(), chunk.begin() + 2 * got);
    sf_close(file);
    return values;
}

std::vector<std::string> DiskAudio(const TScratch& AScratch)
{
    return {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + AScratch / "played.raw"};
}

// What the sound card got: the silence before the sound started, the sound, and the silence
// after it, in samples per channel.
struct TPlayed {
    std::int64_t Before = 0;
    std::int64_t Sound = 0; // from the first sample that is not silent to the last one
    std::int64_t After = 0;
    std::int64_t Wrong = 0;   // samples of the sound that differ from the song's
    bool ExistsAtAll = false; // whether the device was ever opened
};

// AExpected: the song as it decodes, interleaved; empty: the 16-bit values of SongSample.
TPlayed ReadPlayed(const std::string& APath, const std::vector<float>& AExpected = {})
{
    TPlayed played;
    std::error_code error;
    played.ExistsAtAll = fs::exists(APath, error);
    const std::vector<float> values = ReadFloats(APath);
    const auto frames = static_cast<std::int64_t>(values.size() / 2);
    const auto silent = [&](std::int64_t AFrame) {
        return values[static_cast<std::size_t>(2 * AFrame)] == 0.0f &&
               values[static_cast<std::size_t>(2 * AFrame + 1)] == 0.0f;
    };
    std::int64_t first = 0, last = frames - 1;
    while (first < frames && silent(first))
        ++first;
    while (last >= first && silent(last))
        --last;
    played.Before = first;
    played.Sound = last - first + 1;
    played.After = frames - 1 - last;
    for (std::int64_t i = 0; i < played.Sound; ++i)
        for (int channel = 0; channel < 2; ++channel) {
            const auto at = static_cast<std::size_t>(2 * i + channel);
            const float expected = AExpected.empty()
                                       ? static_cast<float>(std::lround(SongSample(channel, i) * 32768.0) / 32768.0)
                                       : (at < AExpected.size() ? AExpected[at] : std::nanf(""));
            if (values[static_cast<std::size_t>(2 * first) + at] != expected)
                ++played.Wrong;
        }
    return played;
}

// Whether the sound has begun to play: the frames' loop is running.
bool SoundStarted(const std::string& APath)
{
    const std::vector<float> values = ReadFloats(APath);
    for (const float value : values)
        if (value != 0.0f)
            return true;
    return false;
}

// A report's number for AKey; NaN when it is not there.
double ReportNumber(const std::string& AJson, const std::string& AKey)
{
    const std::string label = "\"" + AKey + "\": ";
    const std::size_t at = AJson.find(label);
    if (at == std::string::npos)
        return std::nan("");
    return std::strtod(AJson.c_str() + at + label.size(), nullptr);
}

// Keeps the first AFraction of APath's bytes, as a copy cut short would.
void CutShort(const std::string& APath, double AFraction)
{
    fs::resize_file(APath, static_cast<std::uintmax_t>(static_cast<double>(fs::file_size(APath)) * AFraction));
}

// Overwrites ACount bytes from the middle with zeros: a stretch of the file lost.
void BlankMiddle(const std::string& APath, std::size_t ACount)
{
    std::string bytes = ReadBytes(APath);
    bytes.replace(bytes.size() / 2, ACount, ACount, '\0');
    std::ofstream(APath, std::ios::binary | std::ios::trunc) << bytes;
}

// Failures name a table's case.
template <typename TCase>
requires requires(const TCase& ACase)
{
    std::string(ACase.Name);
}
void PrintTo(const TCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

// ---- Damaged files: the sound up to the damage, then one line and status 2 ----

enum class TFeed { File, Fifo }; // a FIFO cannot be read twice, so its length is not counted first

// What becomes of the damage.
enum class TOutcome {
    FailsUpFront,  // met while the length is counted, before anything plays
    FailsOnTheWay, // met while playing
    EndsShort,     // libsndfile takes the file for a shorter one: it plays whole, and ends
};

struct TDamageCase {
    const char* Name; // the file's name, whose ending chooses the format
    int Format;
    int Rate;
    double Kept;  // the share of the bytes kept; 1: all of them
    bool Blanked; // a stretch in the middle overwritten with zeros
    TFeed Feed;
    TOutcome Outcome;
};

class PlayDamaged : public ::testing::TestWithParam<TDamageCase> {};

TEST_P(PlayDamaged, PlaysWhatDecodesThenSaysWhereTheFileBroke)
{
    const TDamageCase& c = GetParam();
#if defined(__SANITIZE_ADDRESS__)
    // libsndfile 1.2's MPEG reader reads 4 bytes past a buffer of its own while it opens a
    // stream it cannot seek; AddressSanitizer ends the run there, inside the library, before
    // anything of ours is reached. The build without it runs the case.
    if (c.Feed == TFeed::Fifo && (c.Format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG)
        GTEST_SKIP() << "libsndfile's MPEG reader over-reads on a FIFO under AddressSanitizer";
#endif
    TScratch scratch;
    const std::string song = scratch / (std::string("whole-") + c.Name);
    WriteSound(song, c.Format, c.Rate, 2, 3 * static_cast<std::int64_t>(c.Rate), SongSample);
    const std::vector<float> whole = DecodeAll(song);
    if (c.Kept < 1)
        CutShort(song, c.Kept);
    if (c.Blanked)
        BlankMiddle(song, 3000);
    const std::int64_t decoded = DecodedLength(song);
    ASSERT_GT(decoded, 0);
    ASSERT_LT(decoded, 3 * c.Rate) << "the damage did not take";

    std::string input = scratch / c.Name;
    std::thread writer;
    if (c.Feed == TFeed::File) {
        fs::rename(song, input);
    } else {
        ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
        // The writer waits at most ten seconds for the player to open the FIFO.
        writer = std::thread([song, input] {
            int out = -1;
            for (int tries = 0; out < 0 && tries < 1000; ++tries) {
                out = open(input.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (out < 0)
                    usleep(10000);
            }
            if (out < 0)
                return;
            fcntl(out, F_SETFL, 0);
            const std::string bytes = ReadBytes(song);
            for (std::size_t at = 0; at < bytes.size();) {
                const ssize_t put = write(out, bytes.data() + at, bytes.size() - at);
                if (put <= 0)
                    break;
                at += static_cast<std::size_t>(put);
            }
            close(out);
        });
    }
    const TEnded ended =
        RunToEnd(ChildSetup({c.Name, "--fps", "30", "--report", "run.json"}, scratch.Path(), DiskAudio(scratch)));
    if (writer.joinable())
        writer.join();

    const std::string err = WithoutDiskDriverNotes(ended.Err);
    const TPlayed played = ReadPlayed(scratch / "played.raw", whole);
    if (c.Outcome != TOutcome::EndsShort) {
        EXPECT_EQ(ended.Status, 2) << err;
        const std::string start = "selvanore-play: cannot decode input '" + std::string(c.Name) +
                                  "': the file is damaged or cut short after ";
        EXPECT_EQ(err.rfind(start, 0), 0u) << err;
        EXPECT_TRUE(IsPlayOneLineError(err)) << err;
        EXPECT_FALSE(fs::exists(scratch / "run.json"));
    } else {
        EXPECT_EQ(ended.Status, 0) << err;
        EXPECT_EQ(err, "");
        EXPECT_FALSE(std::isnan(ReportNumber(ReadBytes(scratch / "run.json"), "frames_drawn")));
    }
    EXPECT_FALSE(HoldsTemporaries(scratch.Path()));
    if (c.Outcome == TOutcome::FailsUpFront) {
        EXPECT_FALSE(played.ExistsAtAll) << "the sound card was opened";
        return;
    }
    // What came before the damage was played, as it decodes (give or take the blocks that were
    // being read when it broke), nothing after it, and the run ended soon after: not a silence
    // as long as the rest of the file.
    EXPECT_EQ(played.Wrong, 0);
    EXPECT_LE(played.Sound, decoded + 1152) << "decoded " << decoded;
    EXPECT_GE(played.Sound, decoded - 4096) << "decoded " << decoded;
    EXPECT_LT(played.After, c.Rate / 2) << "of silence after the sound";
}

// clang-format off
const TDamageCase DamageCases[] = {
    {"cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 0.5, false, TFeed::File, TOutcome::FailsOnTheWay},
    {"gap.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, true, TFeed::File, TOutcome::FailsOnTheWay},
    // An MP3's length is counted before the run, so the damage is met up front; through a
    // FIFO, which is read once, it is met while playing.
    {"gap.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1, true, TFeed::File, TOutcome::FailsUpFront},
    {"gap-fifo.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1, true, TFeed::Fifo, TOutcome::FailsOnTheWay},
    {"cut.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 0.5, false, TFeed::File, TOutcome::EndsShort},
    {"cut.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 0.77, false, TFeed::File, TOutcome::EndsShort},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Play, PlayDamaged, ::testing::ValuesIn(DamageCases),
                         [](const ::testing::TestParamInfo<TDamageCase>& AInfo) {
                             std::string name = AInfo.param.Name;
                             for (char& ch : name)
                                 if (ch == '.' || ch == '-')
                                     ch = '_';
                             return name;
                         });

// ---- Rates: refused up front outside what sound cards take, played exactly inside ----

TEST(PlayRates, OnlyRatesASoundCardTakesArePlayedAndTheRestAreRefusedUpFront)
{
    struct TCase {
        int Rate;
        bool Refused;
    } const cases[] = {{1, true}, {999, true}, {1000, false}, {384000, false}, {384001, true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Rate) + " Hz");
        TScratch scratch;
        // Two seconds of sound (twenty samples at 1 Hz); half a second is asked for.
        WriteWav(scratch / "song.wav", c.Rate, 2, std::max(20, 2 * c.Rate), SongSample);
        TRunningPreview run(ChildSetup({"song.wav", "--fps", "20", "--seconds", "0.5", "--report", "run.json"},
                                       scratch.Path(), DiskAudio(scratch)));
        const TEnded ended = run.Wait(20);
        ASSERT_FALSE(ended.TimedOut);
        const std::string err = WithoutDiskDriverNotes(ended.Err);
        const TPlayed played = ReadPlayed(scratch / "played.raw");
        if (c.Refused) {
            EXPECT_EQ(ended.Status, 2);
            EXPECT_EQ(err, "selvanore-play: input 'song.wav' is sampled at " + std::to_string(c.Rate) +
                               " Hz: the rate must be from 1000 to 384000 Hz\n");
            EXPECT_FALSE(played.ExistsAtAll) << "the sound card was opened";
            EXPECT_FALSE(fs::exists(scratch / "run.json"));
        } else {
            EXPECT_EQ(ended.Status, 0) << err;
            EXPECT_EQ(played.Sound, c.Rate / 2);
            EXPECT_EQ(played.Wrong, 0);
            EXPECT_FALSE(std::isnan(ReportNumber(ReadBytes(scratch / "run.json"), "frames_drawn")));
        }
        EXPECT_FALSE(HoldsTemporaries(scratch.Path()));
    }
    const TEnded help = RunToEnd(ChildSetup({"--help"}, fs::current_path(), {}));
    EXPECT_NE(help.Out.find("sampled at 1000 to 384000 Hz"), std::string::npos) << help.Out;
}

TEST(PlayRates, TheDeviceBufferLastsAtMost25MillisecondsAtAnyRate)
{
    // The largest power of two within 25 ms: closing the device, which waits for the buffer
    // under way, is quick at the lowest rate too.
    struct TCase {
        std::int32_t Rate;
        std::uint16_t Samples;
    } const cases[] = {{1000, 16}, {8000, 128}, {44100, 1024}, {48000, 1024}, {96000, 2048}, {384000, 8192}};
    for (const TCase& c : cases)
        EXPECT_EQ(play::TPlayback::BufferSamplesFor(c.Rate), c.Samples) << c.Rate;
    for (std::int32_t rate = 1000; rate <= 384000; rate += 997) {
        const double samples = play::TPlayback::BufferSamplesFor(rate);
        EXPECT_LE(samples / rate, 0.025) << rate;
        EXPECT_GT(2 * samples / rate, 0.025) << rate;
    }
}

// ---- --seconds: the sound stops at the seconds asked, at any frame rate ----

TEST(PlaySeconds, TheSoundStopsAtTheSecondsAskedWhateverTheFrameRate)
{
    constexpr int Rate = 8000;
    for (const char* fps : {"1", "7", "1000"}) {
        SCOPED_TRACE(std::string("--fps ") + fps);
        TScratch scratch;
        WriteWav(scratch / "song.wav", Rate, 2, 6 * Rate, SongSample);
        const TEnded ended = RunToEnd(ChildSetup({"song.wav", "--fps", fps, "--seconds", "2", "--report", "run.json"},
                                                 scratch.Path(), DiskAudio(scratch)));
        ASSERT_EQ(ended.Status, 0) << ended.Err;
        const TPlayed played = ReadPlayed(scratch / "played.raw");
        EXPECT_EQ(played.Sound, 2 * Rate);
        EXPECT_EQ(played.Wrong, 0);
        // The run ends once the last of it has been heard, not at the next frame.
        EXPECT_LT(played.After, Rate / 4) << "of silence after the sound";
        EXPECT_FALSE(std::isnan(ReportNumber(ReadBytes(scratch / "run.json"), "frames_drawn")));
        EXPECT_FALSE(HoldsTemporaries(scratch.Path()));
    }
}

// ---- Ending signals: Ctrl-C and SIGTERM end the run with its report, the others interrupt ----

enum class TSignalled {
    Playing,         // the sound has begun
    WaitingForInput, // the input is a FIFO nobody writes: the window is not open yet
};

struct TSignalCase {
    const char* Name;
    int Signal;
    TSignalled When;
    bool Orderly; // an ordinary end with the report, rather than "interrupted"
};

class PlaySignalled : public ::testing::TestWithParam<TSignalCase> {};

TEST_P(PlaySignalled, EndsWithinASecondAndLeavesNoTemporary)
{
    const TSignalCase& c = GetParam();
    TScratch scratch;
    WriteWav(scratch / "song.wav", 8000, 2, 60 * 8000, SongSample);
    if (c.When == TSignalled::WaitingForInput) {
        ASSERT_EQ(mkfifo((scratch / "fifo.wav").c_str(), 0600), 0);
    }
    const std::string input = c.When == TSignalled::WaitingForInput ? "fifo.wav" : "song.wav";
    TRunningPreview run(ChildSetup({input, "--fps", "30", "--report", "run.json"}, scratch.Path(), DiskAudio(scratch)));
    if (c.When == TSignalled::Playing) {
        ASSERT_TRUE(WaitUntil([&] { return SoundStarted(scratch / "played.raw"); }, 30));
    }
    // Before the window, the program may still be starting (slowly, under the sanitizers): the
    // signal is sent once its handler is in place, then a moment later, when it waits for input.
    ASSERT_TRUE(WaitUntil([&] { return CatchesSignal(run.Pid(), c.Signal); }, 30));
    usleep(300000);
    run.Signal(c.Signal);
    const TEnded ended = run.Wait(10);
    std::printf("[ %s ] ended %.3f s after the signal\n", c.Name, ended.Seconds);

    EXPECT_FALSE(ended.TimedOut);
    EXPECT_LT(ended.Seconds, EndWithin);
    const std::string err = WithoutDiskDriverNotes(ended.Err);
    if (c.Orderly) {
        EXPECT_EQ(ended.Status, 0) << err;
        EXPECT_EQ(err, "");
        EXPECT_GT(ReportNumber(ReadBytes(scratch / "run.json"), "frames_drawn"), 0);
    } else {
        EXPECT_EQ(ended.Status, 128 + c.Signal) << err << (ended.Signal ? strsignal(ended.Signal) : "");
        EXPECT_EQ(err, "selvanore-play: interrupted\n");
        EXPECT_FALSE(fs::exists(scratch / "run.json"));
    }
    EXPECT_FALSE(HoldsTemporaries(scratch.Path()));
}

// clang-format off
const TSignalCase SignalCases[] = {
    {"InterruptWhilePlaying", SIGINT, TSignalled::Playing, true},
    {"TerminateWhilePlaying", SIGTERM, TSignalled::Playing, true},
    {"HangUpWhilePlaying", SIGHUP, TSignalled::Playing, false},
    {"QuitWhilePlaying", SIGQUIT, TSignalled::Playing, false},
    {"UserSignalWhilePlaying", SIGUSR1, TSignalled::Playing, false},
    {"SecondUserSignalWhilePlaying", SIGUSR2, TSignalled::Playing, false},
    {"AlarmWhilePlaying", SIGALRM, TSignalled::Playing, false},
    {"PowerFailureWhilePlaying", SIGPWR, TSignalled::Playing, false},
    {"InterruptBeforeTheWindow", SIGINT, TSignalled::WaitingForInput, false},
    {"TerminateBeforeTheWindow", SIGTERM, TSignalled::WaitingForInput, false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Play, PlaySignalled, ::testing::ValuesIn(SignalCases),
                         [](const ::testing::TestParamInfo<TSignalCase>& AInfo) { return AInfo.param.Name; });

// ---- A lost display: one line, status 2, nothing left ----

struct TLostCase {
    const char* Name;
    const char* Renderer; // SDL_RENDER_DRIVER; empty: SDL's choice
    int ServerSignal;     // how the X server ends
};

class PlayLostDisplay : public ::testing::TestWithParam<TLostCase> {};

TEST_P(PlayLostDisplay, IsOneLineWithStatusTwoAndLeavesNoTemporary)
{
    const TLostCase& c = GetParam();
    TScratch scratch;
    WriteWav(scratch / "song.wav", 8000, 2, 60 * 8000, SongSample);
    TXvfb server(320, 240);
    ASSERT_TRUE(server.Ok()) << server.Reason();
    std::vector<std::string> environment{"DISPLAY=" + server.Display(), "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=disk",
                                         "SDL_DISKAUDIOFILE=" + scratch / "played.raw",
                                         // The system's D-Bus library, which SDL's X11 driver
                                         // starts, leaks by LeakSanitizer's count.
                                         "LSAN_OPTIONS=detect_leaks=0"};
    if (*c.Renderer)
        environment.push_back(std::string("SDL_RENDER_DRIVER=") + c.Renderer);
    TRunningPreview run(ChildSetup({"song.wav", "--size", "320x240", "--fps", "30", "--report", "run.json"},
                                   scratch.Path(), environment));
    ASSERT_TRUE(WaitUntil([&] { return SoundStarted(scratch / "played.raw"); }, 30));
    usleep(500000);
    const auto killed = std::chrono::steady_clock::now();
    server.Kill(c.ServerSignal);
    const TEnded ended = run.Wait(10);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    std::printf("[ %s ] ended %.3f s after the server\n", c.Name, seconds);

    EXPECT_FALSE(ended.TimedOut);
    EXPECT_LT(seconds, EndWithin);
    EXPECT_EQ(ended.Status, 2);
    EXPECT_EQ(WithoutDiskDriverNotes(ended.Err),
              "selvanore-play: lost the display '" + server.Display() + "': the X server has gone away\n");
    EXPECT_FALSE(fs::exists(scratch / "run.json"));
    EXPECT_FALSE(HoldsTemporaries(scratch.Path()));
}

const TLostCase LostCases[] = {
    {"ServerKilledUnderTheSoftwareRenderer", "software", SIGKILL},
    {"ServerShutDownUnderTheDefaultRenderer", "", SIGTERM},
};

INSTANTIATE_TEST_SUITE_P(Play, PlayLostDisplay, ::testing::ValuesIn(LostCases),
                         [](const ::testing::TestParamInfo<TLostCase>& AInfo) { return AInfo.param.Name; });

} // namespace
