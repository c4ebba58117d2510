// The preview's units: frame timing, sound reading, the command line, the trace's lines, the
// GIF's delays and the outputs that appear whole or not at all.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/output/AtomicOutput.h"
#include "tools/preview/Options.h"
#include "tools/preview/Preview.h"
#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ProgramMain.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/Formats.h"
#include "tools/lib/sound/FrameSound.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/lib/drive/Trace.h"
#include "tools/lib/drive/VisualData.h"
#include "tools/lib/output/gif/GifWriter.h"
#include "tools/lib/drive/ModuleHost.h"
#include "tools/lib/drive/WineRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <cmath>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <new>

using namespace preview;
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

TEST(VisualData, FillsWaveformAndPeaksAndLeavesTheSpectraAlone)
{
    float left[sound::BlockSize], right[sound::BlockSize];
    for (int i = 0; i < sound::BlockSize; ++i) {
        left[i] = static_cast<float>(i) / sound::BlockSize - 0.75f;
        right[i] = i == 300 ? 0.5f : 0.0f;
    }
    TAIMPVisualData data{};
    data.Spectrum[1][3] = 7.0f;
    drive::FillVisualData(data, left, right);
    EXPECT_EQ(data.Waveform[0][0], -0.75f);
    EXPECT_EQ(data.Waveform[1][300], 0.5f);
    EXPECT_EQ(data.Peaks[0], 0.75f);
    EXPECT_EQ(data.Peaks[1], 0.5f);
    EXPECT_EQ(data.Spectrum[1][3], 7.0f);
}

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

TEST(GifDelay, DelaysAddUpToTheFrameTimes)
{
    for (const std::int32_t fps : {1, 7, 24, 25, 30, 60, 144}) {
        std::int64_t total = 0;
        for (std::int64_t frame = 0; frame < 3 * fps; ++frame) {
            const std::int32_t delay = output::GifDelayOf(frame, fps);
            EXPECT_GE(delay, 100 / fps) << fps;
            EXPECT_LE(delay, 100 / fps + 1) << fps;
            total += delay;
        }
        EXPECT_EQ(total, 300) << fps;
    }
}

TEST(Trace, LinesOfEachTracedCall)
{
    POINT points[] = {{1, 2}, {-3, 40}, {5, 6}};
    STANDIN_CALL ellipse{};
    ellipse.Function = "Ellipse";
    ellipse.ArgCount = 4;
    ellipse.Args[0] = -1;
    ellipse.Args[1] = 2;
    ellipse.Args[2] = 30;
    ellipse.Args[3] = 41;
    ellipse.PenData.lopnColor = 0x005400EE;
    ellipse.PenData.lopnWidth.x = 1;
    ellipse.BrushData.lbColor = 0x008F53FF;
    EXPECT_EQ(drive::TTraceWriter::LineOf(ellipse), "Ellipse -1 2 30 41 pen=0x005400EE/1 brush=0x008F53FF");

    STANDIN_CALL polyline{};
    polyline.Function = "Polyline";
    polyline.ArgCount = 1;
    polyline.Args[0] = 3;
    polyline.Points = points;
    polyline.PenData.lopnColor = 0x2;
    polyline.PenData.lopnWidth.x = 1;
    EXPECT_EQ(drive::TTraceWriter::LineOf(polyline), "Polyline 3 1,2 -3,40 5,6 pen=0x00000002/1");

    // FillRect shows the brush it is given, not the one selected.
    LOGBRUSH brush{BS_SOLID, 0x00ABCDEF, 0};
    const HBRUSH given = CreateBrushIndirect(&brush);
    ASSERT_NE(given, nullptr);
    STANDIN_CALL fill{};
    fill.Function = "FillRect";
    fill.Object = given;
    fill.ArgCount = 4;
    fill.Args[2] = 640;
    fill.Args[3] = 480;
    fill.BrushData.lbColor = 0x00123456;
    EXPECT_EQ(drive::TTraceWriter::LineOf(fill), "FillRect 0 0 640 480 brush=0x00ABCDEF");
    DeleteObject(given);

    STANDIN_CALL other{};
    other.Function = "SelectObject";
    EXPECT_EQ(drive::TTraceWriter::LineOf(other), "");
}

TEST(AtomicOutput, NothingAppearsUntilTheCommit)
{
    TScratch scratch;
    const std::string target = scratch / "out.gif";
    {
        output::TAtomicFile file(target);
        std::fputs("half", file.Stream());
    }
    EXPECT_TRUE(scratch.Entries().empty());
    {
        output::TAtomicFile file(target);
        std::fputs("whole", file.Stream());
        EXPECT_FALSE(std::filesystem::exists(target));
        file.Commit();
    }
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"out.gif"});
    EXPECT_EQ(testing_support::ReadLines(target), std::vector<std::string>{"whole"});
    // Readable as any file the user creates, not private as a temporary file starts.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(std::filesystem::status(target).permissions()), 0666 & ~mask);

    const std::string folder = scratch / "frames";
    {
        output::TAtomicFolder frames(folder);
        std::ofstream(frames.PathOf("a.png")) << "a";
    }
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"out.gif"});
    for (int run = 0; run < 2; ++run) { // a new folder, then one that exists
        output::TAtomicFolder frames(folder);
        std::ofstream(frames.PathOf("a.png")) << run;
        frames.Commit();
    }
    EXPECT_EQ(testing_support::ReadLines(scratch / "frames/a.png"), std::vector<std::string>{"1"});
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"frames", "out.gif"}));

    EXPECT_THROW(output::TAtomicFile(scratch / "no/such/folder.gif"), common::EToolError);
    EXPECT_THROW(output::TAtomicFolder(scratch / "out.gif"), common::EToolError);
}

} // namespace

namespace {

TEST(ModuleHost, TextsComeAcrossAsUtf8)
{
    struct TCase {
        std::u16string Text;
        std::string Utf8;
    } const cases[] = {
        {u"Selvanore", "Selvanore"},
        {u"\u00E9t\u00E9", "\xC3\xA9t\xC3\xA9"},
        {u"\u20AC", "\xE2\x82\xAC"},
        {u"\U0001F3B5", "\xF0\x9F\x8E\xB5"},                    // a surrogate pair
        {std::u16string(1, u'\xD800') + u"x", "\xEF\xBF\xBDx"}, // a lone high surrogate
        {std::u16string(1, u'\xDC00'), "\xEF\xBF\xBD"},         // a lone low surrogate
        {u"", ""},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(drive::Utf8Of(c.Text.data(), c.Text.size()), c.Utf8) << c.Utf8;
}

#ifdef PREVIEW_MODULE
TEST(ModuleHost, DrivesTheModuleUpToAnInitializedVisualization)
{
    drive::TModuleHost host(PREVIEW_MODULE, 64, 48);
    EXPECT_EQ(host.PluginName(), "Selvanore");
    EXPECT_EQ(host.PluginAuthor(), "Vashkelt");
    EXPECT_EQ(host.VisualName(), "Selvanore");
}
#endif

TEST(ModuleHost, LibrariesThatAreNoPluginsAreRefused)
{
    for (const char* path :
         {PREVIEW_FAKE_NO_EXPORT, PREVIEW_FAKE_FAILING_EXPORT, PREVIEW_FAKE_NO_VISUALIZATION, "/nowhere/Selvanore.so"})
        EXPECT_THROW(drive::TModuleHost(path, 64, 48), common::EToolError) << path;
}

HRESULT WINAPI FailingLinkedExport(IAIMPPlugin** AHeader) noexcept
{
    *AHeader = nullptr;
    return E_UNEXPECTED;
}

HRESULT WINAPI EmptyLinkedExport(IAIMPPlugin** AHeader) noexcept
{
    *AHeader = nullptr;
    return S_OK;
}

// A module linked into the program (the browser build) is reached through the export it is
// given, named in the messages by the name it is given, with nothing loaded.
TEST(ModuleHost, ALinkedModuleIsReachedThroughTheExportGiven)
{
    const struct {
        TAIMPPluginGetHeaderProc Export;
        const char* Message;
    } cases[] = {
        {FailingLinkedExport, "module 'linked' is not a plug-in: AIMPPluginGetHeader failed (0x8000FFFF)"},
        {EmptyLinkedExport, "module 'linked' is not a plug-in: AIMPPluginGetHeader gave no plug-in"},
    };
    for (const auto& c : cases) {
        try {
            drive::TModuleHost host(c.Export, "linked", 64, 48);
            ADD_FAILURE() << c.Message;
        } catch (const common::EToolError& error) {
            EXPECT_STREQ(error.what(), c.Message);
        }
    }
}

} // namespace

#ifdef PREVIEW_MODULE
namespace {

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

} // namespace
#endif

namespace {

// A folder with an executable (or not) file of the given name in it.
std::string FolderWith(const TScratch& AScratch, const std::string& AFolder, const std::string& AName,
                       bool AExecutable = true)
{
    std::filesystem::create_directories(AScratch / AFolder);
    const std::string path = AScratch / (AFolder + "/" + AName);
    std::ofstream(path) << "#!/bin/sh\n";
    chmod(path.c_str(), AExecutable ? 0755 : 0644);
    return path;
}

TEST(WineLoader, FoundFromTheVariableThenPathThenWhereWineInstallsIt)
{
    TScratch scratch;
    const std::string both = FolderWith(scratch, "both", "wine");
    FolderWith(scratch, "both", "wine64");
    const std::string only64 = FolderWith(scratch, "only64", "wine64");
    FolderWith(scratch, "plain", "wine", false); // not executable: passed over
    const std::string chosen = FolderWith(scratch, "elsewhere", "my-wine");

    struct TCase {
        std::string Path;
        std::string Loader;
        std::string Expected;
    } const cases[] = {
        {scratch / "both", "", both},
        {scratch / "plain" + ":" + scratch / "only64", "", only64},
        {":" + scratch / "empty" + "::" + scratch / "both", "", both},
        {scratch / "both", chosen, chosen}, // WINELOADER wins over PATH
    };
    for (const TCase& c : cases)
        EXPECT_EQ(drive::FindWineLoader(c.Path.c_str(), c.Loader.c_str()), c.Expected) << c.Path << " / " << c.Loader;
}

TEST(WineLoader, WithoutOneOnPathTheInstalledLoaderOrAClearError)
{
    TScratch scratch;
    const std::string nothing = scratch / "nothing";
    const auto installed = std::find_if(std::begin(drive::WineLoaderFallbacks), std::end(drive::WineLoaderFallbacks),
                                        [](const char* APath) { return access(APath, X_OK) == 0; });
    if (installed != std::end(drive::WineLoaderFallbacks)) {
        EXPECT_EQ(drive::FindWineLoader(nothing.c_str(), nullptr), *installed);
    } else {
        try {
            drive::FindWineLoader(nothing.c_str(), nullptr);
            ADD_FAILURE() << "no loader, yet one was found";
        } catch (const common::EToolError& error) {
            EXPECT_NE(std::string(error.what()).find("wine64 package"), std::string::npos) << error.what();
        }
    }
    // A WINELOADER that names no program is an error, not a silent fallback.
    const std::string plain = FolderWith(scratch, "plain", "wine", false);
    for (const std::string& loader : {plain, scratch / "missing"})
        EXPECT_THROW(drive::FindWineLoader(nothing.c_str(), loader.c_str()), common::EToolError) << loader;
}

// Names reach the terminal only through common::Quoted: nothing in them can act on it, and every byte
// can still be told from the escape.
TEST(Messages, QuotedNamesEscapeWhatATerminalWouldActOn)
{
    struct TCase {
        std::string Name;
        std::string Shown;
    } const cases[] = {
        {"song.flac", "'song.flac'"},
        {"", "''"},
        {"it's", "'it\\'s'"},
        {"a\\b", "'a\\\\b'"},
        {"two\nlines\r\t", "'two\\nlines\\r\\t'"},
        {"\x1b[2J\x1b]0;title\x07", "'\\x1b[2J\\x1b]0;title\\x07'"},
        {std::string("nul\0byte", 8), "'nul\\x00byte'"},
        {"del\x7f", "'del\\x7f'"},
        {"C1 CSI \xc2\x9b"
         "31m",
         "'C1 CSI \\x9b31m'"},
        {"caf\xc3\xa9 \xe2\x99\xab \xf0\x9f\x8e\xb5", "'caf\xc3\xa9 \xe2\x99\xab \xf0\x9f\x8e\xb5'"},
        {"latin1 \xe9t\xe9", "'latin1 \\xe9t\\xe9'"},
        {"overlong \xc0\xaf, surrogate \xed\xa0\x80, cut \xe2\x99",
         "'overlong \\xc0\\xaf, surrogate \\xed\\xa0\\x80, cut \\xe2\\x99'"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(common::Quoted(c.Name), c.Shown) << c.Shown;
}

TEST(Messages, AReportIsOneLineWithNothingATerminalWouldActOn)
{
    struct TCase {
        const char* Message;
        const char* Line;
    } const cases[] = {
        {"cannot decode input 'a.wav': bad\nheader", "prog: cannot decode input 'a.wav': bad header\n"},
        {"text \x1b[31mred\r\n", "prog: text \\x1b[31mred  \n"},
        {"a quoted name 'x\\'y' stays as quoted", "prog: a quoted name 'x\\'y' stays as quoted\n"},
        {"C1 \xc2\x9b"
         "1m",
         "prog: C1 \\x9b1m\n"},
    };
    const char* const named = common::ProgramName();
    common::SetProgramName("prog");
    for (const TCase& c : cases) {
        testing::internal::CaptureStderr();
        common::ReportOneLine(c.Message);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.Line) << c.Line;
    }
    common::SetProgramName(named);
}

// A program's main is RunProgram: whatever ends its run, the one line begins with the name it
// stated, in a child process of its own (RunProgram installs the ending handlers).
TEST(Messages, EveryEndOfARunIsOneLineWithTheProgramsNameAndItsStatus)
{
    struct TCase {
        const char* Name;
        int (*Body)(int, char**);
        const char* Line;
        int Status;
    } const cases[] = {
        {"returns", [](int, char**) { return 0; }, "", 0},
        {"returns its status", [](int, char**) { return 3; }, "", 3},
        {"bad input", [](int, char**) -> int { throw common::EToolError("no such file 'a.wav'"); },
         "prog: no such file 'a.wav'\n", common::ExitBadInput},
        {"stopped", [](int, char**) -> int { throw common::EInterrupted(); }, "prog: interrupted\n",
         common::ExitInterrupted},
        {"out of memory", [](int, char**) -> int { throw std::bad_alloc(); }, "prog: out of memory: ask less\n",
         common::ExitBadInput},
        {"anything else", [](int, char**) -> int { throw std::runtime_error("odd\nthing"); }, "prog: odd thing\n", 1},
        {"an ending signal",
         [](int, char**) {
             raise(SIGTERM);
             return 0;
         },
         "prog: interrupted\n", 128 + SIGTERM},
        {"no way back", [](int, char**) -> int { common::EndProcessNow("lost the display", 2); },
         "prog: lost the display\n", 2},
    };
    for (const TCase& c : cases) {
        int err[2];
        ASSERT_EQ(pipe(err), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(err[0]);
            dup2(err[1], STDERR_FILENO);
            close(err[1]);
            _exit(common::RunProgram({"prog", "out of memory: ask less"}, 0, nullptr, c.Body));
        }
        close(err[1]);
        std::string line;
        char buffer[256];
        for (ssize_t got; (got = read(err[0], buffer, sizeof buffer)) > 0;)
            line.append(buffer, static_cast<std::size_t>(got));
        close(err[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << c.Name << ": " << status;
        EXPECT_EQ(WEXITSTATUS(status), c.Status) << c.Name;
        EXPECT_EQ(line, c.Line) << c.Name;
    }
}

} // namespace
