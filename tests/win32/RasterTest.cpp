// Pixel rules of the stand-in's GDI. The expected patterns were drawn by real GDI (Wine's, with
// tools/gdiref) and are checked here without it.
#include "tests/support/TestCanvas.h"

#include <win32_standin.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using testing_support::PixelOf;
using testing_support::TRowOrder;
using testing_support::TTestCanvas;

constexpr COLORREF PenColor = RGB(255, 0, 0);
constexpr COLORREF BrushColor = RGB(0, 255, 0);

struct EllipseCase {
    const char* Name;
    UINT PenStyle;
    UINT BrushStyle;
    int Rop2;
    int Width; // of the box at (1, 1); the canvas has a margin of one pixel all round
    int Height;
    std::vector<std::string> Expected;
};

// clang-format off
const EllipseCase EllipseCases[] = {
    {"r0", 0, 0, 13, 0, 0, {"..", ".."}},
    {"r1", 0, 0, 13, 2, 2, {"....", ".##.", ".##.", "...."}},
    {"r2", 0, 0, 13, 4, 4, {"......", "..##..", ".#oo#.", ".#oo#.", "..##..", "......"}},
    {"r3", 0, 0, 13, 6, 6, {"........", "...##...", "..#oo#..", ".#oooo#.", ".#oooo#.", "..#oo#..", "...##...", "........"}},
    {"r4", 0, 0, 13, 8, 8, {"..........", "...####...", "..#oooo#..", ".#oooooo#.", ".#oooooo#.", ".#oooooo#.", ".#oooooo#.", "..#oooo#..", "...####...", ".........."}},
    {"r5", 0, 0, 13, 10, 10, {"............", "....####....", "...#oooo#...", "..#oooooo#..", ".#oooooooo#.", ".#oooooooo#.", ".#oooooooo#.", ".#oooooooo#.", "..#oooooo#..", "...#oooo#...", "....####....", "............"}},
    {"odd3", 0, 0, 13, 3, 3, {".....", "..#..", ".#o#.", "..#..", "....."}},
    {"odd9", 0, 0, 13, 9, 9, {"...........", "....###....", "..##ooo##..", "..#ooooo#..", ".#ooooooo#.", ".#ooooooo#.", ".#ooooooo#.", "..#ooooo#..", "..##ooo##..", "....###....", "..........."}},
    {"wide5x3", 0, 0, 13, 5, 3, {".......", "..###..", ".#ooo#.", "..###..", "......."}},
    {"tall3x5", 0, 0, 13, 3, 5, {".....", "..#..", ".#o#.", ".#o#.", ".#o#.", "..#..", "....."}},
    {"wide7x4", 0, 0, 13, 7, 4, {".........", "..#####..", ".#ooooo#.", ".#ooooo#.", "..#####..", "........."}},
    {"wide12x5", 0, 0, 13, 12, 5, {"..............", "....######....", "..##oooooo##..", ".#oooooooooo#.", "..##oooooo##..", "....######....", ".............."}},
    {"single1x1", 0, 0, 13, 1, 1, {"...", "...", "..."}},
    {"row5x1", 0, 0, 13, 5, 1, {".......", ".#####.", "......."}},
    {"column2x5", 0, 0, 13, 2, 5, {"....", ".##.", ".##.", ".##.", ".##.", ".##.", "...."}},
    {"nullpen2x2", 5, 0, 13, 2, 2, {"....", ".o..", "....", "...."}},
    {"nullpen3x3", 5, 0, 13, 3, 3, {".....", "..o..", ".ooo.", "..o..", "....."}},
    {"nullpen6x6", 5, 0, 13, 6, 6, {"........", "...oo...", "..oooo..", ".oooooo.", ".oooooo.", "..oooo..", "...oo...", "........"}},
    {"nullbrush6x6", 0, 1, 13, 6, 6, {"........", "...##...", "..#..#..", ".#....#.", ".#....#.", "..#..#..", "...##...", "........"}},
    {"xor6x6", 0, 0, 7, 6, 6, {"........", "...xx...", "..xoox..", ".xoooox.", ".xoooox.", "..xoox..", "...xx...", "........"}},
    {"xorrow5x1", 0, 0, 7, 5, 1, {".......", ".#...#.", "......."}},
    {"tall4x7", 0, 0, 13, 4, 7, {"......", "......", "..##..", ".#oo#.", ".#oo#.", ".#oo#.", "..##..", "......", "......"}},
    {"tall10x19", 0, 0, 13, 10, 19, {"............", ".....##.....", "....#oo#....", "...#oooo#...", "..#oooooo#..", "..#oooooo#..", "..#oooooo#..", ".#oooooooo#.", ".#oooooooo#.", ".#oooooooo#.", ".#oooooooo#.", ".#oooooooo#.", ".#oooooooo#.", ".#oooooooo#.", "..#oooooo#..", "..#oooooo#..", "..#oooooo#..", "...#oooo#...", "....#oo#....", ".....##.....", "............"}},
};
// clang-format on

class EllipsePatternTest : public ::testing::TestWithParam<std::tuple<EllipseCase, TRowOrder>> {};

TEST_P(EllipsePatternTest, MatchesReferenceGdi)
{
    const auto& [pattern, orientation] = GetParam();
    TTestCanvas canvas(pattern.Width + 2, pattern.Height + 2, orientation);
    canvas.UsePen(pattern.PenStyle, 1, PenColor);
    canvas.UseBrush(pattern.BrushStyle, BrushColor);
    SetROP2(canvas.Dc(), pattern.Rop2);
    EXPECT_TRUE(Ellipse(canvas.Dc(), 1, 1, 1 + pattern.Width, 1 + pattern.Height));
    EXPECT_EQ(canvas.Text(0, PixelOf(PenColor), PixelOf(BrushColor)), pattern.Expected);
}

INSTANTIATE_TEST_SUITE_P(Boxes, EllipsePatternTest,
                         ::testing::Combine(::testing::ValuesIn(EllipseCases),
                                            ::testing::Values(TRowOrder::TopDown, TRowOrder::BottomUp)),
                         [](const auto& AInfo) {
                             return std::string(std::get<0>(AInfo.param).Name) +
                                    (std::get<1>(AInfo.param) == TRowOrder::TopDown ? "TopDown" : "BottomUp");
                         });

TEST(EllipseTest, CornersInAnyOrderDrawTheSameBox)
{
    const int boxes[][4] = {{1, 1, 9, 7}, {9, 7, 1, 1}, {9, 1, 1, 7}, {1, 7, 9, 1}};
    std::vector<std::string> first;
    for (const auto& box : boxes) {
        TTestCanvas canvas(10, 8);
        canvas.UsePen(PS_SOLID, 1, PenColor);
        canvas.UseBrush(BS_SOLID, BrushColor);
        Ellipse(canvas.Dc(), box[0], box[1], box[2], box[3]);
        const auto text = canvas.Text(0, PixelOf(PenColor), PixelOf(BrushColor));
        if (first.empty())
            first = text;
        EXPECT_EQ(text, first) << box[0] << "," << box[1] << "," << box[2] << "," << box[3];
    }
}

TEST(EllipseTest, NeitherUsesNorMovesTheCurrentPosition)
{
    TTestCanvas canvas(8, 8);
    MoveToEx(canvas.Dc(), 3, 4, nullptr);
    Ellipse(canvas.Dc(), 1, 1, 5, 5);
    const POINT line[] = {{0, 0}, {7, 7}};
    Polyline(canvas.Dc(), line, 2);
    POINT position{};
    GetCurrentPositionEx(canvas.Dc(), &position);
    EXPECT_EQ(position.x, 3);
    EXPECT_EQ(position.y, 4);
}

struct LineCase {
    int Dx; // the line runs from (5, 5) to (5 + Dx, 5 + Dy)
    int Dy;
    std::vector<std::string> Expected;
};

// Every octant with a tie between two pixels, the axes and the diagonals: the last pixel is
// never drawn, and a tie takes the lower coordinate whichever way the line runs.
// clang-format off
const LineCase LineCases[] = {
    {4, 2, {"...........", "...........", "...........", "...........", "...........", ".....##....", ".......##..", "...........", "...........", "...........", "..........."}},
    {2, 4, {"...........", "...........", "...........", "...........", "...........", ".....#.....", ".....#.....", "......#....", "......#....", "...........", "..........."}},
    {-2, 4, {"...........", "...........", "...........", "...........", "...........", ".....#.....", "....#......", "....#......", "...#.......", "...........", "..........."}},
    {-4, 2, {"...........", "...........", "...........", "...........", "...........", "....##.....", "..##.......", "...........", "...........", "...........", "..........."}},
    {-4, -2, {"...........", "...........", "...........", "..#........", "...##......", ".....#.....", "...........", "...........", "...........", "...........", "..........."}},
    {-2, -4, {"...........", "...........", "...#.......", "....#......", "....#......", ".....#.....", "...........", "...........", "...........", "...........", "..........."}},
    {2, -4, {"...........", "...........", "......#....", "......#....", ".....#.....", ".....#.....", "...........", "...........", "...........", "...........", "..........."}},
    {4, -2, {"...........", "...........", "...........", "........#..", "......##...", ".....#.....", "...........", "...........", "...........", "...........", "..........."}},
    {5, 0, {"...........", "...........", "...........", "...........", "...........", ".....#####.", "...........", "...........", "...........", "...........", "..........."}},
    {0, -5, {"...........", ".....#.....", ".....#.....", ".....#.....", ".....#.....", ".....#.....", "...........", "...........", "...........", "...........", "..........."}},
    {3, 3, {"...........", "...........", "...........", "...........", "...........", ".....#.....", "......#....", ".......#...", "...........", "...........", "..........."}},
    {-3, 3, {"...........", "...........", "...........", "...........", "...........", ".....#.....", "....#......", "...#.......", "...........", "...........", "..........."}},
};
// clang-format on

class LinePatternTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LinePatternTest, MatchesReferenceGdi)
{
    const LineCase& line = GetParam();
    TTestCanvas canvas(11, 11);
    canvas.UsePen(PS_SOLID, 1, PenColor);
    const POINT points[] = {{5, 5}, {5 + line.Dx, 5 + line.Dy}};
    EXPECT_TRUE(Polyline(canvas.Dc(), points, 2));
    EXPECT_EQ(canvas.Text(0, PixelOf(PenColor)), line.Expected);
}

INSTANTIATE_TEST_SUITE_P(Octants, LinePatternTest, ::testing::ValuesIn(LineCases), [](const auto& AInfo) {
    const auto withSign = [](int AValue) {
        return (AValue < 0 ? "Minus" : "Plus") + std::to_string(AValue < 0 ? -AValue : AValue);
    };
    return "Dx" + withSign(AInfo.param.Dx) + "Dy" + withSign(AInfo.param.Dy);
});

struct PolylineCase {
    const char* Name;
    std::vector<POINT> Points;
    std::vector<std::string> Expected;
};

// Drawn with R2_XORPEN, so a pixel drawn twice disappears: joints are drawn once, the figure
// is not closed, and only a real crossing is drawn twice.
// clang-format off
const PolylineCase PolylineCases[] = {
    {"OpenFigure", {{1, 1}, {5, 1}, {5, 4}, {1, 4}}, {"........", ".#####..", ".....#..", ".....#..", "..####..", "........"}},
    {"Crossing", {{1, 1}, {5, 5}, {5, 1}, {1, 5}, {1, 1}}, {"........", ".#...#..", ".##.##..", ".#...#..", ".##.##..", ".#...#.."}},
    {"BackAndForth", {{1, 1}, {6, 1}, {1, 1}}, {"........", ".#....#.", "........", "........", "........", "........"}},
    {"ZeroLengthSegments", {{2, 2}, {2, 2}, {4, 2}, {4, 2}}, {"........", "........", "..##....", "........", "........", "........"}},
};
// clang-format on

class PolylinePatternTest : public ::testing::TestWithParam<PolylineCase> {};

TEST_P(PolylinePatternTest, MatchesReferenceGdi)
{
    const PolylineCase& line = GetParam();
    TTestCanvas canvas(8, 6);
    canvas.UsePen(PS_SOLID, 1, PenColor);
    SetROP2(canvas.Dc(), R2_XORPEN);
    EXPECT_TRUE(Polyline(canvas.Dc(), line.Points.data(), static_cast<int>(line.Points.size())));
    EXPECT_EQ(canvas.Text(0, PixelOf(PenColor)), line.Expected);
}

INSTANTIATE_TEST_SUITE_P(Joints, PolylinePatternTest, ::testing::ValuesIn(PolylineCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(PolylineTest, FewerThanTwoPointsOrNoPenDrawNothing)
{
    TTestCanvas canvas(4, 4);
    canvas.UsePen(PS_SOLID, 1, PenColor);
    const POINT points[] = {{0, 0}, {3, 3}};
    EXPECT_FALSE(Polyline(canvas.Dc(), points, 1));
    EXPECT_FALSE(Polyline(canvas.Dc(), points, 0));
    EXPECT_FALSE(Polyline(canvas.Dc(), points, -1));
    EXPECT_FALSE(Polyline(canvas.Dc(), nullptr, 2));
    SelectObject(canvas.Dc(), GetStockObject(NULL_PEN));
    EXPECT_TRUE(Polyline(canvas.Dc(), points, 2));
    EXPECT_EQ(canvas.Text(0, PixelOf(PenColor)), std::vector<std::string>(4, "...."));
}

struct FillCase {
    const char* Name;
    RECT Rect;
    std::vector<std::string> Expected;
};

const FillCase FillCases[] = {
    {"Inside", {1, 1, 3, 4}, {".....", ".##..", ".##..", ".##..", "....."}},
    {"Empty", {2, 2, 2, 4}, {".....", ".....", ".....", ".....", "....."}},
    {"InvertedX", {4, 1, 1, 3}, {".....", ".....", ".....", ".....", "....."}},
    {"InvertedY", {1, 4, 3, 1}, {".....", ".....", ".....", ".....", "....."}},
    {"ClippedAllRound", {-3, -3, 90, 90}, {"#####", "#####", "#####", "#####", "#####"}},
    {"LeftAndTop", {-2, -2, 2, 1}, {"##...", ".....", ".....", ".....", "....."}},
    {"RightAndBottom", {3, 4, 9, 9}, {".....", ".....", ".....", ".....", "...##"}},
    {"Outside", {6, 0, 9, 5}, {".....", ".....", ".....", ".....", "....."}},
};

class FillRectTest : public ::testing::TestWithParam<std::tuple<FillCase, TRowOrder>> {};

// The fill copies the brush whatever the context's raster operation is.
TEST_P(FillRectTest, FillsLeftAndTopUpToRightAndBottom)
{
    const auto& [fill, orientation] = GetParam();
    TTestCanvas canvas(5, 5, orientation);
    SetROP2(canvas.Dc(), R2_XORPEN);
    const LOGBRUSH solid{BS_SOLID, PenColor, 0};
    HBRUSH brush = CreateBrushIndirect(&solid);
    EXPECT_EQ(FillRect(canvas.Dc(), &fill.Rect, brush), 1);
    EXPECT_EQ(canvas.Text(0, PixelOf(PenColor)), fill.Expected);
    EXPECT_TRUE(DeleteObject(brush));
}

INSTANTIATE_TEST_SUITE_P(Rectangles, FillRectTest,
                         ::testing::Combine(::testing::ValuesIn(FillCases),
                                            ::testing::Values(TRowOrder::TopDown, TRowOrder::BottomUp)),
                         [](const auto& AInfo) {
                             return std::string(std::get<0>(AInfo.param).Name) +
                                    (std::get<1>(AInfo.param) == TRowOrder::TopDown ? "TopDown" : "BottomUp");
                         });

TEST(FillRectTest, TakesItsBrushArgumentNotTheSelectedOne)
{
    TTestCanvas canvas(3, 1);
    canvas.UseBrush(BS_SOLID, BrushColor);
    const RECT all{0, 0, 3, 1};
    EXPECT_EQ(FillRect(canvas.Dc(), &all, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))), 1);
    EXPECT_EQ(canvas.At(0, 0), 0u);
    EXPECT_EQ(FillRect(canvas.Dc(), &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))), 1);
    EXPECT_EQ(canvas.At(2, 0), 0x00808080u);
    // A brush argument of a system colour index plus one fills with that colour.
    EXPECT_EQ(FillRect(canvas.Dc(), &all, reinterpret_cast<HBRUSH>(COLOR_HIGHLIGHT + 1)), 1);
    EXPECT_EQ(canvas.At(1, 0), PixelOf(GetSysColor(COLOR_HIGHLIGHT)));
}

TEST(FillRectTest, RefusesMissingArguments)
{
    TTestCanvas canvas(2, 2);
    const RECT all{0, 0, 2, 2};
    EXPECT_EQ(FillRect(canvas.Dc(), nullptr, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
    EXPECT_EQ(FillRect(nullptr, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
    EXPECT_EQ(FillRect(canvas.Dc(), &all, reinterpret_cast<HBRUSH>(std::uintptr_t{0x7654321})), 0);
}

// Each raster operation on a pen bit and a destination bit, checked on all 32 bits of a pixel.
TEST(RasterOperationTest, AllSixteenBinaryOperations)
{
    const std::uint32_t pen = PixelOf(RGB(0xC3, 0x5A, 0x0F));
    const std::uint32_t destination = 0x00A5F00Fu;
    struct Operation {
        int Rop2;
        std::uint32_t Expected;
    };
    const std::uint32_t p = pen, d = destination;
    // clang-format off
    const Operation operations[] = {
        {R2_BLACK, 0u},          {R2_NOTMERGEPEN, ~(p | d)}, {R2_MASKNOTPEN, ~p & d}, {R2_NOTCOPYPEN, ~p},
        {R2_MASKPENNOT, p & ~d}, {R2_NOT, ~d},               {R2_XORPEN, p ^ d},      {R2_NOTMASKPEN, ~(p & d)},
        {R2_MASKPEN, p & d},     {R2_NOTXORPEN, ~(p ^ d)},   {R2_NOP, d},             {R2_MERGENOTPEN, ~p | d},
        {R2_COPYPEN, p},         {R2_MERGEPENNOT, p | ~d},   {R2_MERGEPEN, p | d},    {R2_WHITE, 0xFFFFFFFFu},
    };
    // clang-format on
    for (const Operation& operation : operations) {
        TTestCanvas canvas(2, 1);
        canvas.Clear(destination);
        canvas.UsePen(PS_SOLID, 1, RGB(0xC3, 0x5A, 0x0F));
        SetROP2(canvas.Dc(), operation.Rop2);
        const POINT points[] = {{0, 0}, {2, 0}};
        Polyline(canvas.Dc(), points, 2);
        EXPECT_EQ(canvas.At(0, 0), operation.Expected) << "ROP2 " << operation.Rop2;
        EXPECT_EQ(canvas.At(1, 0), operation.Expected) << "ROP2 " << operation.Rop2;
    }
}

TEST(RasterizingTest, OffKeepsEveryPixel)
{
    TTestCanvas canvas(6, 6);
    canvas.UsePen(PS_SOLID, 1, PenColor);
    canvas.UseBrush(BS_SOLID, BrushColor);
    StandInSetRasterizing(FALSE);
    const RECT all{0, 0, 6, 6};
    const POINT points[] = {{0, 0}, {5, 5}};
    EXPECT_EQ(FillRect(canvas.Dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 1);
    EXPECT_TRUE(Ellipse(canvas.Dc(), 0, 0, 6, 6));
    EXPECT_TRUE(Polyline(canvas.Dc(), points, 2));
    StandInSetRasterizing(TRUE);
    EXPECT_EQ(canvas.Text(0, 0xDEAD), std::vector<std::string>(6, "......"));
}

// Drawing clipped to a small bitmap must give exactly the pixels that the same drawing gives
// on a larger bitmap around it: clipping at each edge changes nothing inside. Lines reach far
// outside, so clipping must resume their walk exactly.
TEST(ClippingTest, ClippedDrawingEqualsTheCropOfUnclippedDrawing)
{
    constexpr int Margin = 24;
    constexpr int Width = 17;
    constexpr int Height = 13;
    std::mt19937 random(20261209);
    const auto coordinate = [&](int ALow, int AHigh) {
        return std::uniform_int_distribution<int>(ALow, AHigh)(random);
    };
    for (int round = 0; round < 300; ++round) {
        TTestCanvas small(Width, Height, round % 2 == 0 ? TRowOrder::TopDown : TRowOrder::BottomUp);
        TTestCanvas large(Width + 2 * Margin, Height + 2 * Margin);
        const int radius = coordinate(0, 9);
        const int x = coordinate(-radius - 2, Width + radius + 2);
        const int y = coordinate(-radius - 2, Height + radius + 2);
        const int reach = round % 3 == 0 ? 1000000 : 40;
        const POINT far[] = {{coordinate(-reach, reach), coordinate(-reach, reach)},
                             {coordinate(-4, Width + 4), coordinate(-4, Height + 4)},
                             {coordinate(-reach, reach), coordinate(-reach, reach)}};
        for (TTestCanvas* canvas : {&small, &large}) {
            const int offset = canvas == &large ? Margin : 0;
            canvas->UsePen(PS_SOLID, 1, PenColor);
            canvas->UseBrush(BS_SOLID, BrushColor);
            SetROP2(canvas->Dc(), R2_XORPEN);
            Ellipse(canvas->Dc(), x - radius + offset, y - radius + offset, x + radius + offset, y + radius + offset);
            POINT moved[3];
            for (int i = 0; i < 3; ++i)
                moved[i] = POINT{far[i].x + offset, far[i].y + offset};
            Polyline(canvas->Dc(), moved, 3);
        }
        for (int row = 0; row < Height; ++row)
            for (int column = 0; column < Width; ++column)
                ASSERT_EQ(small.At(column, row), large.At(column + Margin, row + Margin))
                    << "round " << round << " at " << column << "," << row;
    }
}

} // namespace

// --- The fast paths against the obvious ones, on seeded input: case i is seeded by i ---

// Any rectangle, clipped or not, over whole rows or part of them, in either row order: exactly
// the pixels of a plain per-pixel model change, to exactly the brush's colour.
TEST(FastPathTest, FillRectEqualsAPerPixelModel)
{
    for (unsigned seed = 0; seed < 200; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int ALow, int AHigh) { return std::uniform_int_distribution<int>(ALow, AHigh)(random); };
        const int width = pick(1, 300);
        const int height = pick(1, 40);
        TTestCanvas canvas(width, height, seed % 2 == 0 ? TRowOrder::TopDown : TRowOrder::BottomUp);
        const std::uint32_t background = random() & 0x00FFFFFFu;
        canvas.Clear(background);
        // Edges often beyond the bitmap, so that whole rows are filled as often as parts.
        const RECT rect{pick(-8, width), pick(-8, height), pick(0, width + 8), pick(0, height + 8)};
        const COLORREF color = seed % 5 == 0 ? RGB(0, 0, 0) : static_cast<COLORREF>(random() & 0x00FFFFFFu);
        const LOGBRUSH solid{BS_SOLID, color, 0};
        gdi::TUniqueBrush brush(CreateBrushIndirect(&solid));
        ASSERT_EQ(FillRect(canvas.Dc(), &rect, brush.Get()), 1) << "seed " << seed;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool inside = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
                ASSERT_EQ(canvas.At(x, y), inside ? PixelOf(color) : background)
                    << "seed " << seed << " at " << x << "," << y;
            }
    }
}

// Copying writes a run of one colour in blocks, a small dot from its table of rows and skips
// the brush under the outline; merging goes pixel by pixel over walked rows. Onto black, with
// the brush's bits a subset of the pen's, the two must give the same pixels: every pixel ends
// as the last colour written to it either way (brush then pen, or pen over pen).
TEST(FastPathTest, CopyingEqualsMergingOntoBlack)
{
    for (unsigned seed = 0; seed < 400; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int ALow, int AHigh) { return std::uniform_int_distribution<int>(ALow, AHigh)(random); };
        const int width = pick(1, 90);
        const int height = pick(1, 50);
        const TRowOrder order = seed % 2 == 0 ? TRowOrder::TopDown : TRowOrder::BottomUp;
        const COLORREF pen = static_cast<COLORREF>(random() & 0x00FFFFFFu);
        const COLORREF brush = pen & static_cast<COLORREF>(random());
        const UINT penStyle = pick(0, 7) == 0 ? PS_NULL : (pick(0, 5) == 0 ? PS_INSIDEFRAME : PS_SOLID);
        const int penWidth = pick(0, 3) == 0 ? pick(2, 4) : 1;
        const UINT brushStyle = pick(0, 5) == 0 ? BS_NULL : BS_SOLID;
        // Mostly dots of the frame's sizes, some larger than the table, some cut by an edge.
        const int boxWidth = pick(0, 3) == 0 ? pick(0, 60) : pick(0, 16);
        const int boxHeight = pick(0, 3) == 0 ? pick(0, 60) : boxWidth + pick(-2, 2);
        const int left = pick(-boxWidth, width);
        const int top = pick(-boxHeight, height);
        std::vector<POINT> points(static_cast<std::size_t>(pick(2, 6)));
        for (POINT& point : points)
            point = pick(0, 4) == 0 ? POINT{pick(-5000, 5000), pick(-5000, 5000)}
                                    : POINT{pick(-10, width + 10), pick(-10, height + 10)};

        TTestCanvas copying(width, height, order);
        TTestCanvas merging(width, height, order);
        for (auto [canvas, rop2] : {std::pair{&copying, R2_COPYPEN}, std::pair{&merging, R2_MERGEPEN}}) {
            canvas->UsePen(penStyle, penWidth, pen);
            canvas->UseBrush(brushStyle, brush);
            SetROP2(canvas->Dc(), rop2);
            Ellipse(canvas->Dc(), left, top, left + boxWidth, top + boxHeight);
            Polyline(canvas->Dc(), points.data(), static_cast<int>(points.size()));
        }
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(copying.At(x, y), merging.At(x, y)) << "seed " << seed << " at " << x << "," << y;
    }
}
