// The window on a real X server (Xvfb): what the screen shows holds the module's rings, in the
// module's colours, around the drawing area's centre.
#include "PlayTestSupport.h"

#include "tools/lib/drive/NativeRenderer.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/lib/drive/VisualData.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cmath>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

namespace {

using namespace testing_support;

#ifdef PREVIEW_MODULE
struct TModuleLook {
    std::set<std::uint32_t> Colours; // every colour of every frame
    std::uint32_t Background = 0;    // the commonest colour
};

// What the module draws for ASong at AWidth x AHeight, frame by frame as the preview plays it.
TModuleLook LookOfModule(const std::string& ASong, int AWidth, int AHeight, int AFps)
{
    const auto source = sound::OpenSoundFile(ASong);
    const auto renderer = drive::MakeNativeRenderer({PREVIEW_MODULE, AWidth, AHeight, {}});
    TAIMPVisualData data{};
    std::array<float, sound::BlockSize> left{}, right{};
    std::map<std::uint32_t, std::int64_t> counts;
    const std::int64_t frames = sound::FramesForLength(source->Length(), source->Rate(), AFps);
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        source->ReadBlock(sound::FrameStart(frame, source->Rate(), AFps), left.data(), right.data());
        drive::FillVisualData(data, left.data(), right.data());
        const std::uint32_t* pixels = renderer->Render(frame, data);
        for (int i = 0; i < AWidth * AHeight; ++i)
            ++counts[pixels[i]];
    }
    TModuleLook look;
    std::int64_t most = -1;
    for (const auto& [colour, count] : counts) {
        look.Colours.insert(colour);
        if (count > most) {
            most = count;
            look.Background = colour;
        }
    }
    return look;
}

// What is wrong with AScreen as a picture of the rings; empty when nothing is.
std::string FaultsOf(const TImage& AScreen, const TModuleLook& ALook)
{
    if (AScreen.Pixels.empty())
        return "the screen could not be read";
    std::int64_t foreign = 0, rings = 0;
    double sumX = 0, sumY = 0;
    for (int y = 0; y < AScreen.Height; ++y)
        for (int x = 0; x < AScreen.Width; ++x) {
            const std::uint32_t colour = AScreen.Pixels[static_cast<std::size_t>(y * AScreen.Width + x)];
            if (!ALook.Colours.contains(colour)) {
                ++foreign;
            } else if (colour != ALook.Background) {
                ++rings;
                sumX += x;
                sumY += y;
            }
        }
    const double all = static_cast<double>(AScreen.Pixels.size());
    std::ostringstream faults;
    if (foreign > all / 100)
        faults << foreign << " pixels in colours the module never draws; ";
    if (rings < all / 200) {
        faults << "only " << rings << " pixels of rings; ";
    } else {
        const double centreX = sumX / static_cast<double>(rings), centreY = sumY / static_cast<double>(rings);
        if (std::fabs(centreX - AScreen.Width / 2.0) > AScreen.Width * 0.12 ||
            std::fabs(centreY - AScreen.Height / 2.0) > AScreen.Height * 0.12)
            faults << "the rings centre on (" << centreX << ", " << centreY << "); ";
    }
    return faults.str();
}

// How the frames reach the window, and what the report must then say. Xvfb has no GPU: its GL
// is a software rasterizer, so the player's own choice is the window's surface.
struct TPresentationCase {
    const char* Name;
    const char* Present;  // --present
    const char* Reported; // the start of the report's "presentation"
};

// What googletest prints of a case, in the test's listing: its name.
void PrintTo(const TPresentationCase& ACase, std::ostream* AOut)
{
    *AOut << ACase.Name;
}

class PlayScreenshot : public testing::TestWithParam<TPresentationCase> {};

TEST_P(PlayScreenshot, TheWindowShowsTheRingsInTheModulesColoursAroundTheCentre)
{
    constexpr int Width = 320, Height = 240;
    TScratch scratch;
    WriteSong(scratch / "song.wav", 8);
    const TModuleLook look = LookOfModule(scratch / "song.wav", Width, Height, 25);
    ASSERT_GT(look.Colours.size(), 2u) << "the module drew no rings for the song";

    // The screen is the window's size, so that the window covers it wherever it is placed.
    const TXvfb server(Width, Height);
    ASSERT_TRUE(server.Ok()) << server.Reason();
    TRunningPreview play(ChildSetup(
        {"song.wav", "--size", "320x240", "--fps", "25", "--present", GetParam().Present, "--report", "run.json"},
        scratch.Path(),
        {"DISPLAY=" + server.Display(), "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
         // SDL's X11 driver starts the system's D-Bus library, whose own
         // allocations LeakSanitizer reports; the runs on the dummy driver
         // check the rest of the program for leaks.
         "LSAN_OPTIONS=detect_leaks=0"}));
    std::string faults = "never looked";
    // Once the rings have built up; then a few looks, since a look may catch a frame half-copied.
    ASSERT_FALSE(WaitUntil([] { return false; }, 2.0));
    WaitUntil(
        [&] {
            faults = FaultsOf(server.Screen(), look);
            return faults.empty();
        },
        4.0);
    EXPECT_EQ(faults, "");
    play.Signal(SIGTERM); // SDL's handler: the window's close, the run's ordinary end
    const TEnded ended = play.Wait(20);
    EXPECT_EQ(ended.Status, 0) << ended.Err;
    const std::string report = ReadBytes(scratch / "run.json");
    EXPECT_NE(report.find(std::string("\"presentation\": \"") + GetParam().Reported), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(Play, PlayScreenshot,
                         testing::Values(TPresentationCase{"ChosenByThePlayer", "auto", "window surface"},
                                         TPresentationCase{"Texture", "texture", "texture (opengl"},
                                         TPresentationCase{"WindowSurface", "surface", "window surface"}),
                         [](const testing::TestParamInfo<TPresentationCase>& AInfo) { return AInfo.param.Name; });
#endif

} // namespace
