// The GIF writer on made-up frames: whatever changes from one frame to the next (nothing, one
// corner, everything, hundreds of colours), every frame as a viewer composes it is exactly the
// drawn one, and the LZW coder's output decodes through giflib's own decoder.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/output/gif/GifWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using TFrame = std::vector<std::uint32_t>;

// A fixed sequence of pseudo-random numbers.
struct TNumbers {
    std::uint32_t State = 12345;
    std::uint32_t Next()
    {
        State = State * 1664525u + 1013904223u;
        return State >> 8;
    }
};

struct TGifCase {
    const char* Name;
    int Width;
    int Height;
    // The frames to write, in order.
    std::function<std::vector<TFrame>(int AWidth, int AHeight)> Frames;
    int CubeFrame = -1; // a frame of more than 256 colours, which is only near the drawn one
};

// A colour of the palette that index AIndex (0..255) picks: all different.
std::uint32_t ColourOf(std::uint32_t AIndex)
{
    return ((AIndex * 0x9E3779B1u) & 0x00FFFF00u) | (AIndex & 0xFFu);
}

std::vector<TFrame> Noise(int AWidth, int AHeight, int AFrames, std::uint32_t AColours)
{
    TNumbers numbers;
    std::vector<TFrame> frames(static_cast<std::size_t>(AFrames), TFrame(static_cast<std::size_t>(AWidth * AHeight)));
    for (TFrame& frame : frames)
        for (std::uint32_t& pixel : frame)
            pixel = ColourOf(numbers.Next() % AColours);
    return frames;
}

// clang-format off
const TGifCase GifCases[] = {
    // 16384 pixels of noise in 256 colours fill the 4096 codes again and again.
    {"NoiseInAllColoursFillsTheCodeTable", 128, 128, [](int W, int H) { return Noise(W, H, 3, 256); }},
    {"NoiseInTwoColours", 97, 31, [](int W, int H) { return Noise(W, H, 3, 2); }},
    {"OnePixel", 1, 1,
     [](int, int) { return std::vector<TFrame>{{0x123456}, {0x123456}, {0x654321}, {0}}; }},
    {"StillFramesAfterTheFirst", 40, 30,
     [](int W, int H) {
         std::vector<TFrame> frames = Noise(W, H, 1, 7);
         frames.push_back(frames[0]);
         frames.push_back(frames[0]);
         return frames;
     }},
    {"OneCornerThenTheOtherThenBoth", 33, 17,
     [](int W, int H) {
         std::vector<TFrame> frames(4, TFrame(static_cast<std::size_t>(W * H), 0));
         frames[1][0] = 0xFF0000;
         frames[2] = frames[1];
         frames[2].back() = 0x00FF00;
         frames[3][0] = 0x0000FF;
         frames[3].back() = 0x0000FF;
         return frames;
     }},
    {"OnlyTheIgnoredTopByteChanges", 20, 10,
     [](int W, int H) {
         std::vector<TFrame> frames = Noise(W, H, 1, 5);
         frames.push_back(frames[0]);
         for (std::uint32_t& pixel : frames[1])
             pixel |= 0xAB000000u;
         frames.push_back(frames[0]);
         frames[2][W * H / 2] = 0x00ABCDEF;
         return frames;
     }},
    // Frame 1 changes 256 colours: too many beside a transparent index, so it is written whole
    // with its exact palette; the unchanged pixels keep colours outside it in frame 2.
    {"MoreChangedColoursThanFitBesideTransparency", 64, 64,
     [](int W, int H) {
         std::vector<TFrame> frames = Noise(W, H, 1, 200);
         TFrame next(static_cast<std::size_t>(W * H));
         for (std::size_t i = 0; i < next.size(); ++i)
             next[i] = ColourOf(static_cast<std::uint32_t>(i % 256)) ^ 0x010101;
         frames.push_back(next);
         TFrame third = next;
         for (std::size_t i = 0; i < 300; ++i)
             third[i * 7] = ColourOf(static_cast<std::uint32_t>(i % 255));
         frames.push_back(third);
         return frames;
     }},
    // Frame 1 has more than 256 colours and is mapped onto the colour cube; frame 2, the same
    // as frame 0, must come out exact again.
    {"AFrameOfTooManyColoursAndBack", 32, 32,
     [](int W, int H) {
         std::vector<TFrame> frames = Noise(W, H, 1, 9);
         TFrame many(static_cast<std::size_t>(W * H));
         for (std::size_t i = 0; i < many.size(); ++i)
             many[i] = static_cast<std::uint32_t>(i * 40503u) & 0x00FFFFFFu;
         frames.push_back(many);
         frames.push_back(frames[0]);
         return frames;
     },
     1},
};
// clang-format on

class PreviewGif : public ::testing::TestWithParam<TGifCase> {};

TEST_P(PreviewGif, EveryComposedFrameIsTheDrawnOne)
{
    const TGifCase& c = GetParam();
    testing_support::TScratch scratch;
    const std::vector<TFrame> frames = c.Frames(c.Width, c.Height);
    {
        const auto writer = output::MakeGifWriter(scratch / "out.gif", c.Width, c.Height, 30);
        for (std::size_t i = 0; i < frames.size(); ++i)
            writer->Write(static_cast<std::int64_t>(i), frames[i].data(), {});
        writer->Commit();
    }
    const testing_support::TGif gif = testing_support::ReadGif(scratch / "out.gif");
    ASSERT_TRUE(gif.Ok);
    ASSERT_EQ(gif.Composed.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::vector<std::uint32_t>& shown = gif.Composed[i].Pixels;
        ASSERT_EQ(shown.size(), frames[i].size());
        for (std::size_t p = 0; p < shown.size(); ++p) {
            const std::uint32_t drawn = frames[i][p] & 0x00FFFFFFu;
            if (static_cast<int>(i) != c.CubeFrame) {
                ASSERT_EQ(shown[p], drawn) << "frame " << i << ", pixel " << p;
                continue;
            }
            // On the cube of 6 x 7 x 6 levels, each channel is within half a step.
            for (const auto& [shift, levels] : {std::pair{16, 6}, std::pair{8, 7}, std::pair{0, 6}}) {
                const int error =
                    std::abs(static_cast<int>(shown[p] >> shift & 0xFF) - static_cast<int>(drawn >> shift & 0xFF));
                ASSERT_LE(error, 255 / (levels - 1) / 2 + 1) << "frame " << i << ", pixel " << p;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Preview, PreviewGif, ::testing::ValuesIn(GifCases),
                         [](const ::testing::TestParamInfo<TGifCase>& AInfo) { return AInfo.param.Name; });

} // namespace
