// The drive library's units: the visual data record, the trace's lines, the module host and the
// search for the Wine loader.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/common/ToolError.h"
#include "tools/lib/drive/ModuleHost.h"
#include "tools/lib/drive/Trace.h"
#include "tools/lib/drive/VisualData.h"
#include "tools/lib/drive/WineRenderer.h"
#include "tools/lib/sound/SignalSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using testing_support::TScratch;

namespace {

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
         {FAKE_MODULE_NO_EXPORT, FAKE_MODULE_FAILING_EXPORT, FAKE_MODULE_NO_VISUALIZATION, "/nowhere/Selvanore.so"})
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

} // namespace
