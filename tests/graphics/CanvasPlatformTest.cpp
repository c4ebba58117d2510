// The drawing surface seen from the context alone: what is selected in it, the position, the
// pixels and the lifetime of the GDI objects. Only Win32 calls, so the same tests run on the
// stand-in natively and on the platform's own GDI under Wine.
#include "graphics/Graphics.h"
#include "rtl/SysUtils.h"
#include "tests/support/TestCanvas.h"

#include <gtest/gtest.h>

namespace {

using testing_support::TMemoryContext;

constexpr TColor Red = 0x000000FF;
constexpr TColor Green = 0x0000FF00;
// The same colours as a DIB pixel reads them (0x00RRGGBB).
constexpr std::uint32_t RedPixel = 0x00FF0000;
constexpr std::uint32_t GreenPixel = 0x0000FF00;
constexpr std::uint32_t WhitePixel = 0x00FFFFFF;

class CanvasPlatformTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FDc.Valid()); }

    HGDIOBJ Current(UINT AType) const { return GetCurrentObject(FDc.Dc(), AType); }

    TMemoryContext FDc{32, 32};
};

TEST_F(CanvasPlatformTest, DetachingLeavesTheStockObjectsSelected)
{
    const HGDIOBJ penBefore = Current(OBJ_PEN);
    const HGDIOBJ brushBefore = Current(OBJ_BRUSH);
    {
        TCanvas canvas;
        canvas.SetHandle(FDc.Dc());
        canvas.SetHandle(nullptr);
        EXPECT_EQ(Current(OBJ_PEN), penBefore) << "nothing was drawn, nothing was selected";
        EXPECT_EQ(Current(OBJ_BRUSH), brushBefore);

        canvas.SetHandle(FDc.Dc());
        canvas.Pen().SetColor(Red);
        canvas.Brush().SetColor(Green);
        canvas.Ellipse(2, 2, 10, 10);
        EXPECT_EQ(Current(OBJ_PEN), canvas.Pen().Handle());
        EXPECT_EQ(Current(OBJ_BRUSH), canvas.Brush().Handle());
        EXPECT_EQ(GetROP2(FDc.Dc()), R2_COPYPEN);
        EXPECT_EQ(GetBkMode(FDc.Dc()), OPAQUE);
        EXPECT_EQ(GetBkColor(FDc.Dc()), static_cast<COLORREF>(Green));
        canvas.SetHandle(nullptr);
    }
    EXPECT_EQ(Current(OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(Current(OBJ_BRUSH), GetStockObject(NULL_BRUSH));
    EXPECT_EQ(Current(OBJ_FONT), GetStockObject(SYSTEM_FONT));
}

TEST_F(CanvasPlatformTest, AChangedAttributeDeselectsAndItsObjectGoesWithItsLastUser)
{
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    canvas.Pen().SetColor(Red);
    canvas.Ellipse(2, 2, 10, 10);
    const HPEN red = canvas.Pen().Handle();
    ASSERT_EQ(GetObjectType(red), static_cast<DWORD>(OBJ_PEN));

    canvas.Pen().SetColor(Green);
    EXPECT_EQ(Current(OBJ_PEN), GetStockObject(BLACK_PEN)) << "the changed pen left the context";
    EXPECT_EQ(GetObjectType(red), 0u) << "and was deleted with its entry";
    canvas.Ellipse(2, 2, 10, 10);
    EXPECT_EQ(Current(OBJ_PEN), canvas.Pen().Handle());
    canvas.SetHandle(nullptr);
}

TEST_F(CanvasPlatformTest, ASharedObjectLivesWhileOneOfItsUsersDoes)
{
    HPEN shared = nullptr;
    {
        TCanvas first;
        {
            TCanvas second;
            first.Pen().SetColor(Red);
            second.Pen().SetColor(Red);
            shared = second.Pen().Handle();
            EXPECT_EQ(first.Pen().Handle(), shared);
        }
        EXPECT_EQ(GetObjectType(shared), static_cast<DWORD>(OBJ_PEN));
        first.SetHandle(FDc.Dc());
        first.Ellipse(0, 0, 4, 4);
        EXPECT_EQ(Current(OBJ_PEN), shared);
    }
    EXPECT_EQ(GetObjectType(shared), 0u);
}

TEST_F(CanvasPlatformTest, ThePositionMovesWithTheSurfaceFromContextToContext)
{
    TMemoryContext other(8, 8);
    ASSERT_TRUE(other.Valid());
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    MoveToEx(FDc.Dc(), 5, 6, nullptr);
    canvas.SetHandle(other.Dc());
    POINT position{};
    ASSERT_TRUE(GetCurrentPositionEx(other.Dc(), &position));
    EXPECT_EQ(position.x, 5);
    EXPECT_EQ(position.y, 6);
    canvas.SetHandle(nullptr);
}

TEST_F(CanvasPlatformTest, DrawingWithoutContextRaisesAndChangesNothing)
{
    TCanvas canvas;
    EXPECT_THROW(canvas.Ellipse(0, 0, 4, 4), rtl::EInvalidOperation);
    EXPECT_THROW(canvas.FillRect(TRect{0, 0, 4, 4}), rtl::EInvalidOperation);
    const TPoint line[] = {{0, 0}, {4, 4}};
    EXPECT_THROW(canvas.Polyline(line), rtl::EInvalidOperation);
    EXPECT_TRUE(canvas.State().Empty());
    canvas.SetHandle(FDc.Dc());
    canvas.Brush().SetColor(Green);
    canvas.FillRect(TRect{0, 0, 4, 4});
    EXPECT_EQ(FDc.Pixel(0, 0), GreenPixel);
    canvas.SetHandle(nullptr);
}

TEST_F(CanvasPlatformTest, PixelsOfTheThreePrimitives)
{
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    // The fill covers Left and Top up to, but not including, Right and Bottom.
    canvas.Brush().SetColor(Green);
    canvas.FillRect(TRect{4, 4, 8, 8});
    EXPECT_EQ(FDc.Pixel(4, 4), GreenPixel);
    EXPECT_EQ(FDc.Pixel(7, 7), GreenPixel);
    EXPECT_EQ(FDc.Pixel(8, 7), 0u);
    EXPECT_EQ(FDc.Pixel(7, 8), 0u);
    EXPECT_EQ(FDc.Pixel(3, 4), 0u);

    // A red outline round a green inside.
    canvas.Pen().SetColor(Red);
    canvas.Ellipse(12, 12, 28, 28);
    EXPECT_EQ(FDc.Pixel(20, 20), GreenPixel);
    EXPECT_EQ(FDc.Pixel(12, 20), RedPixel);
    EXPECT_EQ(FDc.Pixel(12, 12), 0u) << "the box's corner is outside the ellipse";

    // An open corner: the closing diagonal stays unpainted.
    canvas.Pen().SetColor(0x00FFFFFF);
    const TPoint corner[] = {{1, 20}, {9, 20}, {9, 28}};
    canvas.Polyline(corner);
    EXPECT_EQ(FDc.Pixel(5, 20), WhitePixel);
    EXPECT_EQ(FDc.Pixel(9, 24), WhitePixel);
    EXPECT_EQ(FDc.Pixel(5, 24), 0u);
    canvas.SetHandle(nullptr);
}

} // namespace
