// How selvanore-preview ends on a signal and on a file-size limit: at once, even while blocked on
// a FIFO or a pipe nobody reads, with its one line on standard error, the status a shell gives
// (128 + signal, or 2 for a write that failed), and every file as it was before the run.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/common/Interrupt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::TChildSetup;
using testing_support::TEnded;
using testing_support::TScratch;

namespace {

namespace fs = std::filesystem;

const char* const Module = testing_support::ModuleUnderTest;

// Generous: an interrupt is honoured within a fraction of a second; this only catches one that
// is not honoured at all. The time taken is printed for the record.
constexpr double EndWithin = 3.0;

// The head of a 16-bit stereo WAV at 8 kHz that promises ASeconds of samples.
std::string WavHeader(int ASeconds)
{
    const auto u32 = [](std::uint32_t AValue) {
        return std::string{static_cast<char>(AValue), static_cast<char>(AValue >> 8), static_cast<char>(AValue >> 16),
                           static_cast<char>(AValue >> 24)};
    };
    const auto u16 = [](std::uint16_t AValue) {
        return std::string{static_cast<char>(AValue), static_cast<char>(AValue >> 8)};
    };
    const std::uint32_t data = static_cast<std::uint32_t>(ASeconds) * 8000 * 4;
    return "RIFF" + u32(36 + data) + "WAVEfmt " + u32(16) + u16(1) + u16(2) + u32(8000) + u32(8000 * 4) + u16(4) +
           u16(16) + "data" + u32(data);
}

// The state a run is in when the signal comes.
enum class TStall {
    FifoWithoutWriter, // --input is a FIFO nobody opened for writing: open() waits
    FifoThatStops,     // --input is a FIFO whose writer sent a part of the sound and went quiet
    FifoWithoutReader, // --output is a FIFO nobody reads: open() waits
    PipeNobodyReads,   // standard output is a pipe that is full
    Running,           // drawing and writing frames into a folder
};

struct TSignalCase {
    const char* Name;
    int Signal;
    TStall Stall;
    std::vector<std::string> Args; // after "--module M --size 32x24"
    bool EarlierFrames = false;    // "frames" holds frames of an earlier run, which must stay
};

// A failing case is named by its name, not its bytes.
void PrintTo(const TSignalCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class SignalledRun : public ::testing::TestWithParam<TSignalCase> {};

TEST_P(SignalledRun, EndsAtOnceWithOneLineAndLeavesNothing)
{
    if (!Module)
        FAIL() << "cannot run: the module is not part of this build";
    const TSignalCase& c = GetParam();
    TScratch scratch;
    testing_support::WriteWav(scratch / "song.wav", 8000, 2, 800, [](int, std::int64_t AIndex) {
        return 0.5 * std::sin(static_cast<double>(AIndex) * 0.3);
    });
    int held[2] = {-1, -1}; // descriptors the test holds for the run: a FIFO's end, a pipe
    if (c.Stall == TStall::FifoWithoutWriter || c.Stall == TStall::FifoThatStops) {
        ASSERT_EQ(mkfifo((scratch / "in.wav").c_str(), 0600), 0);
    }
    if (c.Stall == TStall::FifoWithoutReader) {
        ASSERT_EQ(mkfifo((scratch / "out.gif").c_str(), 0600), 0);
    }
    if (c.Stall == TStall::FifoThatStops) {
        // Read and write, so that opening does not wait; a quarter of the two promised seconds.
        held[0] = open((scratch / "in.wav").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(held[0], 0);
        const std::string sound = WavHeader(2) + std::string(2000 * 4, '\x10');
        ASSERT_EQ(write(held[0], sound.data(), sound.size()), static_cast<ssize_t>(sound.size()));
    }
    if (c.Stall == TStall::PipeNobodyReads) {
        ASSERT_EQ(pipe2(held, O_CLOEXEC), 0);
    }
    if (c.EarlierFrames) {
        fs::create_directory(scratch / "frames");
        for (const char* name : {"frame-000000.png", "frame-000001.png"})
            std::ofstream(scratch / (std::string("frames/") + name)) << "an earlier frame";
    }
    const testing_support::TTree before = testing_support::LookAt(scratch.Path());

    TChildSetup setup;
    setup.Args = {"--module", Module, "--size", "32x24"};
    setup.Args.insert(setup.Args.end(), c.Args.begin(), c.Args.end());
    setup.WorkingDir = scratch.Path();
    if (c.Stall == TStall::PipeNobodyReads)
        setup.StandardOutputDescriptor = held[1];
    TEnded ended;
    {
        testing_support::TRunningPreview run(setup);
        // Once its outputs are open the run is under way; a moment more and it is blocked (or,
        // for the stalls in open(), it has been blocked all along).
        const bool opensOutputs = c.Stall != TStall::FifoWithoutWriter && c.Stall != TStall::FifoWithoutReader;
        if (opensOutputs) {
            EXPECT_TRUE(testing_support::WaitUntil(
                [&] { return testing_support::WritesUnder(run.Pid(), scratch.Path()); }, 20));
        }
        usleep(300000);
        run.Signal(c.Signal);
        ended = run.Wait(EndWithin);
    }
    for (const int descriptor : held)
        if (descriptor >= 0)
            close(descriptor);

    std::printf("[ %s ] ended %.3f s after the signal\n", c.Name, ended.Seconds);
    EXPECT_FALSE(ended.TimedOut) << "still running " << EndWithin << " s after " << strsignal(c.Signal);
    EXPECT_EQ(ended.Status, 128 + c.Signal) << ended.Err;
    EXPECT_EQ(ended.Err, "selvanore-preview: interrupted\n");
    EXPECT_EQ(testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path())),
              std::vector<std::string>{});
}

// clang-format off
const TSignalCase SignalCases[] = {
    {"InterruptWhileOpeningAFifoInput", SIGINT, TStall::FifoWithoutWriter, {"--input", "in.wav", "--output", "out.gif"}},
    {"TerminateWhileReadingAFifoInput", SIGTERM, TStall::FifoThatStops,
     {"--input", "in.wav", "--trace", "calls.txt", "--output", "out.gif"}},
    {"InterruptWhileOpeningAFifoOutput", SIGINT, TStall::FifoWithoutReader, {"--input", "song.wav", "--output", "out.gif"}},
    {"TerminateWhileWritingAFullPipe", SIGTERM, TStall::PipeNobodyReads,
     {"--frames", "100000", "--trace", "calls.txt", "--output", "-"}},
    {"HangUpWhileWritingFrames", SIGHUP, TStall::Running, {"--frames", "100000", "--output", "frames"}},
    {"QuitWhileWritingAGifAndTrace", SIGQUIT, TStall::Running,
     {"--frames", "100000", "--trace", "calls.txt", "--output", "out.gif"}},
    {"AlarmWhileWritingOneFrame", SIGALRM, TStall::Running, {"--frames", "1000000", "--frame", "999999", "--output", "one.png"}},
    {"UserSignalIntoAnExistingFolder", SIGUSR1, TStall::Running, {"--frames", "100000", "--output", "frames"}, true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, SignalledRun, ::testing::ValuesIn(SignalCases),
                         [](const ::testing::TestParamInfo<TSignalCase>& AInfo) { return AInfo.param.Name; });

// A run killed outright (SIGKILL, which no handler sees) leaves no file behind, since its files
// have no name until the commit. A folder of frames cannot be unnamed, nor can a file on a file
// system without unnamed files: those stay under a name that tells their run, and the next run
// that writes beside them removes them.
struct TKillCase {
    const char* Name;
    std::vector<std::string> Args; // after "--module M": the preview's, or the player's
    bool Player = false;           // selvanore-play, headless, instead of the preview
    bool LeavesRemnant = false;    // a named temporary stays until the next run
    bool WithoutUnnamedFiles = false;
};

void PrintTo(const TKillCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class KilledRun : public ::testing::TestWithParam<TKillCase> {};

TEST_P(KilledRun, LeavesNothingThatTheNextRunDoesNotRemove)
{
    if (!Module)
        FAIL() << "cannot run: the module is not part of this build";
    const TKillCase& c = GetParam();
    std::vector<std::string> environment = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
    if (c.WithoutUnnamedFiles) {
#ifdef PREVIEW_NO_UNNAMED_FILES
        environment.push_back(std::string("LD_PRELOAD=") + PREVIEW_NO_UNNAMED_FILES);
#else
        GTEST_SKIP() << "the preloaded file system needs a build without AddressSanitizer";
#endif
    }
    TScratch scratch;
    testing_support::WriteSong(scratch / "song.wav", 30);
    const testing_support::TTree before = testing_support::LookAt(scratch.Path());

    TChildSetup setup;
    if (c.Player) {
#ifdef PREVIEW_PLAY_PROGRAM
        setup.Program = PREVIEW_PLAY_PROGRAM;
#else
        GTEST_SKIP() << "the live player is not part of this build";
#endif
    }
    setup.Args = {"--module", Module};
    setup.Args.insert(setup.Args.end(), c.Args.begin(), c.Args.end());
    setup.WorkingDir = scratch.Path();
    setup.StandardOutput = "/dev/null";
    setup.Environment = environment;
    TEnded ended;
    {
        testing_support::TRunningPreview run(setup);
        ASSERT_TRUE(
            testing_support::WaitUntil([&] { return testing_support::WritesUnder(run.Pid(), scratch.Path()); }, 20))
            << "the run never opened its output";
        usleep(300000);
        run.Signal(SIGKILL);
        ended = run.Wait(EndWithin);
    }
    EXPECT_EQ(ended.Signal, SIGKILL) << ended.Err;
    EXPECT_EQ(ended.Err, ""); // killed, it could say nothing
    const std::vector<std::string> left =
        testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path()));
    if (c.LeavesRemnant) {
        EXPECT_FALSE(left.empty()) << "nothing to show that the next run removes it";
        for (const std::string& difference : left)
            EXPECT_TRUE(difference.rfind(".sv-", 0) == 0 && difference.find(": new") != std::string::npos)
                << difference;
    } else {
        EXPECT_EQ(left, std::vector<std::string>{});
    }

    // The next run beside it: written as usual, and what the killed one left is gone.
    TChildSetup later;
    later.Args = {"--module", Module, "--size", "16x12", "--frames", "1", "--output", "later.gif"};
    later.WorkingDir = scratch.Path();
    later.Environment = environment;
    const TEnded next = testing_support::RunToEnd(later);
    EXPECT_EQ(next.Status, 0) << next.Err;
    EXPECT_EQ(next.Err, "");
    EXPECT_EQ(testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path())),
              std::vector<std::string>{"later.gif: new"});
}

// clang-format off
const TKillCase KillCases[] = {
    {"Gif", {"--size", "32x24", "--frames", "100000", "--output", "out.gif"}},
    {"PngFolder", {"--size", "32x24", "--frames", "100000", "--output", "frames"}, false, true},
    {"PngFrame", {"--size", "32x24", "--frames", "1000000", "--frame", "999999", "--output", "one.png"}},
    {"Video", {"--size", "32x24", "--frames", "100000", "--output", "out.mkv"}},
    {"Trace", {"--size", "32x24", "--frames", "100000", "--trace", "calls.txt", "--output", "-"}},
    {"PlayerReport", {"song.wav", "--size", "32x24", "--report", "run.json"}, true},
    {"GifWithoutUnnamedFiles", {"--size", "32x24", "--frames", "100000", "--output", "out.gif"}, false, true, true},
    {"TraceWithoutUnnamedFiles", {"--size", "32x24", "--frames", "100000", "--trace", "calls.txt", "--output", "-"},
     false, true, true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, KilledRun, ::testing::ValuesIn(KillCases),
                         [](const ::testing::TestParamInfo<TKillCase>& AInfo) { return AInfo.param.Name; });

// A file-size limit (ulimit -f) is a write that fails, not a SIGXFSZ that kills the program:
// status 2, one line, and no temporary left.
struct TLimitCase {
    const char* Name;
    long long Limit; // bytes
    std::vector<std::string> Args;
};

// A failing case is named by its name, not its bytes.
void PrintTo(const TLimitCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class LimitedRun : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(LimitedRun, AFileSizeLimitIsAOneLineError)
{
    if (!Module)
        FAIL() << "cannot run: the module is not part of this build";
    TScratch scratch;
    const testing_support::TTree before = testing_support::LookAt(scratch.Path());
    TChildSetup setup;
    setup.Args = {"--module", Module};
    setup.Args.insert(setup.Args.end(), GetParam().Args.begin(), GetParam().Args.end());
    setup.WorkingDir = scratch.Path();
    setup.FileSizeLimit = GetParam().Limit;
    const TEnded ended = testing_support::RunToEnd(setup);
    EXPECT_EQ(ended.Signal, 0) << strsignal(ended.Signal);
    EXPECT_EQ(ended.Status, 2) << ended.Err;
    EXPECT_TRUE(testing_support::IsOneLineError(ended.Err)) << "[" << ended.Err << "]";
    EXPECT_NE(ended.Err.find(std::strerror(EFBIG)), std::string::npos) << ended.Err;
    EXPECT_EQ(testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path())),
              std::vector<std::string>{});
}

const TLimitCase LimitCases[] = {
    {"Gif", 16 * 1024, {"--size", "320x240", "--output", "out.gif"}},
    {"PngFrame", 1024, {"--size", "320x240", "--output", "one.png", "--frame", "100"}},
    {"PngFolder", 1024, {"--size", "320x240", "--output", "frames"}},
    {"Trace", 64 * 1024, {"--size", "32x24", "--trace", "calls.txt", "--output", "out.gif"}},
};

INSTANTIATE_TEST_SUITE_P(Preview, LimitedRun, ::testing::ValuesIn(LimitCases),
                         [](const ::testing::TestParamInfo<TLimitCase>& AInfo) { return AInfo.param.Name; });

// The handler and a scope held on another thread (the writer thread creating a PNG frame):
// the handler, on the thread that got the signal, waits until the other thread has left its
// scope, so that nothing is created behind its back; only then does it clean up and end.
TEST(EndingSignalsHeld, TheHandlerWaitsForAScopeHeldOnAnotherThread)
{
    TScratch scratch;
    const std::string left = scratch / "left the scope";
    int entered[2];
    ASSERT_EQ(pipe(entered), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        common::SetProgramName("selvanore-preview");
        common::InstallEndingHandlers();
        std::thread holder([&] {
            const common::TEndingSignalsHeld held;
            const char byte = 1;
            if (write(entered[1], &byte, 1) != 1)
                _exit(3);
            usleep(300000);
            close(open(left.c_str(), O_WRONLY | O_CREAT, 0644));
        });
        char byte = 0;
        if (read(entered[0], &byte, 1) != 1)
            _exit(4);
        kill(getpid(), SIGTERM); // the holder blocks it, so this thread takes it
        holder.join();
        _exit(5); // not reached: the handler ends the process
    }
    close(entered[0]);
    close(entered[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_TRUE(fs::exists(left)) << "the handler ended the process while another thread held the signals";
}

} // namespace
