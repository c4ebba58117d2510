// The preview's own units: its command line, and a run stopped by request.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/Formats.h"
#include "tools/preview/Options.h"
#include "tools/preview/Preview.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace preview;
using testing_support::TScratch;

namespace {

std::optional<TOptions> Parse(std::vector<std::string> AArgs)
{
    AArgs.insert(AArgs.begin(), "selvanore-preview");
    std::vector<const char*> argv;
    for (const std::string& arg : AArgs)
        argv.push_back(arg.c_str());
    std::ostringstream help;
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), {"default.so", "wine.dll", "helper.exe"}, help);
}

TEST(Options, DefaultsAndEachOption)
{
    const TOptions defaults = Parse({}).value();
    EXPECT_EQ(defaults.Width, 640);
    EXPECT_EQ(defaults.Height, 480);
    EXPECT_EQ(defaults.Fps, 30);
    EXPECT_FALSE(defaults.Frames);
    EXPECT_EQ(defaults.Output, "selvanore.gif");
    EXPECT_EQ(defaults.OutputKind, TOutputKind::Gif);
    EXPECT_EQ(defaults.Module, "default.so");
    EXPECT_TRUE(defaults.Input.empty());
    EXPECT_TRUE(defaults.Trace.empty());

    const TOptions set = Parse({"--input", "a.flac", "--module", "m.so", "--size", "1920x1080", "--fps", "60",
                                "--seconds", "2.5", "--output", "one.png", "--frame", "12", "--trace", "t.txt"})
                             .value();
    EXPECT_EQ(set.Input, "a.flac");
    EXPECT_EQ(set.Module, "m.so");
    EXPECT_EQ(set.Width, 1920);
    EXPECT_EQ(set.Height, 1080);
    EXPECT_EQ(set.Fps, 60);
    EXPECT_EQ(set.Frames, 150);
    EXPECT_EQ(set.OutputKind, TOutputKind::PngFrame);
    EXPECT_EQ(set.Frame, 12);
    EXPECT_EQ(set.Trace, "t.txt");

    EXPECT_EQ(Parse({"--frames", "7"}).value().Frames, 7);
    EXPECT_EQ(Parse({"--seconds", "8"}).value().Frames, 240);
    EXPECT_EQ(Parse({"--seconds", "0.01"}).value().Frames, 1);
    EXPECT_EQ(Parse({"--size", "8192X1"}).value().Width, 8192);
    EXPECT_FALSE(Parse({"--help"}));

    const TOptions wine = Parse({"--wine"}).value();
    EXPECT_TRUE(wine.Wine);
    EXPECT_EQ(wine.Module, "wine.dll");
    EXPECT_EQ(wine.WineHelper, "helper.exe");
    EXPECT_EQ(Parse({"--wine", "--module", "my.dll"}).value().Module, "my.dll");
}

TEST(Options, BadArgumentsAreRefused)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--size", "0x480"},
        {"--size", "640x0"},
        {"--size", "-640x480"},
        {"--size", "640"},
        {"--size", "8193x100"},
        {"--size", "640x480x3"},
        {"--size", "x"},
        {"--size", "640x+480"},
        {"--size", "99999999999x1"},
        {"--fps", "0"},
        {"--fps", "-30"},
        {"--fps", "1001"},
        {"--fps", "abc"},
        {"--frames", "0"},
        {"--frames", "-1"},
        {"--frames", "10000001"},
        {"--seconds", "0"},
        {"--seconds", "-1"},
        {"--seconds", "nan"},
        {"--seconds", "1e300"},
        {"--frames", "5", "--seconds", "1"},
        {"--output", "out.png"},
        {"--frame", "3"},
        {"--output", "x.png", "--frame", "-1"},
        {"--output", "movie.avi"},
        {"--output", ""},
        {"--module", ""},
        {"--unknown"},
        {"--wine", "--trace", "calls.txt"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const std::string& arg : args)
            joined += arg + " ";
        EXPECT_THROW(Parse(args), common::EToolError) << joined;
    }
}

TEST(Options, OutputKindFollowsTheEnding)
{
    TScratch scratch;
    struct TCase {
        std::string Path;
        TOutputKind Kind;
    } const cases[] = {
        {"a.gif", TOutputKind::Gif},
        {"A.GIF", TOutputKind::Gif},
        {"a.png", TOutputKind::PngFrame},
        {"-", TOutputKind::Stream},
        {"frames", TOutputKind::PngFolder},
        {"frames.d/", TOutputKind::PngFolder},
        {scratch.Path().string(), TOutputKind::PngFolder},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(OutputKindOf(c.Path), c.Kind) << c.Path;
}

#ifdef PREVIEW_MODULE
TEST(Preview, AStopRequestEndsTheRunAndLeavesNothingBehind)
{
    TScratch scratch;
    for (const char* output : {"out.gif", "frames", "one.png"}) {
        TOptions options;
        options.Module = PREVIEW_MODULE;
        options.Width = 32;
        options.Height = 24;
        options.Output = scratch / output;
        options.OutputKind = OutputKindOf(options.Output);
        if (options.OutputKind == TOutputKind::PngFrame)
            options.Frame = 3;
        options.Trace = scratch / "trace.txt";
        RequestStop();
        EXPECT_THROW(RunPreview(options), common::EInterrupted) << output;
        ClearStopRequest();
        EXPECT_TRUE(scratch.Entries().empty()) << output;
    }
}
#endif

} // namespace
