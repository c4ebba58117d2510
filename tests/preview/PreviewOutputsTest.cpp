// Where selvanore-preview's outputs go and how they appear: no output is an input or another
// output, devices and FIFOs are written in place, symbolic links are followed, all outputs of a
// run appear together, a PNG folder holds exactly the run's frames, and a run that fails leaves
// every file as it was, byte for byte.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/output/AtomicFile.h"
#include "tools/lib/output/AtomicFolder.h"
#include "tools/lib/output/TemporaryNames.h"
#include "tools/lib/common/Interrupt.h"
#include "tools/lib/output/Temporaries.h"
#include "tools/lib/output/png/FrameName.h"
#include "tools/lib/common/ToolError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <cmath>
#include <cstdio>
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

// 0.2 s of the stereo song: six frames at 30 per second.
void MakeSong(const std::string& APath)
{
    testing_support::WriteSong(APath, 0.2);
}

void Write(const std::string& APath, const std::string& AText)
{
    std::ofstream(APath, std::ios::binary) << AText;
}

std::vector<std::string> FramesIn(const std::string& AFolder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(AFolder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> FrameNames(int ACount)
{
    std::vector<std::string> names;
    for (int i = 0; i < ACount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06d.png", i);
        names.emplace_back(name);
    }
    return names;
}

bool IsGifOf(const std::string& APath, std::size_t AFrames)
{
    const testing_support::TGif gif = testing_support::ReadGif(APath);
    return gif.Ok && gif.Frames.size() == AFrames;
}

bool StartsWithTrace(const std::string& AText)
{
    return AText.rfind("frame 0\nFillRect 0 0 16 12 brush=0x00000000\n", 0) == 0;
}

// One run against files prepared for it. A run that fails must leave the scratch folder as it
// was, byte for byte; one that succeeds is checked by its case. Neither leaves a temporary.
struct TOutputCase {
    const char* Name;
    std::function<void(const TScratch&)> Prepare;
    std::vector<std::string> Args; // after "--input <Input> --size 16x12"
    int Status;
    const char* Message; // a part of the one line expected when Status is 2
    std::function<void(const TScratch&)> Check = {};
    const char* StandardOutput = nullptr; // a file of the scratch folder as standard output
    bool CloseStandardOutput = false;
    const char* Input = "song.wav";
};

// A failing case is named by its name, not its bytes.
void PrintTo(const TOutputCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class OutputRun : public ::testing::TestWithParam<TOutputCase> {};

TEST_P(OutputRun, KeepsEveryInputAndEarlierOutput)
{
    if (!Module)
        FAIL() << "cannot run: the module is not part of this build";
    const TOutputCase& c = GetParam();
    TScratch scratch;
    MakeSong(scratch / "song.wav");
    if (c.Prepare)
        c.Prepare(scratch);
    const testing_support::TTree before = testing_support::LookAt(scratch.Path());

    TChildSetup setup;
    setup.Args = {"--module", Module, "--input", c.Input, "--size", "16x12"};
    setup.Args.insert(setup.Args.end(), c.Args.begin(), c.Args.end());
    setup.WorkingDir = scratch.Path();
    if (c.StandardOutput)
        setup.StandardOutput = scratch / c.StandardOutput;
    setup.CloseStandardOutput = c.CloseStandardOutput;
    const TEnded run = testing_support::RunToEnd(setup);

    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_FALSE(testing_support::HoldsTemporaries(scratch.Path()));
    if (c.Status == 0) {
        EXPECT_EQ(run.Err, "");
        if (c.Check)
            c.Check(scratch);
    } else {
        EXPECT_TRUE(testing_support::IsOneLineError(run.Err)) << "[" << run.Err << "]";
        EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
        EXPECT_EQ(testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path())),
                  std::vector<std::string>{});
    }
}

std::string LongName(std::size_t ALength, const std::string& AEnding)
{
    return std::string(ALength - AEnding.size(), 'n') + AEnding;
}

// clang-format off
const TOutputCase OutputCases[] = {
    // An output that is an input or another output, however it is named.
    {"TraceIsTheInput", {}, {"--trace", "song.wav", "--output", "out.gif"}, 2,
     "--trace 'song.wav' is the same file as --input 'song.wav'"},
    {"TraceIsTheInputSpeltAnotherWay", [](const TScratch& S) { fs::create_directory(S / "sub"); },
     {"--trace", "sub/../song.wav", "--output", "out.gif"}, 2, "is the same file as --input"},
    {"TraceIsTheInputThroughALink", [](const TScratch& S) { fs::create_symlink("song.wav", S / "link.txt"); },
     {"--trace", "link.txt", "--output", "out.gif"}, 2, "is the same file as --input"},
    {"TraceIsTheInputThroughAHardLink", [](const TScratch& S) { fs::create_hard_link(S / "song.wav", S / "hard.txt"); },
     {"--trace", "hard.txt", "--output", "out.gif"}, 2, "is the same file as --input"},
    {"OutputIsTheInput", [](const TScratch& S) { fs::copy_file(S / "song.wav", S / "song.gif"); },
     {"--output", "song.gif"}, 2, "--output 'song.gif' is the same file as --input 'song.gif'", {}, nullptr, false,
     "song.gif"},
    {"TraceIsTheOutput", [](const TScratch& S) { Write(S / "out.gif", "an earlier GIF"); },
     {"--trace", "out.gif", "--output", "out.gif"}, 2, "is the same file as --trace 'out.gif'"},
    {"TraceIsANewOutputThroughALink", [](const TScratch& S) { fs::create_symlink("out.gif", S / "link.txt"); },
     {"--trace", "link.txt", "--output", "out.gif"}, 2, "is the same file as --trace 'link.txt'"},
    {"TraceIsInsideTheOutputFolder", [](const TScratch& S) { fs::create_directory(S / "frames"); },
     {"--trace", "frames/calls.txt", "--output", "frames"}, 2, "inside the output folder 'frames'"},
    {"StandardOutputIsTheTrace", [](const TScratch& S) { Write(S / "out.ppm", "earlier frames"); },
     {"--trace", "out.ppm", "--output", "-"}, 2, "standard output is the same file as --trace 'out.ppm'", {},
     "out.ppm"},
    {"StandardOutputIsTheInput", {}, {"--output", "-"}, 2, "standard output is the same file as --input", {},
     "song.wav"},
    {"StandardOutputClosed", {}, {"--output", "-"}, 2, "cannot write to standard output", {}, nullptr, true},

    // A PNG folder that holds what the preview did not write is refused untouched.
    {"FolderHoldsAForeignFile",
     [](const TScratch& S) {
         fs::create_directory(S / "frames");
         Write(S / "frames/frame-000000.png", "an earlier frame");
         Write(S / "frames/notes.txt", "mine");
     },
     {"--output", "frames"}, 2, "it holds 'notes.txt'"},
    {"FolderHoldsAFolder",
     [](const TScratch& S) {
         fs::create_directories(S / "frames/frame-000001.png");
         Write(S / "frames/frame-000000.png", "an earlier frame");
     },
     {"--output", "frames/"}, 2, "it holds 'frame-000001.png'"},

    // A write that fails ends the run when it happens, not after a million frames; the run
    // commits none of its outputs, and earlier files stay as they were.
    {"TraceOntoAFullDevice", [](const TScratch& S) { Write(S / "out.gif", "an earlier GIF"); },
     {"--trace", "/dev/full", "--frames", "1000000", "--output", "out.gif"}, 2,
     "cannot write output '/dev/full': No space left on device"},
    {"OutputOntoAFullDevice",
     [](const TScratch& S) {
         Write(S / "calls.txt", "an earlier trace");
         fs::create_symlink("/dev/full", S / "full.gif");
     },
     {"--trace", "calls.txt", "--frames", "1000000", "--output", "full.gif"}, 2,
     "cannot write output 'full.gif': No space left on device"},

    // Devices and FIFOs are written in place; links are followed and stay.
    {"TraceOntoTheNullDevice", {}, {"--trace", "/dev/null", "--output", "out.gif"}, 0, nullptr,
     [](const TScratch& S) {
         struct stat status{};
         ASSERT_EQ(lstat("/dev/null", &status), 0);
         EXPECT_TRUE(S_ISCHR(status.st_mode));
         for (const fs::directory_entry& entry : fs::directory_iterator("/dev"))
             EXPECT_NE(entry.path().filename().string().rfind(".sv-", 0), 0u) << entry.path();
         EXPECT_TRUE(IsGifOf(S / "out.gif", 6));
     }},
    {"TraceThroughALink",
     [](const TScratch& S) {
         Write(S / "calls.txt", "an earlier trace");
         fs::create_symlink("calls.txt", S / "link.txt");
     },
     {"--trace", "link.txt", "--output", "out.gif"}, 0, nullptr,
     [](const TScratch& S) {
         EXPECT_TRUE(fs::is_symlink(S / "link.txt"));
         EXPECT_EQ(fs::read_symlink(S / "link.txt"), "calls.txt");
         EXPECT_TRUE(StartsWithTrace(testing_support::ReadBytes(S / "calls.txt")));
     }},
    {"TraceThroughADanglingLink", [](const TScratch& S) { fs::create_symlink("made.txt", S / "link.txt"); },
     {"--trace", "link.txt", "--output", "out.gif"}, 0, nullptr,
     [](const TScratch& S) {
         EXPECT_TRUE(fs::is_symlink(S / "link.txt"));
         EXPECT_TRUE(StartsWithTrace(testing_support::ReadBytes(S / "made.txt")));
     }},
    {"FolderThroughALink",
     [](const TScratch& S) {
         fs::create_directory(S / "real");
         for (const std::string& name : FrameNames(9))
             Write(S / ("real/" + name), "an earlier frame");
         fs::create_directory_symlink("real", S / "frames");
     },
     {"--output", "frames"}, 0, nullptr,
     [](const TScratch& S) {
         EXPECT_TRUE(fs::is_symlink(S / "frames"));
         EXPECT_EQ(FramesIn(S / "real"), FrameNames(6));
     }},

    // Outputs replace earlier ones whole: a shorter run leaves no frame of a longer one.
    {"ShorterRunIntoAFolder",
     [](const TScratch& S) {
         fs::create_directory(S / "frames");
         for (const std::string& name : FrameNames(10))
             Write(S / ("frames/" + name), "an earlier frame");
     },
     {"--output", "frames"}, 0, nullptr,
     [](const TScratch& S) {
         EXPECT_EQ(FramesIn(S / "frames"), FrameNames(6));
         EXPECT_EQ(testing_support::ReadPng(S / "frames/frame-000005.png").Width, 16);
     }},
    {"ReplacedFilesKeepTheirPermissions",
     [](const TScratch& S) {
         Write(S / "out.gif", "an earlier GIF");
         Write(S / "calls.txt", "an earlier trace");
         fs::permissions(S / "calls.txt", fs::perms::owner_read | fs::perms::owner_write);
     },
     {"--trace", "calls.txt", "--output", "out.gif"}, 0, nullptr,
     [](const TScratch& S) {
         EXPECT_TRUE(IsGifOf(S / "out.gif", 6));
         EXPECT_TRUE(StartsWithTrace(testing_support::ReadBytes(S / "calls.txt")));
         EXPECT_EQ(fs::status(S / "calls.txt").permissions(), fs::perms::owner_read | fs::perms::owner_write);
     }},

    // Names up to the file-name limit: the temporaries do not grow them past it.
    {"NamesOfTheLongestLength", {}, {"--trace", LongName(255, ".txt"), "--output", LongName(255, ".gif")}, 0, nullptr,
     [](const TScratch& S) {
         EXPECT_TRUE(IsGifOf(S / LongName(255, ".gif"), 6));
         EXPECT_TRUE(StartsWithTrace(testing_support::ReadBytes(S / LongName(255, ".txt"))));
     }},
    {"FolderOfTheLongestName", {}, {"--output", LongName(255, "")}, 0, nullptr,
     [](const TScratch& S) { EXPECT_EQ(FramesIn(S / LongName(255, "")), FrameNames(6)); }},

    // With standard output closed, no output takes its descriptor.
    {"StandardOutputClosedWithTrace", {}, {"--trace", "calls.txt", "--output", "out.gif"}, 0, nullptr,
     [](const TScratch& S) {
         EXPECT_TRUE(IsGifOf(S / "out.gif", 6));
         EXPECT_TRUE(StartsWithTrace(testing_support::ReadBytes(S / "calls.txt")));
     },
     nullptr, true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, OutputRun, ::testing::ValuesIn(OutputCases),
                         [](const ::testing::TestParamInfo<TOutputCase>& AInfo) { return AInfo.param.Name; });

// The temporary prefixes of runs in every state a later run may find them in.
struct TPrefixes {
    std::string Dead;       // a process of this boot and namespace that has ended
    std::string Live;       // this test's own process
    std::string ReusedPid;  // this process's pid with another start: an ended run's
    std::string OtherBoot;  // a dead run's, but of another boot (or machine)
    std::string OtherSpace; // a dead run's, but of another pid namespace
};

// APrefix (".sv-PID-START-NAMESPACE-BOOT-") with its part AIndex (0 for the pid) replaced.
std::string WithPart(const std::string& APrefix, int AIndex, const std::string& AValue)
{
    std::vector<std::string> parts;
    std::size_t begin = 4;
    for (std::size_t dash; (dash = APrefix.find('-', begin)) != std::string::npos; begin = dash + 1)
        parts.push_back(APrefix.substr(begin, dash - begin));
    parts.at(static_cast<std::size_t>(AIndex)) = AValue;
    std::string prefix = ".sv-";
    for (const std::string& part : parts)
        prefix += part + "-";
    return prefix;
}

TPrefixes MakePrefixes()
{
    TPrefixes prefixes;
    prefixes.Live = output::RunTemporaryPrefix();
    int channel[2];
    if (prefixes.Live.empty() || pipe(channel) != 0)
        return prefixes;
    const pid_t child = fork();
    if (child == 0) {
        const std::string own = output::RunTemporaryPrefix();
        _exit(write(channel[1], own.data(), own.size()) == static_cast<ssize_t>(own.size()) ? 0 : 1);
    }
    close(channel[1]);
    char buffer[256];
    const ssize_t got = child > 0 ? read(channel[0], buffer, sizeof buffer) : -1;
    close(channel[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    if (got <= 0)
        return prefixes;
    prefixes.Dead.assign(buffer, static_cast<std::size_t>(got));
    const std::string start = prefixes.Live.substr(prefixes.Live.find('-', 4) + 1);
    prefixes.ReusedPid = WithPart(prefixes.Live, 1, std::to_string(std::stoull(start) + 1));
    const bool zeros = prefixes.Dead.find("-0000000000000000-") != std::string::npos;
    prefixes.OtherBoot = WithPart(prefixes.Dead, 3, zeros ? "1111111111111111" : "0000000000000000");
    prefixes.OtherSpace = WithPart(prefixes.Dead, 2, "1");
    return prefixes;
}

void MakeFrames(const std::string& AFolder)
{
    fs::create_directories(AFolder);
    for (const std::string& name : FrameNames(3))
        Write(AFolder + "/" + name, "a frame");
}

// What earlier runs left beside an output, and what a new run writing there removes: only
// what is verifiably an ended run's own temporary.
struct TRemnantCase {
    const char* Name;
    std::function<void(const TScratch&, const TPrefixes&)> Prepare;
    // Entries of the scratch folder that the run removes: "DEAD" stands for the ended run's
    // folder or file (its prefix and "Ab12Cd"), "REUSED" for that of the run whose pid is reused.
    std::vector<std::string> Removed;
};

std::string Resolved(const std::string& AName, const TPrefixes& APrefixes)
{
    if (AName == "DEAD")
        return APrefixes.Dead + "Ab12Cd";
    if (AName == "REUSED")
        return APrefixes.ReusedPid + "Ab12Cd";
    return AName;
}

void PrintTo(const TRemnantCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class RemnantsBesideAnOutput : public ::testing::TestWithParam<TRemnantCase> {};

TEST_P(RemnantsBesideAnOutput, AreRemovedOnlyWhenTheirRunHasEnded)
{
    if (!Module)
        FAIL() << "cannot run: the module is not part of this build";
    const TPrefixes prefixes = MakePrefixes();
    ASSERT_FALSE(prefixes.Dead.empty()) << "this system does not name its runs";
    const TRemnantCase& c = GetParam();
    TScratch scratch;
    c.Prepare(scratch, prefixes);
    if (IsSkipped() || HasFatalFailure())
        return;
    std::vector<std::string> removedNames;
    for (const std::string& name : c.Removed)
        removedNames.push_back(Resolved(name, prefixes));
    const testing_support::TTree before = testing_support::LookAt(scratch.Path());

    TChildSetup setup;
    setup.Args = {"--module", Module, "--size", "16x12", "--frames", "2", "--output", "out.gif"};
    setup.WorkingDir = scratch.Path();
    const TEnded run = testing_support::RunToEnd(setup);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");

    for (const std::string& difference :
         testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path()))) {
        const bool removed = std::any_of(removedNames.begin(), removedNames.end(), [&](const std::string& AName) {
            return difference == AName + ": gone" || difference.rfind(AName + "/", 0) == 0;
        });
        if (!removed) {
            EXPECT_EQ(difference, "out.gif: new") << "touched what is not an ended run's";
        }
    }
    for (const std::string& name : removedNames)
        EXPECT_FALSE(fs::exists(fs::symlink_status(scratch / name))) << name << " stays";
    EXPECT_TRUE(IsGifOf(scratch / "out.gif", 2));
}

// clang-format off
const TRemnantCase RemnantCases[] = {
    {"FolderOfAnEndedRun", [](const TScratch& S, const TPrefixes& P) { MakeFrames(S / (P.Dead + "Ab12Cd")); },
     {"DEAD"}},
    {"FileOfAnEndedRun", [](const TScratch& S, const TPrefixes& P) { Write(S / (P.Dead + "Ab12Cd"), "half a GIF"); },
     {"DEAD"}},
    {"FolderOfARunWhosePidIsReused",
     [](const TScratch& S, const TPrefixes& P) { MakeFrames(S / (P.ReusedPid + "Ab12Cd")); }, {"REUSED"}},
    {"FolderAndFileOfALiveRun",
     [](const TScratch& S, const TPrefixes& P) {
         MakeFrames(S / (P.Live + "Ab12Cd"));
         Write(S / (P.Live + "Ef34Gh"), "half a GIF");
     }, {}},
    {"FolderOfAnotherBoot", [](const TScratch& S, const TPrefixes& P) { MakeFrames(S / (P.OtherBoot + "Ab12Cd")); },
     {}},
    {"FolderOfAnotherPidNamespace",
     [](const TScratch& S, const TPrefixes& P) { MakeFrames(S / (P.OtherSpace + "Ab12Cd")); }, {}},
    {"EndedRunsFolderHoldingAFileOfItsUser",
     [](const TScratch& S, const TPrefixes& P) {
         MakeFrames(S / (P.Dead + "Ab12Cd"));
         Write(S / (P.Dead + "Ab12Cd/notes.txt"), "mine");
     }, {}},
    {"NamesThatOnlyLookAlike",
     [](const TScratch& S, const TPrefixes& P) {
         MakeFrames(S / (P.Dead + "Ab12Cd7"));
         MakeFrames(S / (P.Dead + "Ab12C"));
         Write(S / (P.Dead + "Ab12C!"), "not a unique ending");
         Write(S / (P.Dead + "Ab12Cd.png"), "a picture");
         MakeFrames(S / ".sv-Ab12Cd");
         MakeFrames(S / (".sv-x" + P.Dead.substr(4) + "Ab12Cd"));
     }, {}},
    {"LinkNamedAsAnEndedRuns",
     [](const TScratch& S, const TPrefixes& P) {
         MakeFrames(S / "real");
         fs::create_directory_symlink("real", S / (P.Dead + "Ab12Cd"));
     }, {}},
    {"FolderOfAnotherUser",
     [](const TScratch& S, const TPrefixes& P) {
         const std::string folder = S / (P.Dead + "Ab12Cd");
         MakeFrames(folder);
         if (geteuid() == 0) {
             ASSERT_EQ(chown(folder.c_str(), 54321, 54321), 0);
         } else {
             GTEST_SKIP() << "only root can give a folder to another user";
         }
     }, {}},
    {"EndedRunsFolderInAnotherFolder",
     [](const TScratch& S, const TPrefixes& P) { MakeFrames(S / ("sub/" + P.Dead + "Ab12Cd")); }, {}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, RemnantsBesideAnOutput, ::testing::ValuesIn(RemnantCases),
                         [](const ::testing::TestParamInfo<TRemnantCase>& AInfo) { return AInfo.param.Name; });

// A FIFO as the trace: written in place while a reader takes it, and still a FIFO afterwards.
TEST(OutputRunFifo, TraceIntoAFifoIsWrittenInPlace)
{
    if (!Module)
        FAIL() << "cannot run: the module is not part of this build";
    TScratch scratch;
    MakeSong(scratch / "song.wav");
    const std::string fifo = scratch / "calls.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened for reading and writing, so that neither side waits for the other to open.
    const int reader = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    // Everything up to a zero byte of our own, written once the run has ended; a trace holds none.
    std::string received;
    std::thread drain([&] {
        char buffer[65536];
        for (ssize_t got;
             (received.empty() || received.back() != '\0') && (got = read(reader, buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<std::size_t>(got));
    });
    TChildSetup setup;
    setup.Args = {"--module", Module,    "--input",    "song.wav", "--size",
                  "16x12",    "--trace", "calls.fifo", "--output", "out.gif"};
    setup.WorkingDir = scratch.Path();
    const TEnded run = testing_support::RunToEnd(setup);
    const char end = 0;
    ASSERT_EQ(write(reader, &end, 1), 1);
    drain.join();
    close(reader);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(StartsWithTrace(received));
    EXPECT_NE(received.find("\nframe 5\n"), std::string::npos);
    EXPECT_FALSE(testing_support::HoldsTemporaries(scratch.Path()));
}

// Outputs moved into place together: when a later one cannot be placed, the earlier ones are put
// back, and every file is as it was.
TEST(CommitTogether, ALaterFailureRestoresTheEarlierOutputs)
{
    struct TCase {
        const char* Name;
        bool Folder;
        bool Existing;
    } const cases[] = {
        {"a new file", false, false},
        {"a file that existed", false, true},
        {"a new folder", true, false},
        {"a folder that existed", true, true},
    };
    for (const TCase& c : cases) {
        TScratch scratch;
        if (c.Existing && c.Folder) {
            fs::create_directory(scratch / "first");
            Write(scratch / "first/frame-000000.png", "an earlier frame");
            Write(scratch / "first/frame-000001.png", "another");
        } else if (c.Existing) {
            Write(scratch / "first", "an earlier output");
        }
        const testing_support::TTree before = testing_support::LookAt(scratch.Path());
        {
            std::unique_ptr<output::TStagedOutput> first;
            if (c.Folder) {
                auto folder =
                    std::make_unique<output::TAtomicFolder>(scratch / "first", [](std::string_view) { return true; });
                Write(folder->FramePath(0), "a new frame");
                folder->Finish();
                first = std::move(folder);
            } else {
                auto file = std::make_unique<output::TAtomicFile>(scratch / "first");
                std::fputs("a new output", file->Stream());
                file->Finish();
                first = std::move(file);
            }
            output::TAtomicFile second(scratch / "second");
            std::fputs("the second output", second.Stream());
            second.Finish();
            // The second target turns into a folder during the run: it cannot be replaced.
            fs::create_directory(scratch / "second");
            EXPECT_THROW(output::CommitTogether({first.get(), &second}), common::EToolError) << c.Name;
            fs::remove(scratch / "second");
            // Only the temporaries are new, still to be removed.
            for (const std::string& difference :
                 testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path())))
                EXPECT_TRUE(difference.rfind(".sv-", 0) == 0 && difference.find(": new") != std::string::npos)
                    << c.Name << ": " << difference;
        }
        EXPECT_EQ(testing_support::DifferencesBetween(before, testing_support::LookAt(scratch.Path())),
                  std::vector<std::string>{})
            << c.Name;
    }
}

// What the handler of an ending signal does, short of leaving: the recorded temporaries, frames
// and folder included, are gone; nothing else is touched.
TEST(EndingSignal, RemovesEveryRecordedTemporaryAndNothingElse)
{
    TScratch scratch;
    Write(scratch / "kept.txt", "not ours");
    {
        output::TAtomicFolder folder(scratch / "frames", [](std::string_view) { return true; });
        for (int frame = 0; frame < 3; ++frame)
            Write(folder.FramePath(frame), "a frame");
        output::TAtomicFile file(scratch / "out.gif");
        std::fputs("half", file.Stream());
        std::fflush(file.Stream());
        EXPECT_TRUE(testing_support::HoldsTemporaries(scratch.Path()));
        output::RemoveRecordedTemporaries();
        EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"kept.txt"});
    }
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"kept.txt"});
}

TEST(EndingSignal, FrameNamesMatchThoseOfTheWriter)
{
    for (const std::int64_t frame : {0LL, 7LL, 999999LL, 1000000LL, 9999999LL}) {
        char expected[32], formatted[32];
        std::snprintf(expected, sizeof expected, "frame-%06lld.png", static_cast<long long>(frame));
        const int length = output::FormatFrameName(frame, formatted);
        EXPECT_STREQ(formatted, expected);
        EXPECT_EQ(length, static_cast<int>(std::string(expected).size()));
    }
}

} // namespace
