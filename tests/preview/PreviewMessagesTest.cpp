// What selvanore-preview says and leaves when it refuses: one line that quotes what was typed,
// status 2, nothing written and the inputs untouched. The length of an input is what decodes,
// whatever its header claims, and a size whose buffers cannot be had is refused up front.
#include "tests/support/PreviewTestSupport.h"

#include "tools/preview/MemoryBudget.h"
#include "tools/preview/Options.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

using testing_support::RunPreview;
using testing_support::RunPreviewWith;
using testing_support::TChildSetup;
using testing_support::TRun;
using testing_support::TRunSetup;
using testing_support::TScratch;
using testing_support::TStdout;

namespace {

namespace fs = std::filesystem;

const char* const Module = testing_support::ModuleUnderTest;

constexpr std::uint64_t MiB = std::uint64_t{1} << 20;

double Tone(int AChannel, std::int64_t AIndex, int ARate)
{
    const double t = static_cast<double>(AIndex) / ARate;
    return 0.5 * std::sin(2 * 3.141592653589793 * (AChannel == 0 ? 440.0 : 220.0) * t);
}

// Three seconds of stereo tone in one of libsndfile's encoded formats.
void WriteTone(const std::string& APath, int AFormat, int ARate)
{
    testing_support::WriteSound(APath, AFormat, ARate, 2, 3 * static_cast<std::int64_t>(ARate),
                                [ARate](int AChannel, std::int64_t AIndex) { return Tone(AChannel, AIndex, ARate); });
}

// Keeps the first AFraction of APath's bytes, as a download or copy cut short would.
void CutShort(const std::string& APath, double AFraction)
{
    fs::resize_file(APath, static_cast<std::uintmax_t>(static_cast<double>(fs::file_size(APath)) * AFraction));
}

// Overwrites ACount bytes from AOffset with zeros: a stretch of the file lost.
void Blank(const std::string& APath, std::size_t AOffset, std::size_t ACount)
{
    std::string bytes = testing_support::ReadBytes(APath);
    bytes.replace(AOffset, ACount, ACount, '\0');
    std::ofstream(APath, std::ios::binary | std::ios::trunc) << bytes;
}

// Every plain file in AFolder with its bytes, to show that a run left them as they were.
std::map<std::string, std::string> Contents(const fs::path& AFolder)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(AFolder))
        if (entry.symlink_status().type() == fs::file_type::regular)
            files[entry.path().string()] = testing_support::ReadBytes(entry.path().string());
    return files;
}

// A file whose path is longer than the system takes (PATH_MAX, 4096 bytes) in folders whose
// names are each short enough: it exists, but no call can name it by that path. Made and removed
// one folder at a time, through descriptors.
class TDeepFile {
public:
    TDeepFile(const fs::path& AParent, const std::string& AContent)
    {
        const std::string name(200, 'd');
        FFolders.push_back(open(AParent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        FPath = AParent.string();
        while (FPath.size() < 4200 && FFolders.back() >= 0) {
            if (mkdirat(FFolders.back(), name.c_str(), 0755) != 0)
                break;
            FFolders.push_back(openat(FFolders.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            FPath += "/" + name;
        }
        const int file = FFolders.back() >= 0 ? openat(FFolders.back(), "song.wav", O_WRONLY | O_CREAT, 0644) : -1;
        FMade = file >= 0 && write(file, AContent.data(), AContent.size()) == static_cast<ssize_t>(AContent.size());
        if (file >= 0)
            close(file);
        FPath += "/song.wav";
    }

    ~TDeepFile()
    {
        const std::string name(200, 'd');
        if (!FFolders.empty() && FFolders.back() >= 0)
            unlinkat(FFolders.back(), "song.wav", 0);
        for (std::size_t i = FFolders.size(); i-- > 0;) {
            if (i + 1 < FFolders.size() && FFolders[i] >= 0)
                unlinkat(FFolders[i], name.c_str(), AT_REMOVEDIR);
            if (FFolders[i] >= 0)
                close(FFolders[i]);
        }
    }
    TDeepFile(const TDeepFile&) = delete;
    TDeepFile& operator=(const TDeepFile&) = delete;

    bool Made() const noexcept { return FMade; }
    const std::string& Path() const noexcept { return FPath; }

private:
    std::vector<int> FFolders; // the parent, then each folder made in it, innermost last
    std::string FPath;
    bool FMade = false;
};

// The inputs every case of a suite reads: a WAV, an MP3 with a lost stretch that its decoder
// cannot get past, a FLAC file cut short, a link loop, and a file at the end of a path too long
// to name.
class TInputs {
public:
    TInputs()
    {
        testing_support::WriteWav(FScratch / "song.wav", 8000, 2, 8000,
                                  [](int AChannel, std::int64_t AIndex) { return Tone(AChannel, AIndex, 8000); });
        WriteTone(FScratch / "damaged.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100);
        // Past 1024 bytes of nothing the MP3 decoder gives up looking for the next frame.
        Blank(FScratch / "damaged.mp3", 4000, 2000);
        // FLAC's length comes from its header; the decoder loses its way where the file ends.
        WriteTone(FScratch / "cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000);
        CutShort(FScratch / "cut.flac", 0.5);
        fs::create_symlink("loop-b", FScratch / "loop-a");
        fs::create_symlink("loop-a", FScratch / "loop-b");
        FDeep = std::make_unique<TDeepFile>(FScratch.Path(), testing_support::ReadBytes(FScratch / "song.wav"));
    }

    const fs::path& Folder() const noexcept { return FScratch.Path(); }
    const TDeepFile& Deep() const noexcept { return *FDeep; }

private:
    TScratch FScratch;
    std::unique_ptr<TDeepFile> FDeep; // removed before the scratch folder
};

// Replaces "{in}" in AText by the inputs' folder and "{deep}" by the deep file's path.
std::string Expand(std::string AText, const TInputs& AInputs)
{
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{in}", AInputs.Folder().string()},
                                     std::pair<std::string, std::string>{"{deep}", AInputs.Deep().Path()}}) {
        for (std::size_t at; (at = AText.find(key)) != std::string::npos;)
            AText.replace(at, key.size(), value);
    }
    return AText;
}

// How much of the message a case knows: all of it, or how it starts (the rest is a library's).
enum class TMatch { Whole, Start };

// A run refused with status 2, the one line ALine (or a line that starts with it), nothing on
// standard output and nothing left in the working folder.
void ExpectRefused(const TRun& ARun, const TScratch& AWork, const std::string& ALine, TMatch AMatch = TMatch::Whole)
{
    EXPECT_EQ(ARun.Status, 2) << ARun.Err;
    const std::string prefix = "selvanore-preview: " + ALine;
    if (AMatch == TMatch::Whole) {
        EXPECT_EQ(ARun.Err, prefix + "\n");
    } else {
        EXPECT_EQ(ARun.Err.compare(0, prefix.size(), prefix), 0) << ARun.Err;
        EXPECT_EQ(std::count(ARun.Err.begin(), ARun.Err.end(), '\n'), 1) << ARun.Err;
        EXPECT_EQ(ARun.Err.back(), '\n');
    }
    EXPECT_TRUE(ARun.Out.empty());
    EXPECT_EQ(AWork.Entries(), std::vector<std::string>{});
}

// Failures name a table's case rather than dump its bytes.
// This clang-format cannot lay out a requires clause.
// clang-format off
template <typename TCase>
    requires requires(const TCase& ACase) { std::string(ACase.Name); }
// clang-format on
void PrintTo(const TCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

// ---- Messages: what was typed, quoted; the reason a path cannot be opened; one line ----

struct TMessageCase {
    const char* Name;
    std::vector<std::string> Args; // "{in}" and "{deep}" expanded
    TStdout Stdout;
    std::string Line; // the whole message, expanded likewise
    TMatch Match = TMatch::Whole;
};

class PreviewMessages : public ::testing::TestWithParam<TMessageCase> {
protected:
    static void SetUpTestSuite() { FInputs = std::make_unique<TInputs>(); }
    static void TearDownTestSuite() { FInputs.reset(); }

    static std::unique_ptr<TInputs> FInputs;
};

std::unique_ptr<TInputs> PreviewMessages::FInputs;

TEST_P(PreviewMessages, AreOneLineThatQuotesTheInputAndLeaveEverythingAsItWas)
{
    const TMessageCase& c = GetParam();
    ASSERT_TRUE(FInputs->Deep().Made()) << "cannot make the file under a long path: " << FInputs->Deep().Path().size();
    const std::map<std::string, std::string> before = Contents(FInputs->Folder());
    ASSERT_EQ(before.size(), 3u); // song.wav, damaged.mp3, cut.flac (the deep file lies past what can be named)

    TScratch work;
    std::vector<std::string> args;
    if (Module)
        args = {"--module", Module};
    for (const std::string& arg : c.Args)
        args.push_back(Expand(arg, *FInputs));
    TRunSetup setup;
    setup.Stdout = c.Stdout;
    const TRun run = RunPreviewWith(setup, args, work.Path());
    ExpectRefused(run, work, Expand(c.Line, *FInputs), c.Match);
    EXPECT_EQ(Contents(FInputs->Folder()), before);
}

// clang-format off
const TMessageCase MessageCases[] = {
    {"FpsPastTheRangeOfAnyInteger", {"--fps", "99999999999999999999"}, TStdout::Captured,
     "--fps must be a whole number from 1 to 1000, not '99999999999999999999'"},
    {"FpsInHex", {"--fps", "0x1E"}, TStdout::Captured, "--fps must be a whole number from 1 to 1000, not '0x1E'"},
    {"SecondsTooFewForAFrame", {"--seconds", "1e-300"}, TStdout::Captured,
     "--seconds must be a positive number of seconds up to 333333.333 (10000000 frames at 30 per second), not "
     "'1e-300'"},
    {"SecondsWithAComma", {"--seconds", "2,5"}, TStdout::Captured,
     "--seconds must be a positive number of seconds up to 333333.333 (10000000 frames at 30 per second), not '2,5'"},
    {"SecondsNotFinite", {"--seconds", "inf"}, TStdout::Captured,
     "--seconds must be a positive number of seconds up to 333333.333 (10000000 frames at 30 per second), not 'inf'"},

    // Every limit is stated where it is refused.
    {"SecondsPastTheLimit", {"--seconds", "1e6"}, TStdout::Captured,
     "--seconds must be a positive number of seconds up to 333333.333 (10000000 frames at 30 per second), not '1e6'"},
    {"SecondsPastTheLimitAtAThousandFrames", {"--fps", "1000", "--seconds", "10000.5", "--output", "frames"},
     TStdout::Captured,
     "--seconds must be a positive number of seconds up to 10000 (10000000 frames at 1000 per second), not "
     "'10000.5'"},
    {"FramePastTheLimit", {"--output", "one.png", "--frame", "99999999999999999999"}, TStdout::Captured,
     "--frame must be a whole number from 0 to 9999999, not '99999999999999999999'"},
    {"FrameOneTooFar", {"--output", "one.png", "--frame", "10000000"}, TStdout::Captured,
     "--frame must be a whole number from 0 to 9999999, not '10000000'"},
    {"FpsPastTheLimit", {"--fps", "1001"}, TStdout::Captured, "--fps must be a whole number from 1 to 1000, not '1001'"},
    {"SizePastTheLimit", {"--size", "8193x10"}, TStdout::Captured,
     "--size must be WIDTHxHEIGHT with each side from 1 to 8192 pixels, not '8193x10'"},

    // Names are shown escaped, whatever bytes they hold: a name cannot act on the terminal or
    // break the line.
    {"InputWithATerminalEscape", {"--input", "{in}/\x1b[31mred\n.wav"}, TStdout::Captured,
     "cannot open input '{in}/\\x1b[31mred\\n.wav': no such file"},
    {"InputNotUtf8", {"--input", "{in}/bad\xff.wav"}, TStdout::Captured,
     "cannot open input '{in}/bad\\xff.wav': no such file"},
    {"OutputWithATitleEscape", {"--output", "no/such/\x1b]0;owned\x07.gif"}, TStdout::Captured,
     "cannot write output 'no/such/\\x1b]0;owned\\x07.gif': No such file or directory"},
    {"OutputWithANewline", {"--output", "x\ny.xyz"}, TStdout::Captured,
     "cannot tell the format of --output 'x\\ny.xyz': use NAME.gif, NAME.mp4, NAME.webm, NAME.mkv, NAME.png with "
     "--frame, a folder, or - for standard output"},
    {"TraceNotUtf8", {"--trace", "nodir/\xc3(.txt", "--size", "16x12", "--output", "out.gif"}, TStdout::Captured,
     "cannot write output 'nodir/\\xc3(.txt': No such file or directory"},
    {"FramesPastTheLimit", {"--frames", "10000001"}, TStdout::Captured,
     "--frames must be a whole number from 1 to 10000000, not '10000001'"},
    {"FramesWithAUnit", {"--frames", "12f"}, TStdout::Captured,
     "--frames must be a whole number from 1 to 10000000, not '12f'"},
    {"FrameNegative", {"--output", "one.png", "--frame", "-1"}, TStdout::Captured,
     "--frame must be a whole number from 0 to 9999999, not '-1'"},
    {"InputNamedEmpty", {"--input", ""}, TStdout::Captured,
     "--input must name a file (leave it out for the built-in signal)"},
    {"InputPathTooLong", {"--input", "{deep}"}, TStdout::Captured, "cannot open input '{deep}': File name too long"},
    {"InputBehindAFile", {"--input", "{in}/song.wav/inner.wav"}, TStdout::Captured,
     "cannot open input '{in}/song.wav/inner.wav': Not a directory"},
    {"InputInALoopOfLinks", {"--input", "{in}/loop-a"}, TStdout::Captured,
     "cannot open input '{in}/loop-a': Too many levels of symbolic links"},
    {"InputMissing", {"--input", "{in}/nowhere.wav"}, TStdout::Captured,
     "cannot open input '{in}/nowhere.wav': no such file"},
    // The decoder's own words ("flac decoder lost sync") tell the user less than where it broke.
    {"Mp3WhoseDecoderGivesUp", {"--input", "{in}/damaged.mp3", "--size", "16x12", "--output", "out.gif"},
     TStdout::Captured, "cannot decode input '{in}/damaged.mp3': the file is damaged or cut short after ",
     TMatch::Start},
    {"FlacCutShort", {"--input", "{in}/cut.flac", "--size", "16x12", "--fps", "8", "--output", "out.gif"},
     TStdout::Captured, "cannot decode input '{in}/cut.flac': the file is damaged or cut short after 12000 samples "
     "(1.500 s)"},
    {"GifFasterThanItsDelaysGo", {"--input", "{in}/song.wav", "--fps", "51", "--output", "fast.gif"},
     TStdout::Captured,
     "--fps '51' is too fast for a GIF, which shows at most 50 frames per second (its delays are in hundredths "
     "of a second): use --fps 50 or less, or write PNG frames or the stream"},
    {"GifAtAThousandFrames", {"--fps", "1000", "--output", "fast.gif"}, TStdout::Captured,
     "--fps '1000' is too fast for a GIF, which shows at most 50 frames per second (its delays are in "
     "hundredths of a second): use --fps 50 or less, or write PNG frames or the stream"},
    {"HelpIntoAFullDisk", {"--help"}, TStdout::Full, "cannot write the help: No space left on device"},
    {"HelpIntoAClosedOutput", {"--help"}, TStdout::Closed, "cannot write the help: Bad file descriptor"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, PreviewMessages, ::testing::ValuesIn(MessageCases),
                         [](const ::testing::TestParamInfo<TMessageCase>& AInfo) { return AInfo.param.Name; });

// A rate that no sound card or encoder takes is refused before anything is written, and --help
// says which rates are taken.
TEST(PreviewRates, OnlyRatesASoundCardTakesAreDrawn)
{
    ASSERT_NE(Module, nullptr) << "the module is not part of this build, so nothing can be drawn";
    struct TCase {
        int Rate;
        bool Refused;
    } const cases[] = {{1, true}, {999, true}, {1000, false}, {384000, false}, {384001, true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Rate) + " Hz");
        TScratch in, work;
        testing_support::WriteWav(in / "song.wav", c.Rate, 2, std::max(4, c.Rate / 5),
                                  [&](int AChannel, std::int64_t AIndex) { return Tone(AChannel, AIndex, c.Rate); });
        const TRun run = RunPreview(
            {"--module", Module, "--input", in / "song.wav", "--size", "16x12", "--fps", "10", "--output", "out.gif"},
            work.Path());
        if (c.Refused) {
            ExpectRefused(run, work,
                          "input '" + in / "song.wav" + "' is sampled at " + std::to_string(c.Rate) +
                              " Hz: the rate must be from 1000 to 384000 Hz");
        } else {
            EXPECT_EQ(run.Status, 0) << run.Err;
            EXPECT_EQ(work.Entries(), std::vector<std::string>{"out.gif"});
        }
    }
    TScratch work;
    const TRun help = RunPreview({"--help"}, work.Path());
    EXPECT_NE(help.Out.find("sampled at 1000 to 384000 Hz"), std::string::npos) << help.Out;
}

// A module's name is escaped, and the loader's reason does not repeat it raw.
TEST(PreviewMessagesOfModules, ShowTheNameEscapedOnce)
{
    TScratch work;
    const TRun run = RunPreview({"--module", "\x1b[2Jgone\n.so"}, work.Path());
    ExpectRefused(run, work,
                  "cannot load module '\\x1b[2Jgone\\n.so': cannot open shared object file: No such file or directory");
}

// The live player's refusals: its limits stated, its names escaped, nothing left behind.
TEST(PlayMessages, StateTheLimitAndShowNamesEscaped)
{
#ifndef PREVIEW_PLAY_PROGRAM
    GTEST_SKIP() << "the live player is not part of this build";
#else
    struct TCase {
        const char* Name;
        std::vector<std::string> Args;
        std::string Line;
    } const cases[] = {
        {"SecondsPastAWeek",
         {"--seconds", "1e6"},
         "--seconds must be a positive number of seconds up to 604800 (a week), not '1e6'"},
        {"SecondsNotANumber",
         {"--seconds", "soon"},
         "--seconds must be a positive number of seconds up to 604800 (a week), not 'soon'"},
        {"FpsPastTheLimit", {"--fps", "1001"}, "--fps must be a whole number from 1 to 1000, not '1001'"},
        {"SizePastTheLimit",
         {"--size", "0x480"},
         "--size must be WIDTHxHEIGHT with each side from 1 to 8192 pixels, not '0x480'"},
        {"FileWithATerminalEscape", {"\x1b[31m\n.wav"}, "cannot open input '\\x1b[31m\\n.wav': no such file"},
        {"ReportWithANewline",
         {"--report", "nodir/\n\xff.json"},
         "cannot write output 'nodir/\\n\\xff.json': No such file or directory"},
    };
    for (const TCase& c : cases) {
        TScratch work;
        TChildSetup setup;
        setup.Program = PREVIEW_PLAY_PROGRAM;
        setup.Args = {"--module", Module ? Module : "none.so"};
        setup.Args.insert(setup.Args.end(), c.Args.begin(), c.Args.end());
        setup.WorkingDir = work.Path();
        setup.Environment = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
        const testing_support::TEnded run = testing_support::RunToEnd(setup);
        EXPECT_EQ(run.Status, 2) << c.Name << ": " << run.Err;
        EXPECT_EQ(run.Err, "selvanore-play: " + c.Line + "\n") << c.Name;
        EXPECT_EQ(work.Entries(), std::vector<std::string>{}) << c.Name;
    }
#endif
}

TEST(PreviewOptions, NumbersAreDecimalWithBlanksAndSignAllowed)
{
    struct TCase {
        const char* Fps;
        std::int32_t Value;
    } const cases[] = {{"30", 30}, {"010", 10}, {" 24 ", 24}, {"+25", 25}, {"1000", 1000}};
    for (const TCase& c : cases) {
        const char* argv[] = {"selvanore-preview", "--fps", c.Fps, "--output", "frames"};
        std::ostringstream help;
        const std::optional<preview::TOptions> options = preview::ParseOptions(5, argv, {"m.so", "", ""}, help);
        ASSERT_TRUE(options) << c.Fps;
        EXPECT_EQ(options->Fps, c.Value) << c.Fps;
    }
}

// ---- Lengths: what decodes, not what a header claims ----

struct TLengthCase {
    const char* Name;
    int Format;
    int Rate;
    double Cut;                      // the share of the bytes kept; 1: the whole file
    std::size_t BlankAt, BlankCount; // a stretch lost in the middle; 0 bytes: none
};

class PreviewLengths : public ::testing::TestWithParam<TLengthCase> {};

TEST_P(PreviewLengths, TheRunDrawsTheFramesOfWhatDecodesAndSaysNothing)
{
    const TLengthCase& c = GetParam();
    ASSERT_NE(Module, nullptr) << "the module is not part of this build, so nothing can be drawn";
    TScratch scratch;
    const std::string input = scratch / c.Name;
    WriteTone(input, c.Format, c.Rate);
    if (c.Cut < 1)
        CutShort(input, c.Cut);
    if (c.BlankCount > 0)
        Blank(input, c.BlankAt, c.BlankCount);
    const std::string bytes = testing_support::ReadBytes(input);

    const std::int64_t decoded = testing_support::DecodedLength(input);
    const std::int64_t claimed = testing_support::ClaimedLength(input);
    ASSERT_GT(decoded, 0);
    if (c.Cut < 1 || c.BlankCount > 0) {
        ASSERT_NE(claimed, decoded) << "the damaged file no longer misleads libsndfile about its length";
    }

    const int fps = 10;
    const TRun run = RunPreview(
        {"--module", Module, "--input", input, "--fps", std::to_string(fps), "--size", "16x12", "--output", "frames"},
        scratch.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, ""); // the decoder's own notes stay out of it
    const std::int64_t frames = (decoded * fps + c.Rate - 1) / c.Rate;
    const auto written = std::distance(fs::directory_iterator(scratch / "frames"), fs::directory_iterator());
    EXPECT_EQ(written, frames) << "decoded " << decoded << " of a claimed " << claimed;
    EXPECT_EQ(testing_support::ReadBytes(input), bytes);
}

// clang-format off
const TLengthCase LengthCases[] = {
    {"whole.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, 0, 0},
    {"cut.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 0.7, 0, 0},     // claims the largest count there is
    {"cut.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 0.5, 0, 0},      // likewise
    {"cut.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 0.4, 0, 0}, // claims its header's 3 s
    {"gap.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1, 4000, 300}, // resynchronises past it
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, PreviewLengths, ::testing::ValuesIn(LengthCases),
                         [](const ::testing::TestParamInfo<TLengthCase>& AInfo) {
                             std::string name = AInfo.param.Name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// A FIFO can be read only once, as it comes: the checks before decoding must leave it to the
// decoder whole.
TEST(PreviewInputs, AWavThroughAFifoPlaysWhole)
{
    TScratch scratch;
    testing_support::WriteWav(scratch / "song.wav", 8000, 2, 8000,
                              [](int AChannel, std::int64_t AIndex) { return Tone(AChannel, AIndex, 8000); });
    const std::string bytes = testing_support::ReadBytes(scratch / "song.wav");
    const std::string fifo = scratch / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // The writer waits for a reader for at most ten seconds, so a reader that never comes ends
    // the test instead of hanging it.
    std::thread writer([&] {
        int out = -1;
        for (int tries = 0; out < 0 && tries < 1000; ++tries) {
            out = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (out < 0)
                usleep(10000);
        }
        if (out < 0)
            return;
        fcntl(out, F_SETFL, 0);
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t put = write(out, bytes.data() + at, bytes.size() - at);
            if (put <= 0)
                break;
            at += static_cast<std::size_t>(put);
        }
        close(out);
    });
    std::unique_ptr<sound::TSignalSource> signal;
    EXPECT_NO_THROW(signal = sound::OpenSoundFile(fifo));
    if (signal) {
        EXPECT_EQ(signal->Length(), 8000);
        float left[sound::BlockSize], right[sound::BlockSize];
        signal->ReadBlock(7000, left, right);
        EXPECT_EQ(left[10], static_cast<float>(std::lround(Tone(0, 7010, 8000) * 32768.0) / 32768.0));
    }
    writer.join();
}

// ---- Memory: what a size needs against what the process may have ----

struct THeadroomCase {
    const char* Name;
    preview::TMemoryNeed Need;
    preview::TMemoryHeadroom Headroom;
    const char* Limit; // the limit the message names; null: the run fits
};

TEST(PreviewMemory, ASizeIsRefusedByTheFirstLimitItDoesNotFit)
{
    // clang-format off
    const THeadroomCase cases[] = {
        {"NoLimitKnown", {400 * MiB, 400 * MiB}, {}, nullptr},
        {"FitsExactly", {100 * MiB, 100 * MiB}, {100 * MiB, 100 * MiB, 100 * MiB, 100 * MiB}, nullptr},
        {"AddressSpace", {100 * MiB + 1, 100 * MiB + 1}, {100 * MiB, {}, {}, {}}, "its address-space limit (ulimit -v)"},
        {"Data", {300 * MiB, 300 * MiB}, {400 * MiB, 200 * MiB, {}, {}}, "its data limit (ulimit -d)"},
        {"Group", {300 * MiB, 300 * MiB}, {{}, {}, 299 * MiB, 8000 * MiB}, "its control group's memory limit"},
        // The helper under Wine is a process of its own: it counts against the group and the
        // machine, not against this process's own limits.
        {"WineHelperInTheGroup", {100 * MiB, 150 * MiB}, {120 * MiB, 120 * MiB, 140 * MiB, {}},
         "its control group's memory limit"},
        {"WineHelperFitsOwnLimits", {100 * MiB, 150 * MiB}, {120 * MiB, 120 * MiB, 160 * MiB, 160 * MiB}, nullptr},
        {"System", {300 * MiB, 300 * MiB}, {{}, {}, {}, 200 * MiB}, "the memory the system has available"},
    };
    // clang-format on
    for (const THeadroomCase& c : cases) {
        try {
            preview::CheckMemory(c.Need, c.Headroom, "WxH");
            EXPECT_EQ(c.Limit, nullptr) << c.Name << ": not refused";
        } catch (const common::EToolError& error) {
            ASSERT_NE(c.Limit, nullptr) << c.Name << ": " << error.what();
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("--size WxH needs about ", 0), 0u) << c.Name << ": " << message;
            EXPECT_NE(message.find(std::string("under ") + c.Limit + ": choose a smaller --size"), std::string::npos)
                << c.Name << ": " << message;
        }
    }
}

// Control groups as /proc/self/cgroup and the cgroup file systems show them, written into a
// scratch folder: each case is a set of files and the headroom they leave.
TEST(PreviewMemory, ControlGroupLimitsAreReadAtEveryLevelWithThePageCacheAsFree)
{
    struct TCase {
        const char* Name;
        std::string Membership;
        std::vector<std::pair<std::string, std::string>> Files; // path under the hierarchy, content
        std::optional<std::uint64_t> Headroom;
    } const cases[] = {
        {"V2NoLimit",
         "0::/user/session\n",
         {{"user/session/memory.max", "max\n"},
          {"user/session/memory.current", "1000\n"},
          {"user/memory.max", "max\n"},
          {"user/memory.current", "5000\n"}},
         std::nullopt},
        {"V2LimitOnTheGroup",
         "0::/box\n",
         {{"box/memory.max", "1000000\n"},
          {"box/memory.current", "400000\n"},
          {"box/memory.stat", "anon 300000\nfile 100000\nactive_file 60000\ninactive_file 40000\n"}},
         700000},
        {"V2TighterParent",
         "0::/outer/inner\n",
         {{"outer/inner/memory.max", "max\n"},
          {"outer/inner/memory.current", "100\n"},
          {"outer/memory.max", "5000\n"},
          {"outer/memory.current", "4000\n"}},
         1000},
        {"V2OverTheLimit", "0::/box\n", {{"box/memory.max", "1000\n"}, {"box/memory.current", "1200\n"}}, 0},
        {"V1Hierarchical",
         "12:pids:/x\n4:memory:/jobs/one\n1:cpu,cpuacct:/x\n",
         {{"memory/jobs/one/memory.stat",
           "cache 10\nhierarchical_memory_limit 2000000\ntotal_inactive_file 1000\ntotal_active_file 500\n"},
          {"memory/jobs/one/memory.usage_in_bytes", "1500000\n"}},
         501500},
        {"V1Unlimited",
         "4:memory:/jobs/one\n",
         {{"memory/jobs/one/memory.stat", "hierarchical_memory_limit 9223372036854771712\n"},
          {"memory/jobs/one/memory.usage_in_bytes", "1500000\n"}},
         std::nullopt},
        {"NoFiles", "0::/gone\n", {}, std::nullopt},
    };
    for (const TCase& c : cases) {
        TScratch scratch;
        const fs::path hierarchy = scratch.Path() / "cgroup";
        for (const auto& [path, content] : c.Files) {
            fs::create_directories((hierarchy / path).parent_path());
            std::ofstream(hierarchy / path) << content;
        }
        std::ofstream(scratch / "membership") << c.Membership;
        EXPECT_EQ(preview::GroupHeadroomOf(scratch / "membership", hierarchy.string()), c.Headroom) << c.Name;
    }
}

TEST(PreviewMemory, HelpStatesWhatASizeNeedsAsTheRefusalDoes)
{
    TScratch scratch;
    const TRun help = RunPreview({"--help"}, scratch.Path());
    ASSERT_EQ(help.Status, 0);
    const std::uint64_t gif = (preview::MemoryNeededFor(8192, 8192, preview::TOutputKind::Gif) + MiB - 1) / MiB;
    EXPECT_NE(help.Out.find("8192x8192  " + std::to_string(gif) + " MiB as a GIF"), std::string::npos) << help.Out;
    try {
        preview::CheckMemory({gif * MiB, gif * MiB}, {{}, {}, {}, 64 * MiB}, "8192x8192");
        ADD_FAILURE() << "not refused";
    } catch (const common::EToolError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("--size 8192x8192 needs about " + std::to_string(gif) + " MiB", 0),
                  0u)
            << error.what();
    }
}

// AddressSanitizer reserves terabytes of address space for its shadow at start-up and replaces
// malloc, so under it a run cannot start under an address-space or data limit, and a preloaded
// allocator cannot take malloc's place. These runs are built only without it; the decision they
// exercise is tested above, in this process with given limits, in every build.
#if !defined(__SANITIZE_ADDRESS__)

struct TLimitCase {
    const char* Name;
    int Resource; // RLIMIT_AS or RLIMIT_DATA
    const char* Size;
    std::vector<std::string> Output; // --output and what goes with it
    const char* Limit;               // what the refusal names; null: the run fits and succeeds
};

class PreviewUnderAMemoryLimit : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(PreviewUnderAMemoryLimit, RefusesUpFrontWhatDoesNotFit)
{
    const TLimitCase& c = GetParam();
    ASSERT_NE(Module, nullptr) << "the module is not part of this build, so nothing can be drawn";
    TScratch work;
    TRunSetup setup;
    setup.LimitedResource = c.Resource;
    setup.LimitBytes = 160 * MiB;
    std::vector<std::string> args{"--module", Module, "--size", c.Size, "--frames", "2"};
    args.insert(args.end(), c.Output.begin(), c.Output.end());
    const TRun run = RunPreviewWith(setup, args, work.Path());
    if (!c.Limit) {
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Err, "");
        EXPECT_FALSE(work.Entries().empty() && run.Out.empty());
        return;
    }
    int width = 0, height = 0;
    char cross = 0;
    std::istringstream(c.Size) >> width >> cross >> height;
    const preview::TOutputKind kind = preview::OutputKindOf(c.Output.at(1));
    const std::uint64_t need = (preview::MemoryNeededFor(width, height, kind) + MiB - 1) / MiB;
    ExpectRefused(run, work,
                  "--size " + std::string(c.Size) + " needs about " + std::to_string(need) +
                      " MiB of memory, more than the ",
                  TMatch::Start);
    EXPECT_NE(
        run.Err.find(std::string(" MiB this process may still use under ") + c.Limit + ": choose a smaller --size\n"),
        std::string::npos)
        << run.Err;
}

// clang-format off
const TLimitCase LimitCases[] = {
    {"GifUnderAddressSpace", RLIMIT_AS, "8192x8192", {"--output", "big.gif"}, "its address-space limit (ulimit -v)"},
    {"PngFramesUnderAddressSpace", RLIMIT_AS, "8192x8192", {"--output", "frames"},
     "its address-space limit (ulimit -v)"},
    {"StreamUnderAddressSpace", RLIMIT_AS, "8192X8192", {"--output", "-"}, "its address-space limit (ulimit -v)"},
    {"OneFrameUnderData", RLIMIT_DATA, "8192x8192", {"--output", "one.png", "--frame", "1"},
     "its data limit (ulimit -d)"},
    {"StreamUnderData", RLIMIT_DATA, "5000x5000", {"--output", "-"}, "its data limit (ulimit -d)"},
    {"FullHdGifUnderAddressSpace", RLIMIT_AS, "1920x1080", {"--output", "hd.gif"}, nullptr},
    {"FullHdStreamUnderData", RLIMIT_DATA, "1920x1080", {"--output", "-"}, nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, PreviewUnderAMemoryLimit, ::testing::ValuesIn(LimitCases),
                         [](const ::testing::TestParamInfo<TLimitCase>& AInfo) { return AInfo.param.Name; });

// An allocation that fails past the estimate (here made to fail on purpose, by size) ends the
// run like any refusal; what was opened for writing is gone.
struct TFailingCase {
    const char* Name;
    const char* Output;
    std::size_t FailingBytes; // of the 1000x999 run's buffers
    const char* Line;
};

class PreviewOutOfMemory : public ::testing::TestWithParam<TFailingCase> {};

TEST_P(PreviewOutOfMemory, EndsWithOneLineAndNothingLeftBehind)
{
    const TFailingCase& c = GetParam();
    ASSERT_NE(Module, nullptr) << "the module is not part of this build, so nothing can be drawn";
    TScratch work;
    TRunSetup setup;
    setup.Environment = {std::string("LD_PRELOAD=") + PREVIEW_FAILING_ALLOCATION,
                         "PREVIEW_FAIL_ALLOCATION=" + std::to_string(c.FailingBytes)};
    const TRun run = RunPreviewWith(
        setup, {"--module", Module, "--size", "1000x999", "--frames", "2", "--output", c.Output}, work.Path());
    ExpectRefused(run, work, c.Line);
}

const TFailingCase FailingCases[] = {
    {"GifIndexes", "out.gif", 1000 * 999, "out of memory: choose a smaller --size (see --help)"},
    {"StreamImage", "-", 1000 * 999 * 3, "out of memory: choose a smaller --size (see --help)"},
    {"DrawingSurface", "frames", 1000 * 999 * 4, "cannot create a 1000x999 drawing surface"},
};

INSTANTIATE_TEST_SUITE_P(Preview, PreviewOutOfMemory, ::testing::ValuesIn(FailingCases),
                         [](const ::testing::TestParamInfo<TFailingCase>& AInfo) { return AInfo.param.Name; });

#endif // !__SANITIZE_ADDRESS__

} // namespace
