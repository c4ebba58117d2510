// Whole runs of selvanore-preview on generated sound: how many frames it writes, that every
// output decodes at the size asked for, what the first frame shows, the trace, and that every
// bad input ends with status 2, one line of message and nothing left behind.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/output/Temporaries.h"
#include "tools/lib/output/png/FrameName.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

using testing_support::RunPreview;
using testing_support::TRun;
using testing_support::TScratch;

namespace {

namespace fs = std::filesystem;

const char* const Module = testing_support::ModuleUnderTest;

// The song of ASeconds, named AName in AScratch.
std::string MakeSong(const TScratch& AScratch, double ASeconds = 1.0, const std::string& AName = "song.wav")
{
    const std::string path = AScratch / AName;
    testing_support::WriteSong(path, ASeconds);
    return path;
}

// The checks of the trace's grammar, token by token.
bool IsInteger(const std::string& AText)
{
    const std::size_t start = !AText.empty() && AText[0] == '-' ? 1 : 0;
    return AText.size() > start && std::all_of(AText.begin() + static_cast<std::ptrdiff_t>(start), AText.end(),
                                               [](char c) { return c >= '0' && c <= '9'; });
}

// "<AKey>0x" and 8 upper-case hex digits, then ASuffix.
bool IsColor(const std::string& AText, const std::string& AKey, const std::string& ASuffix = "")
{
    if (AText.size() != AKey.size() + 10 + ASuffix.size() || AText.compare(0, AKey.size() + 2, AKey + "0x") != 0 ||
        AText.compare(AText.size() - ASuffix.size(), ASuffix.size(), ASuffix) != 0)
        return false;
    return std::all_of(AText.begin() + static_cast<std::ptrdiff_t>(AKey.size() + 2),
                       AText.end() - static_cast<std::ptrdiff_t>(ASuffix.size()),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

std::vector<std::string> Tokens(const std::string& ALine)
{
    std::istringstream in(ALine);
    std::vector<std::string> tokens;
    for (std::string token; in >> token;)
        tokens.push_back(token);
    return tokens;
}

bool IsEllipseLine(const std::string& ALine)
{
    const std::vector<std::string> t = Tokens(ALine);
    return t.size() == 7 && t[0] == "Ellipse" && IsInteger(t[1]) && IsInteger(t[2]) && IsInteger(t[3]) &&
           IsInteger(t[4]) && IsColor(t[5], "pen=", "/1") && IsColor(t[6], "brush=");
}

bool IsPolylineLine(const std::string& ALine)
{
    const std::vector<std::string> t = Tokens(ALine);
    if (t.size() != 3 + 64 || t[0] != "Polyline" || t[1] != "64" || !IsColor(t.back(), "pen=", "/1"))
        return false;
    for (std::size_t i = 2; i < 2 + 64; ++i) {
        const std::size_t comma = t[i].find(',');
        if (comma == std::string::npos || !IsInteger(t[i].substr(0, comma)) || !IsInteger(t[i].substr(comma + 1)))
            return false;
    }
    return true;
}

// The runs that need the module to draw. A module that cannot draw one frame fails them all at
// once, with the preview's own message: a broken export is a failure, never a reason to skip.
class PreviewRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Module, nullptr) << "the module is not part of this build";
        const TRun probe = RunPreview({"--frames", "1", "--size", "8x8", "--output", "probe.gif"}, FScratch.Path());
        ASSERT_EQ(probe.Status, 0) << probe.Err;
        fs::remove(FScratch / "probe.gif");
    }

    TRun Run(const std::vector<std::string>& AArgs) const { return RunPreview(AArgs, FScratch.Path()); }

    TScratch FScratch;
};

TEST_F(PreviewRun, FrameCountFollowsInputFpsFramesAndSeconds)
{
    const std::string song = MakeSong(FScratch, 1.0);
    struct TCase {
        std::vector<std::string> Args;
        std::size_t Frames;
    } const cases[] = {
        {{}, 30}, // the whole second at 30 frames per second
        {{"--fps", "12"}, 12},
        {{"--fps", "7"}, 7},
        {{"--frames", "5"}, 5},
        {{"--frames", "45"}, 45}, // past the end: silence
        {{"--seconds", "0.5"}, 15},
    };
    int run = 0;
    for (const TCase& c : cases) {
        const std::string folder = "frames" + std::to_string(run++);
        std::vector<std::string> args{"--input", song, "--size", "32x24", "--output", folder};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const TRun result = Run(args);
        ASSERT_EQ(result.Status, 0) << result.Err;
        EXPECT_TRUE(result.Err.empty()) << result.Err; // quiet when standard error is no terminal
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(FScratch / folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names.size(), c.Frames) << folder;
        EXPECT_EQ(names.front(), "frame-000000.png");
        for (const std::string& name : {names.front(), names.back()}) {
            const testing_support::TImage image = testing_support::ReadPng(FScratch / (folder + "/" + name));
            EXPECT_EQ(image.Width, 32) << name;
            EXPECT_EQ(image.Height, 24) << name;
        }
    }
}

TEST_F(PreviewRun, DefaultSignalGivesEightSecondsAtThirtyFrames)
{
    const TRun result = Run({"--size", "16x12", "--output", "-"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    const std::string header = "P6\n16 12\n255\n";
    const std::size_t frameBytes = header.size() + 16 * 12 * 3;
    ASSERT_EQ(result.Out.size(), 240 * frameBytes);
    for (std::size_t frame = 0; frame < 240; ++frame)
        ASSERT_EQ(result.Out.compare(frame * frameBytes, header.size(), header), 0) << frame;
}

TEST_F(PreviewRun, GifShowsEveryDrawnFrameExactlyWithOneImagePerFrameAndIsTheSameEachRun)
{
    const std::string song = MakeSong(FScratch, 0.5);
    for (const char* name : {"a.gif", "b.gif"}) {
        const TRun result = Run({"--input", song, "--size", "96x64", "--fps", "30", "--output", name});
        ASSERT_EQ(result.Status, 0) << result.Err;
    }
    const testing_support::TGif gif = testing_support::ReadGif(FScratch / "a.gif");
    ASSERT_TRUE(gif.Ok);
    EXPECT_EQ(gif.Width, 96);
    EXPECT_EQ(gif.Height, 64);
    ASSERT_EQ(gif.Frames.size(), 15u);
    int total = 0;
    for (std::size_t i = 0; i < gif.Frames.size(); ++i)
        total += gif.Delays[i];
    EXPECT_EQ(total, 50); // 15 frames at 30 per second: half a second
    EXPECT_EQ(testing_support::ReadBytes(FScratch / "a.gif"), testing_support::ReadBytes(FScratch / "b.gif"));

    // Each image holds only what changed, yet every frame as a viewer composes it is exactly
    // the drawn one: the PNG of that frame.
    ASSERT_EQ(Run({"--input", song, "--size", "96x64", "--output", "frames"}).Status, 0);
    ASSERT_EQ(gif.Composed.size(), 15u);
    for (std::size_t i = 0; i < gif.Composed.size(); ++i) {
        char name[32];
        output::FormatFrameName(static_cast<std::int64_t>(i), name);
        const testing_support::TImage drawn = testing_support::ReadPng(FScratch / (std::string("frames/") + name));
        ASSERT_EQ(drawn.Width, 96) << i;
        EXPECT_EQ(gif.Composed[i].Width, 96) << i;
        EXPECT_EQ(gif.Composed[i].Height, 64) << i;
        EXPECT_TRUE(gif.Composed[i].Pixels == drawn.Pixels) << "frame " << i;
    }
    // Only the changed part of a frame is written: the images of later frames are smaller than
    // the screen.
    EXPECT_EQ(gif.Frames.front().Width * gif.Frames.front().Height, 96 * 64);
    EXPECT_LT(gif.Frames[1].Width * gif.Frames[1].Height, 96 * 64);
}

TEST_F(PreviewRun, TraceHoldsEveryCallOfEveryFrameInTheFixedFormat)
{
    const std::string song = MakeSong(FScratch);
    const TRun result =
        Run({"--input", song, "--size", "200x100", "--frames", "10", "--trace", "calls.txt", "--output", "out.gif"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    const std::vector<std::string> lines = testing_support::ReadLines(FScratch / "calls.txt");
    ASSERT_EQ(lines.size(), 10u * (1 + 1 + 1984 + 31));

    std::size_t at = 0;
    for (int frame = 0; frame < 10; ++frame) {
        ASSERT_EQ(lines[at++], "frame " + std::to_string(frame));
        ASSERT_EQ(lines[at++], "FillRect 0 0 200 100 brush=0x00000000");
        for (int slot = 0; slot < 31; ++slot) {
            for (int point = 0; point < 64; ++point, ++at)
                ASSERT_TRUE(IsEllipseLine(lines[at])) << at << ": " << lines[at];
            ASSERT_TRUE(IsPolylineLine(lines[at])) << at << ": " << lines[at];
            ++at;
        }
    }
    // The first ring of the first frame: slot 0, depth -5, an almost black pen around a dark red
    // brush; the first point of a circle of the song's first block, to the right of the centre.
    EXPECT_EQ(lines[2].substr(lines[2].find(" pen=")), " pen=0x00000002/1 brush=0x00000066");
}

TEST_F(PreviewRun, StreamHoldsOnePpmPerFrame)
{
    const std::string song = MakeSong(FScratch, 0.25);
    const TRun result = Run({"--input", song, "--size", "40x30", "--output", "-"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    const std::string header = "P6\n40 30\n255\n";
    const std::size_t frameBytes = header.size() + 40 * 30 * 3;
    ASSERT_EQ(result.Out.size(), 8 * frameBytes); // 0.25 s at 30 frames per second: 8 frames
    EXPECT_EQ(FScratch.Entries(), std::vector<std::string>{"song.wav"});
}

// The same runs over each renderer: the module in this process on the stand-in, and the real DLL
// on Wine's GDI.
struct TRenderer {
    const char* Name;
    bool Wine;
};

class RendererRun : public ::testing::TestWithParam<TRenderer> {
protected:
    void SetUp() override
    {
        if (GetParam().Wine) {
#ifdef PREVIEW_WINE_MODULE
            // The runs under Wine need the Windows cross build, which scripts/test makes first; the
            // preview finds Wine itself, and a missing Wine fails the run with its message.
            std::error_code error;
            if (!fs::is_regular_file(PREVIEW_WINE_MODULE, error) || !fs::is_regular_file(PREVIEW_WINE_HELPER, error))
                FAIL() << "the Windows cross build is not there: " << PREVIEW_WINE_HELPER
                       << " (scripts/test builds it before the native tests)";
            FArgs = {"--wine", "--module", PREVIEW_WINE_MODULE, "--wine-helper", PREVIEW_WINE_HELPER};
#endif
        } else {
            if (!Module)
                FAIL() << "the module is not part of this build";
            FArgs = {"--module", Module};
        }
    }

    TRun Run(std::vector<std::string> AArgs) const
    {
        AArgs.insert(AArgs.begin(), FArgs.begin(), FArgs.end());
        return RunPreview(AArgs, FScratch.Path());
    }

    TScratch FScratch;
    std::vector<std::string> FArgs;
};

TEST_P(RendererRun, FirstFrameIsBlackButForTheRingsAtTheCentre)
{
    const std::string song = MakeSong(FScratch);
    const TRun result = Run({"--input", song, "--size", "320x200", "--output", "first.png", "--frame", "0"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(FScratch.Entries(), (std::vector<std::string>{"first.png", "song.wav"}));
    const testing_support::TImage image = testing_support::ReadPng(FScratch / "first.png");
    ASSERT_EQ(image.Width, 320);
    ASSERT_EQ(image.Height, 200);
    // The one ring captured in the first frame has radii of 1 to 49 pixels around (160, 100),
    // the uncaptured slots sit on the centre; nothing is drawn further out.
    int lit = 0;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            const std::uint32_t pixel = image.Pixels[static_cast<std::size_t>(y * image.Width + x)];
            const double distance = std::hypot(x - 160.0, y - 100.0);
            if (distance > 52.0) {
                ASSERT_EQ(pixel, 0u) << x << "," << y;
            }
            lit += pixel != 0;
        }
    EXPECT_GT(lit, 0);
}

TEST_P(RendererRun, RingsGrowAsTheyFlyOut)
{
    const std::string song = MakeSong(FScratch);
    const TRun result = Run({"--input", song, "--size", "120x90", "--output", "frames"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    const auto lit = [&](const std::string& AName) {
        const testing_support::TImage image = testing_support::ReadPng(FScratch / ("frames/" + AName));
        EXPECT_EQ(image.Width, 120) << AName;
        EXPECT_EQ(image.Height, 90) << AName;
        return std::count_if(image.Pixels.begin(), image.Pixels.end(),
                             [](std::uint32_t APixel) { return APixel != 0; });
    };
    // By the last of the 30 frames six rings are out, the oldest at depth -150, wider and with
    // bigger dots than the one ring of the first frame.
    EXPECT_GT(lit("frame-000029.png"), 2 * lit("frame-000000.png"));
}

// Without the Windows build the runs under Wine are not made; the build registers them disabled.
#ifdef PREVIEW_WINE_MODULE
INSTANTIATE_TEST_SUITE_P(Preview, RendererRun, ::testing::Values(TRenderer{"Native", false}, TRenderer{"Wine", true}),
                         [](const ::testing::TestParamInfo<TRenderer>& AInfo) { return AInfo.param.Name; });
#else
INSTANTIATE_TEST_SUITE_P(Preview, RendererRun, ::testing::Values(TRenderer{"Native", false}),
                         [](const ::testing::TestParamInfo<TRenderer>& AInfo) { return AInfo.param.Name; });
#endif

// Bad inputs need no module to be refused, except those about the module itself.
struct TBadInput {
    const char* Name;
    std::vector<std::string> Args;
    const char* Message; // a part of the one line expected
};

class BadInput : public ::testing::TestWithParam<TBadInput> {};

TEST_P(BadInput, EndsWithStatusTwoOneLineAndNothingLeftBehind)
{
    TScratch scratch;
    MakeSong(scratch, 0.2);
    std::ofstream(scratch / "empty.wav").close();
    std::ofstream(scratch / "text.wav") << "not a sound\n";
    fs::create_directory(scratch / "frames-existing");
    const std::vector<std::string> before = scratch.Entries();

    std::vector<std::string> args = GetParam().Args;
    const bool needsModule = std::find(args.begin(), args.end(), "--module") == args.end();
    if (needsModule && Module) {
        args.insert(args.begin(), {"--module", Module});
    }
    const TRun result = RunPreview(args, scratch.Path());
    EXPECT_EQ(result.Status, 2) << result.Err;
    EXPECT_TRUE(testing_support::IsOneLineError(result.Err)) << "[" << result.Err << "]";
    EXPECT_NE(result.Err.find(GetParam().Message), std::string::npos) << result.Err;
    EXPECT_EQ(scratch.Entries(), before);
    EXPECT_TRUE(fs::is_empty(scratch / "frames-existing"));
    EXPECT_TRUE(result.Out.empty());
}

// clang-format off
const TBadInput BadInputs[] = {
    {"MissingInput", {"--input", "nowhere.wav"}, "no such file"},
    {"EmptyInput", {"--input", "empty.wav"}, "is empty"},
    {"UndecodableInput", {"--input", "text.wav"}, "cannot decode"},
    {"InputIsAFolder", {"--input", "frames-existing"}, "folder"},
    {"ZeroWidth", {"--size", "0x480"}, "--size"},
    {"NegativeHeight", {"--size", "640x-1"}, "--size"},
    {"AbsurdSize", {"--size", "8193x8193"}, "--size"},
    {"SizeNotANumber", {"--size", "big"}, "--size"},
    {"ZeroFps", {"--fps", "0"}, "--fps"},
    {"AbsurdFps", {"--fps", "100000"}, "--fps"},
    {"NoFrames", {"--frames", "0"}, "--frames"},
    {"UnknownOption", {"--colour", "red"}, "--colour"},
    {"UnwritableOutput", {"--input", "song.wav", "--output", "no/such/folder/out.gif"}, "cannot write output"},
    {"UnwritableFolder", {"--input", "song.wav", "--output", "no/such/folder/"}, "cannot write output"},
    {"UnwritableTrace", {"--input", "song.wav", "--trace", "no/such/trace.txt", "--output", "x.gif"},
     "cannot write output"},
    {"OutputOverAFile", {"--input", "song.wav", "--output", "song.wav/frames"}, "cannot write output"},
    {"UnknownFormat", {"--output", "movie.avi"}, "cannot tell the format"},
    {"PngWithoutFrame", {"--output", "one.png"}, "--frame"},
    {"FramePastTheEnd", {"--input", "song.wav", "--output", "one.png", "--frame", "6"}, "past the last frame"},
    {"ModuleMissing", {"--module", "nowhere.so", "--output", "x.gif"}, "cannot load module"},
    {"ModuleNotALibrary", {"--module", "text.wav", "--output", "x.gif"}, "cannot load module"},
    {"ModuleWithoutExport", {"--module", PREVIEW_FAKE_NO_EXPORT, "--output", "x.gif"}, "no AIMPPluginGetHeader"},
    {"ModuleExportFails", {"--module", PREVIEW_FAKE_FAILING_EXPORT, "--output", "x.gif"},
     "AIMPPluginGetHeader failed (0x8000FFFF)"},
    {"WineWithoutHelper", {"--wine", "--wine-helper", "nowhere.exe", "--module", "text.wav"}, "no helper"},
    {"ModuleRegistersNothing", {"--module", PREVIEW_FAKE_NO_VISUALIZATION, "--output", "frames-existing"},
     "registered no visualization"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Preview, BadInput, ::testing::ValuesIn(BadInputs),
                         [](const ::testing::TestParamInfo<TBadInput>& AInfo) { return AInfo.param.Name; });

TEST(PreviewHelp, ExplainsOutputsAndTheFfmpegCommand)
{
    TScratch scratch;
    const TRun result = RunPreview({"--help"}, scratch.Path());
    EXPECT_EQ(result.Status, 0);
    for (const char* part : {"--input", "--size", "--fps", "--frames", "--seconds", "--output", "--trace", "--frame",
                             "--module", "ffmpeg -f image2pipe", "spectra are left at zero", "floor(n * rate / fps)"})
        EXPECT_NE(result.Out.find(part), std::string::npos) << part;
    EXPECT_TRUE(scratch.Entries().empty());
}

} // namespace
