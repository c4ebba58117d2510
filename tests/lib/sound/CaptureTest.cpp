// The capture against a PulseAudio daemon that each test starts with a null output: what is
// played into the output comes back, in order and at its level, silence stays silence, and every
// way the server can fail ends in a one-line error rather than a hang.
#include "tests/support/PulseServer.h"
#include "tools/lib/sound/Capture.h"
#include "tools/lib/sound/CaptureRing.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <numbers>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace testing_support {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr int Block = sound::BlockSize;

// One call of Latest.
struct TBlock {
    std::array<float, Block> Left{};
    std::array<float, Block> Right{};
    std::int64_t Count = 0;
};

TBlock Take(sound::TCapture& ACapture)
{
    TBlock block;
    block.Count = ACapture.Latest(block.Left.data(), block.Right.data());
    return block;
}

float Peak(const std::array<float, Block>& ASamples)
{
    float peak = 0.0f;
    for (const float sample : ASamples)
        peak = std::max(peak, std::abs(sample));
    return peak;
}

// Polls ACapture until ADone holds for a block, for at most ATimeout; the block, or none.
std::optional<TBlock> PollUntil(sound::TCapture& ACapture, const std::function<bool(const TBlock&)>& ADone,
                                steady_clock::duration ATimeout)
{
    const auto deadline = steady_clock::now() + ATimeout;
    while (steady_clock::now() < deadline) {
        TBlock block = Take(ACapture);
        if (ADone(block))
            return block;
        std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
}

// Where the waveform crosses zero upwards, in samples, between the samples around each crossing.
std::vector<double> UpwardCrossings(const std::array<float, Block>& ASamples)
{
    std::vector<double> crossings;
    for (int i = 1; i < Block; ++i) {
        const double before = ASamples[i - 1];
        const double after = ASamples[i];
        if (before < 0.0 && after >= 0.0)
            crossings.push_back(i - 1 + before / (before - after));
    }
    return crossings;
}

// Every period of the block, from one upward crossing to the next, is APeriod samples; a block
// put together in the wrong order, or with samples lost or doubled, has one that is not.
void ExpectPeriods(const std::array<float, Block>& ASamples, double APeriod, const char* AChannel)
{
    const std::vector<double> crossings = UpwardCrossings(ASamples);
    ASSERT_GE(crossings.size(), 2u) << AChannel << ": fewer than two periods in the block";
    for (std::size_t i = 1; i < crossings.size(); ++i)
        EXPECT_NEAR(crossings[i] - crossings[i - 1], APeriod, 0.05)
            << AChannel << ": period " << i << " of the block, from sample " << crossings[i - 1];
}

void ExpectOneLine(const std::string& AMessage, const std::string& AExpected)
{
    EXPECT_FALSE(AMessage.empty());
    EXPECT_EQ(AMessage.find('\n'), std::string::npos) << AMessage;
    EXPECT_NE(AMessage.find(AExpected), std::string::npos) << "\"" << AMessage << "\" lacks \"" << AExpected << "\"";
}

// ---------------------------------------------------------------------------------------------
// The ring of newest samples against the obvious model, on seeded random streams: every byte
// kept in order, fragments that end inside a frame, holes that read as silence, runs longer
// than the ring. Case i of a table row is seeded by i.

struct TRingCase {
    const char* Name;
    std::size_t MaxFragment; // bytes
    int HolePercent;         // of the fragments
};

void PrintTo(const TRingCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class CaptureRingTest : public testing::TestWithParam<TRingCase> {};

TEST_P(CaptureRingTest, LatestIsTheNewestBlockOfEveryByteFedInOrder)
{
    const TRingCase& test = GetParam();
    constexpr int Seeds = 20;
    constexpr int FragmentsPerSeed = 200;
    for (int seed = 0; seed < Seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
        std::uniform_int_distribution<std::size_t> fragmentSize(1, test.MaxFragment);
        std::uniform_int_distribution<int> percent(0, 99);
        std::uniform_real_distribution<float> sample(-1.0f, 1.0f);

        sound::TCaptureRing ring;
        std::vector<unsigned char> fed; // the model: every byte, holes as zeros
        for (int fragment = 0; fragment < FragmentsPerSeed; ++fragment) {
            const std::size_t size = fragmentSize(random);
            const bool hole = percent(random) < test.HolePercent;
            std::vector<unsigned char> bytes(size, 0);
            if (!hole)
                for (std::size_t i = 0; i < size; i += sizeof(float)) {
                    const float value = sample(random);
                    std::memcpy(bytes.data() + i, &value, std::min(sizeof(float), size - i));
                }
            ring.Feed(hole ? nullptr : bytes.data(), size);
            fed.insert(fed.end(), bytes.begin(), bytes.end());

            const auto frames = static_cast<std::int64_t>(fed.size() / sound::TCaptureRing::FrameBytes);
            std::array<float, Block> left{};
            std::array<float, Block> right{};
            ASSERT_EQ(ring.Latest(left.data(), right.data()), frames) << "after fragment " << fragment;
            std::array<float, Block> expectedLeft{};
            std::array<float, Block> expectedRight{};
            for (int i = 0; i < Block; ++i) {
                const std::int64_t frame = frames - Block + i;
                if (frame < 0)
                    continue;
                const unsigned char* at = fed.data() + frame * sound::TCaptureRing::FrameBytes;
                std::memcpy(&expectedLeft[i], at, sizeof(float));
                std::memcpy(&expectedRight[i], at + sizeof(float), sizeof(float));
            }
            // Bit for bit: a frame completed from a hole may hold any pattern, NaNs included.
            ASSERT_EQ(std::memcmp(left.data(), expectedLeft.data(), sizeof(left)), 0) << "after fragment " << fragment;
            ASSERT_EQ(std::memcmp(right.data(), expectedRight.data(), sizeof(right)), 0)
                << "after fragment " << fragment;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, CaptureRingTest,
                         testing::Values(TRingCase{"ByteByByte", 9, 0}, TRingCase{"Fragments", 3000, 0},
                                         TRingCase{"FragmentsAndHoles", 3000, 20},
                                         TRingCase{"LongerThanTheRing", 20000, 10}),
                         [](const testing::TestParamInfo<TRingCase>& AInfo) { return AInfo.param.Name; });

// ---------------------------------------------------------------------------------------------
// A tone played into the null output is in the captured blocks: each channel at its own level
// and with its own period, the default output's monitor and the monitor named alike, and the
// default output's monitor still when the desktop's default output changes under the capture.

struct TToneCase {
    const char* Name;
    std::string Source;
    TTone Tone;
    std::vector<std::vector<std::string>> Before; // pactl commands run once the capture is open
};

// Test names say which case ran; gtest would otherwise print the case's bytes.
void PrintTo(const TToneCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class CaptureToneTest : public testing::TestWithParam<TToneCase> {};

TEST_P(CaptureToneTest, TheToneComesBackAtItsLevelAndPeriodThenSilence)
{
    const TToneCase& test = GetParam();
    TPulseServer server;
    const std::unique_ptr<sound::TCapture> capture = sound::OpenCapture(test.Source);
    ASSERT_EQ(capture->Rate(), NullSinkRate);
    for (const std::vector<std::string>& command : test.Before)
        ASSERT_EQ(server.Pactl(command), 0) << "pactl " << command.front();

    std::string playError;
    std::thread player([&] {
        try {
            PlayTone(test.Tone, NullSinkRate, 1.5);
        } catch (const std::exception& error) {
            playError = error.what();
        }
    });
    struct TJoin {
        std::thread& Thread;
        ~TJoin()
        {
            if (Thread.joinable())
                Thread.join();
        }
    } join{player};

    const std::optional<TBlock> first = PollUntil(
        *capture, [&](const TBlock& ABlock) { return Peak(ABlock.Left) > 0.5 * test.Tone.LeftAmplitude; }, 10s);
    ASSERT_TRUE(first) << "the tone never reached the capture " << playError;
    // A tenth of a second on, the whole block is the tone.
    std::this_thread::sleep_for(100ms);
    const TBlock tone = Take(*capture);
    EXPECT_GT(tone.Count, first->Count);
    EXPECT_NEAR(Peak(tone.Left), test.Tone.LeftAmplitude, 0.01 * test.Tone.LeftAmplitude + 1e-4);
    EXPECT_NEAR(Peak(tone.Right), test.Tone.RightAmplitude, 0.01 * test.Tone.RightAmplitude + 1e-4);
    ExpectPeriods(tone.Left, NullSinkRate / test.Tone.LeftFrequency, "left");
    ExpectPeriods(tone.Right, NullSinkRate / test.Tone.RightFrequency, "right");

    player.join();
    ASSERT_EQ(playError, "");
    // Once the tone has ended, the newest block is silence again.
    const std::optional<TBlock> after = PollUntil(
        *capture, [](const TBlock& ABlock) { return Peak(ABlock.Left) == 0.0f && Peak(ABlock.Right) == 0.0f; }, 5s);
    EXPECT_TRUE(after) << "the capture did not fall silent after the tone";
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CaptureToneTest,
    testing::Values(TToneCase{"DefaultMonitor", "", TTone{441.0, 0.5, 882.0, 0.25}, {}},
                    TToneCase{"NamedMonitor", std::string(NullSink) + ".monitor", TTone{1102.5, 0.8, 220.5, 0.3}, {}},
                    TToneCase{"NewDefaultOutput",
                              "",
                              TTone{882.0, 0.4, 441.0, 0.6},
                              {{"load-module", "module-null-sink", "sink_name=other", "format=float32le", "channels=2",
                                "rate=" + std::to_string(NullSinkRate)},
                               {"set-default-sink", "other"}}}),
    [](const testing::TestParamInfo<TToneCase>& AInfo) { return AInfo.param.Name; });

// Nothing playing: the blocks keep coming, at the output's rate, and are silence.
TEST(CaptureSilenceTest, NothingPlayingIsSilenceAtTheOutputsRate)
{
    TPulseServer server;
    const std::unique_ptr<sound::TCapture> capture = sound::OpenCapture("");
    const std::optional<TBlock> full = PollUntil(
        *capture, [](const TBlock& ABlock) { return ABlock.Count >= 2 * Block; }, 10s);
    ASSERT_TRUE(full) << "no samples came from the null output's monitor";
    EXPECT_EQ(Peak(full->Left), 0.0f);
    EXPECT_EQ(Peak(full->Right), 0.0f);

    // The count follows the sound's clock: about a second's samples in a second. The bounds
    // only tell a stream that runs from one that stalls or repeats.
    const auto start = steady_clock::now();
    const std::int64_t before = Take(*capture).Count;
    std::this_thread::sleep_for(1s);
    const TBlock later = Take(*capture);
    const double seconds = std::chrono::duration<double>(steady_clock::now() - start).count();
    const double rate = static_cast<double>(later.Count - before) / seconds;
    EXPECT_GT(rate, 0.5 * NullSinkRate);
    EXPECT_LT(rate, 1.5 * NullSinkRate);
    EXPECT_EQ(Peak(later.Left), 0.0f);
    EXPECT_EQ(Peak(later.Right), 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Opening fails with a one-line error that says why: no such source, no server, a server that
// does not answer.

enum class TServerSetup {
    Running,     // a daemon serves PULSE_SERVER's socket
    NoSocket,    // PULSE_SERVER names a socket that does not exist
    StaleSocket, // PULSE_SERVER names a socket file that nobody listens on
    Stopped,     // a daemon serves the socket, but is stopped (SIGSTOP)
};

struct TOpenCase {
    const char* Name;
    TServerSetup Setup;
    std::string Source;
    std::string Expected; // part of the message
};

void PrintTo(const TOpenCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class CaptureOpenTest : public testing::TestWithParam<TOpenCase> {};

// A socket file left by a server that is gone: it exists, and connecting to it is refused.
void MakeStaleSocket(const std::filesystem::path& APath)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    APath.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
    const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    close(fd);
    ASSERT_EQ(bound, 0) << std::strerror(errno);
}

TEST_P(CaptureOpenTest, FailsWithAOneLineReason)
{
    const TOpenCase& test = GetParam();
    std::optional<TPulseServer> server;
    std::optional<TTempFolder> folder;
    std::optional<TClientEnvironment> client;
    if (test.Setup == TServerSetup::Running || test.Setup == TServerSetup::Stopped) {
        server.emplace();
        if (test.Setup == TServerSetup::Stopped)
            server->Pause();
    } else {
        folder.emplace("selvanore-no-pulse");
        const std::filesystem::path socket = folder->Path() / "native";
        if (test.Setup == TServerSetup::StaleSocket)
            MakeStaleSocket(socket);
        client.emplace("unix:" + socket.string(), folder->Path());
    }

    try {
        sound::OpenCapture(test.Source);
        FAIL() << "the capture opened";
    } catch (const common::EToolError& error) {
        ExpectOneLine(error.what(), test.Expected);
    }
    if (server)
        server->Resume();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CaptureOpenTest,
    testing::Values(
        TOpenCase{"NoSuchSource", TServerSetup::Running, "no_such_source", "no sound source named 'no_such_source'"},
        TOpenCase{"SourceNameOnOneLine", TServerSetup::Running, "two\nlines", "no sound source named 'two\\nlines'"},
        TOpenCase{"NoSocket", TServerSetup::NoSocket, "", "no sound server"},
        TOpenCase{"StaleSocket", TServerSetup::StaleSocket, "", "no sound server"},
        TOpenCase{"StaleSocketNamedSource", TServerSetup::StaleSocket, "speakers.monitor", "no sound server"},
        TOpenCase{"StoppedServer", TServerSetup::Stopped, "", "the sound server did not answer within 5 seconds"}),
    [](const testing::TestParamInfo<TOpenCase>& AInfo) { return AInfo.param.Name; });

// ---------------------------------------------------------------------------------------------
// A capture whose server or source goes away: Latest throws the broken-off error (and keeps
// throwing it) instead of handing out the last block forever.

struct TBreakCase {
    const char* Name;
    std::function<void(TPulseServer&)> Break;
    std::string Expected;
};

void PrintTo(const TBreakCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class CaptureBreakTest : public testing::TestWithParam<TBreakCase> {};

TEST_P(CaptureBreakTest, LatestThrowsTheBrokenOffError)
{
    const TBreakCase& test = GetParam();
    TPulseServer server;
    const std::unique_ptr<sound::TCapture> capture = sound::OpenCapture("");
    ASSERT_TRUE(PollUntil(
        *capture, [](const TBlock& ABlock) { return ABlock.Count > 0; }, 10s))
        << "no samples came before the break";

    test.Break(server);
    std::string message;
    const auto deadline = steady_clock::now() + 10s;
    while (message.empty() && steady_clock::now() < deadline) {
        try {
            Take(*capture);
            std::this_thread::sleep_for(2ms);
        } catch (const common::EToolError& error) {
            message = error.what();
        }
    }
    ASSERT_FALSE(message.empty()) << "Latest kept returning blocks for 10 seconds after the break";
    ExpectOneLine(message, test.Expected);
    try {
        Take(*capture);
        ADD_FAILURE() << "Latest returned a block after it had thrown";
    } catch (const common::EToolError& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
}

INSTANTIATE_TEST_SUITE_P(Breaks, CaptureBreakTest,
                         testing::Values(TBreakCase{"ServerKilled", [](TPulseServer& AServer) { AServer.Kill(); },
                                                    "the sound server went away during the capture"},
                                         TBreakCase{
                                             "OutputUnloaded",
                                             [](TPulseServer& AServer) {
                                                 ASSERT_EQ(AServer.Pactl({"unload-module", "module-null-sink"}), 0);
                                             },
                                             "the default output's monitor went away during the capture"}),
                         [](const testing::TestParamInfo<TBreakCase>& AInfo) { return AInfo.param.Name; });

// ---------------------------------------------------------------------------------------------
// Destroying a capture needs nothing from the server: neither a stopped server nor a dead one
// holds it up.

struct TQuietCase {
    const char* Name;
    std::function<void(TPulseServer&)> Quiet;
};

void PrintTo(const TQuietCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class CaptureDestroyTest : public testing::TestWithParam<TQuietCase> {};

TEST_P(CaptureDestroyTest, DestroyingDoesNotWaitForTheServer)
{
    TPulseServer server;
    std::unique_ptr<sound::TCapture> capture = sound::OpenCapture("");
    ASSERT_TRUE(PollUntil(
        *capture, [](const TBlock& ABlock) { return ABlock.Count > 0; }, 10s));
    GetParam().Quiet(server);

    std::future<void> destroyed = std::async(std::launch::async, [&] { capture.reset(); });
    const bool done = destroyed.wait_for(10s) == std::future_status::ready;
    // A stopped server is let go, so that a hanging destructor ends and the test can report it.
    server.Resume();
    destroyed.get();
    EXPECT_TRUE(done) << "destroying the capture waited for the server";
}

INSTANTIATE_TEST_SUITE_P(Servers, CaptureDestroyTest,
                         testing::Values(TQuietCase{"Stopped", [](TPulseServer& AServer) { AServer.Pause(); }},
                                         TQuietCase{"Killed", [](TPulseServer& AServer) { AServer.Kill(); }}),
                         [](const testing::TestParamInfo<TQuietCase>& AInfo) { return AInfo.param.Name; });

// ---------------------------------------------------------------------------------------------
// Figures for the record, not a check: run with --gtest_also_run_disabled_tests
// --gtest_filter='CaptureMeasure.*'. The latency of a tone from its write into the output to its
// first sight in Latest, the processor time of ten seconds of silent capture polled at 60 Hz,
// and the process's memory.

long StatusKilobytes(const char* AField)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(AField, 0) == 0)
            return std::stol(line.substr(std::string(AField).size()));
    return -1;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(CaptureMeasure, DISABLED_LatencyProcessorTimeAndMemory)
{
    TPulseServer server;
    const long rssBefore = StatusKilobytes("VmRSS:");
    std::unique_ptr<sound::TCapture> capture = sound::OpenCapture("");
    const long rssOpen = StatusKilobytes("VmRSS:");

    // Silence: ten seconds, polled as a player at 60 frames per second polls.
    const double cpuStart = CpuSeconds();
    const auto start = steady_clock::now();
    for (int frame = 1; frame <= 600; ++frame) {
        Take(*capture);
        std::this_thread::sleep_until(start + std::chrono::microseconds(frame * 1000000 / 60));
    }
    const double cpu = CpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(steady_clock::now() - start).count();
    const long rssSteady = StatusKilobytes("VmRSS:");

    // Latency: tones of 200 ms after 300 ms of silence, into a playback stream that writes 5 ms
    // at a time; a watcher polls Latest every half millisecond for the newest 64 samples.
    constexpr int Tones = 20;
    const int rate = capture->Rate();
    const int piece = rate / 200;
    TPlayback playback(rate, 20);
    std::vector<double> onsets; // the time, in seconds from start, at which each tone is in the output
    std::vector<double> playbackLatencies;
    std::vector<double> seen;
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        bool inTone = false;
        TBlock block;
        while (!stop) {
            capture->Latest(block.Left.data(), block.Right.data());
            const bool loud = std::any_of(block.Left.end() - 64, block.Left.end(),
                                          [](float ASample) { return std::abs(ASample) > 0.25f; });
            if (loud && !inTone)
                seen.push_back(std::chrono::duration<double>(steady_clock::now() - start).count());
            inTone = loud;
            std::this_thread::sleep_for(500us);
        }
    });
    std::vector<float> samples(2 * piece);
    std::int64_t t = 0;
    for (int tone = 0; tone < Tones; ++tone) {
        for (int i = 0; i < 300 / 5; ++i) {
            std::fill(samples.begin(), samples.end(), 0.0f);
            playback.Write(samples);
        }
        for (int i = 0; i < 200 / 5; ++i) {
            for (int k = 0; k < piece; ++k, ++t) {
                const auto value = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000.0 * t / rate));
                samples[2 * k] = value;
                samples[2 * k + 1] = value;
            }
            const double latency = i == 0 ? playback.LatencyMicroseconds() / 1e6 : 0.0;
            playback.Write(samples);
            if (i == 0) {
                onsets.push_back(std::chrono::duration<double>(steady_clock::now() - start).count());
                playbackLatencies.push_back(latency);
            }
        }
    }
    playback.Drain();
    std::this_thread::sleep_for(100ms);
    stop = true;
    watcher.join();
    const long rssPeak = StatusKilobytes("VmHWM:");

    // The time from the write includes the tone's wait in the playback stream's own queue, so
    // it bounds the capture's latency from above; the playback stream's latency, as the server
    // reports it, is that queue plus the null output's, and is printed beside it.
    std::vector<double> total;
    std::vector<double> queued;
    // Each tone is matched with the first rise the watcher saw after its write; a tone the
    // watcher missed (a loaded machine can hold it off for a whole tone) is left out.
    for (std::size_t i = 0; i < onsets.size(); ++i) {
        const auto rise = std::lower_bound(seen.begin(), seen.end(), onsets[i]);
        const double next = i + 1 < onsets.size() ? onsets[i + 1] : 1e300;
        if (rise == seen.end() || *rise >= next)
            continue;
        total.push_back(1000.0 * (*rise - onsets[i]));
        queued.push_back(1000.0 * playbackLatencies[i]);
    }
    ASSERT_FALSE(total.empty()) << "the watcher saw none of the tones";
    const auto summary = [](std::vector<double> AValues) {
        std::sort(AValues.begin(), AValues.end());
        return "min " + std::to_string(AValues.front()) + " median " + std::to_string(AValues[AValues.size() / 2]) +
               " max " + std::to_string(AValues.back()) + " ms";
    };
    std::cout << "rate: " << rate << " Hz; tones seen: " << total.size() << " of " << onsets.size() << "\n"
              << "write to Latest: " << summary(total) << "\n"
              << "the playback stream's latency at each tone's write: " << summary(queued) << "\n"
              << "silent capture: " << cpu << " s of processor in " << wall << " s (" << 100.0 * cpu / wall
              << "% of one core)\n"
              << "memory: " << rssBefore << " kB before opening, " << rssOpen << " kB open, " << rssSteady
              << " kB after 10 s of silence, peak " << rssPeak << " kB\n";
}

} // namespace
} // namespace testing_support
