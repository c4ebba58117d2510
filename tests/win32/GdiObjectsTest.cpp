// Objects, handles and per-context state of the stand-in's GDI, with the answers real GDI gives.
#include "tests/support/LeakCheck.h"
#include "tests/support/TestCanvas.h"

#include <win32_standin.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using testing_support::TTestCanvas;

HPEN MakePen(UINT AStyle, int AWidth, COLORREF AColor)
{
    const LOGPEN pen{AStyle, {AWidth, 0}, AColor};
    return CreatePenIndirect(&pen);
}

HBRUSH MakeBrush(UINT AStyle, COLORREF AColor)
{
    const LOGBRUSH brush{AStyle, AColor, 0};
    return CreateBrushIndirect(&brush);
}

TEST(StockObjectTest, TypesAndAttributes)
{
    struct Stock {
        int Index;
        DWORD Type;
    };
    const Stock stocks[] = {{WHITE_BRUSH, OBJ_BRUSH},   {NULL_BRUSH, OBJ_BRUSH}, {BLACK_PEN, OBJ_PEN},
                            {NULL_PEN, OBJ_PEN},        {SYSTEM_FONT, OBJ_FONT}, {DEFAULT_GUI_FONT, OBJ_FONT},
                            {DEFAULT_PALETTE, OBJ_PAL}, {DC_BRUSH, OBJ_BRUSH},   {DC_PEN, OBJ_PEN},
                            {DC_PEN + 1, OBJ_BITMAP}};
    for (const Stock& stock : stocks)
        EXPECT_EQ(GetObjectType(GetStockObject(stock.Index)), stock.Type) << stock.Index;
    EXPECT_EQ(GetStockObject(9), nullptr);
    EXPECT_EQ(GetStockObject(-1), nullptr);
    EXPECT_EQ(GetStockObject(DC_PEN + 2), nullptr);

    LOGPEN pen{};
    ASSERT_EQ(GetObjectW(GetStockObject(WHITE_PEN), sizeof(pen), &pen), static_cast<int>(sizeof(LOGPEN)));
    EXPECT_EQ(pen.lopnStyle, static_cast<UINT>(PS_SOLID));
    EXPECT_EQ(pen.lopnWidth.x, 0);
    EXPECT_EQ(pen.lopnColor, RGB(255, 255, 255));
    LOGBRUSH brush{};
    ASSERT_EQ(GetObjectW(GetStockObject(GRAY_BRUSH), sizeof(brush), &brush), static_cast<int>(sizeof(LOGBRUSH)));
    EXPECT_EQ(brush.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(brush.lbColor, RGB(128, 128, 128));
}

TEST(StockObjectTest, AreNeverDeletedNorCounted)
{
    const std::size_t live = StandInLiveObjectCount();
    for (int index : {WHITE_BRUSH, NULL_BRUSH, BLACK_PEN, NULL_PEN, SYSTEM_FONT, DEFAULT_PALETTE}) {
        HGDIOBJ stock = GetStockObject(index);
        EXPECT_TRUE(DeleteObject(stock));
        EXPECT_NE(GetObjectType(stock), 0u) << index;
        EXPECT_EQ(GetStockObject(index), stock);
    }
    EXPECT_EQ(StandInLiveObjectCount(), live);
}

TEST(ObjectCreationTest, FollowsGdiRules)
{
    // Every null pen or hollow brush is the stock one.
    EXPECT_EQ(MakePen(PS_NULL, 3, RGB(1, 2, 3)), GetStockObject(NULL_PEN));
    EXPECT_EQ(MakeBrush(BS_NULL, RGB(1, 2, 3)), GetStockObject(NULL_BRUSH));

    // The width is the magnitude of its x part; styles beyond the known ones are solid.
    struct PenCase {
        UINT Style;
        int Width;
        UINT ExpectedStyle;
        int ExpectedWidth;
    };
    const PenCase pens[] = {{PS_SOLID, 1, PS_SOLID, 1},
                            {PS_DASH, -3, PS_DASH, 3},
                            {PS_INSIDEFRAME, 0, PS_INSIDEFRAME, 0},
                            {7, 2, PS_SOLID, 2},
                            {9, -1, PS_SOLID, 1}};
    for (const PenCase& made : pens) {
        const LOGPEN in{made.Style, {made.Width, 7}, RGB(1, 2, 3)};
        HPEN pen = CreatePenIndirect(&in);
        ASSERT_NE(pen, nullptr);
        LOGPEN out{};
        EXPECT_EQ(GetObjectW(pen, sizeof(out), &out), static_cast<int>(sizeof(LOGPEN)));
        EXPECT_EQ(out.lopnStyle, made.ExpectedStyle);
        EXPECT_EQ(out.lopnWidth.x, made.ExpectedWidth);
        EXPECT_EQ(out.lopnWidth.y, 0);
        EXPECT_EQ(out.lopnColor, RGB(1, 2, 3));
        EXPECT_TRUE(DeleteObject(pen));
    }
    EXPECT_EQ(CreatePenIndirect(nullptr), nullptr);
    EXPECT_EQ(CreateBrushIndirect(nullptr), nullptr);
    EXPECT_EQ(MakeBrush(3, 0), nullptr); // a pattern brush needs a bitmap
}

TEST(GetObjectTest, SizesAndShortBuffers)
{
    HBRUSH brush = MakeBrush(BS_SOLID, RGB(9, 8, 7));
    EXPECT_EQ(GetObjectW(brush, 0, nullptr), static_cast<int>(sizeof(LOGBRUSH)));
    LOGBRUSH partial{99, 99, 99};
    // A brush is copied as far as the buffer goes, a pen whole or not at all.
    EXPECT_EQ(GetObjectW(brush, 4, &partial), 4);
    EXPECT_EQ(partial.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(partial.lbColor, 99u);
    LOGPEN pen{};
    EXPECT_EQ(GetObjectW(GetStockObject(BLACK_PEN), 0, nullptr), static_cast<int>(sizeof(LOGPEN)));
    EXPECT_EQ(GetObjectW(GetStockObject(BLACK_PEN), 4, &pen), 0);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(GetObjectW(brush, sizeof(partial), &partial), 0);
}

TEST(HandleTest, DeletedAndUnknownHandlesAreRefused)
{
    HPEN pen = MakePen(PS_SOLID, 1, 0);
    ASSERT_TRUE(DeleteObject(pen));
    // The slot is reused at once; the old handle must still be refused.
    HPEN next = MakePen(PS_SOLID, 1, 0);
    const HGDIOBJ unknown = reinterpret_cast<HGDIOBJ>(std::uintptr_t{0x12345678abcdULL});
    TTestCanvas canvas(1, 1);
    for (HGDIOBJ bad : {static_cast<HGDIOBJ>(pen), unknown, static_cast<HGDIOBJ>(nullptr)}) {
        EXPECT_FALSE(DeleteObject(bad));
        EXPECT_EQ(GetObjectType(bad), 0u);
        EXPECT_FALSE(UnrealizeObject(bad));
        EXPECT_EQ(SelectObject(canvas.Dc(), bad), nullptr);
        const HDC badDc = static_cast<HDC>(bad);
        EXPECT_EQ(SelectObject(badDc, GetStockObject(BLACK_PEN)), nullptr);
        EXPECT_EQ(SetROP2(badDc, R2_XORPEN), 0);
        EXPECT_EQ(GetROP2(badDc), 0);
        EXPECT_EQ(SetBkColor(badDc, 0), CLR_INVALID);
        EXPECT_EQ(GetBkColor(badDc), CLR_INVALID);
        EXPECT_EQ(SetBkMode(badDc, OPAQUE), 0);
        EXPECT_EQ(GetBkMode(badDc), 0);
        EXPECT_FALSE(MoveToEx(badDc, 1, 1, nullptr));
        POINT position{};
        EXPECT_FALSE(GetCurrentPositionEx(badDc, &position));
        EXPECT_FALSE(Ellipse(badDc, 0, 0, 4, 4));
        EXPECT_EQ(GetCurrentObject(badDc, OBJ_PEN), nullptr);
        EXPECT_FALSE(DeleteDC(badDc));
        const HDC made = CreateCompatibleDC(badDc == nullptr ? canvas.Dc() : badDc);
        EXPECT_EQ(made == nullptr, badDc != nullptr);
        if (made != nullptr)
            DeleteDC(made);
    }
    // A context is neither an object for SelectObject nor deleted by DeleteObject.
    EXPECT_EQ(SelectObject(canvas.Dc(), canvas.Dc()), nullptr);
    EXPECT_FALSE(DeleteObject(canvas.Dc()));
    EXPECT_EQ(SelectObject(canvas.Dc(), GetStockObject(DEFAULT_PALETTE)), nullptr);
    EXPECT_TRUE(DeleteObject(next));
}

TEST(HandleTest, SelectedObjectsAreNotDeleted)
{
    testing_support::ExpectRefusedDeletes(2);
    const std::size_t refused = StandInRefusedDeleteCount();
    TTestCanvas canvas(2, 2);
    HPEN pen = MakePen(PS_SOLID, 1, RGB(1, 1, 1));
    HBRUSH brush = MakeBrush(BS_SOLID, RGB(2, 2, 2));
    SelectObject(canvas.Dc(), pen);
    SelectObject(canvas.Dc(), brush);
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(brush));
    EXPECT_EQ(StandInRefusedDeleteCount(), refused + 2);
    EXPECT_EQ(GetObjectType(pen), static_cast<DWORD>(OBJ_PEN));
    SelectObject(canvas.Dc(), GetStockObject(BLACK_PEN));
    SelectObject(canvas.Dc(), GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(StandInRefusedDeleteCount(), refused + 2);
}

TEST(HandleTest, DeletingAContextReleasesWhatItSelected)
{
    testing_support::ExpectRefusedDeletes(1);
    HDC dc = CreateCompatibleDC(nullptr);
    HPEN pen = MakePen(PS_SOLID, 1, 0);
    SelectObject(dc, pen);
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_TRUE(DeleteObject(pen));
}

TEST(HandleTest, ABitmapIsSelectedInOneContextAtATime)
{
    testing_support::ExpectRefusedDeletes(1);
    TTestCanvas first(2, 2);
    HDC second = CreateCompatibleDC(nullptr);
    HGDIOBJ bitmap = GetCurrentObject(first.Dc(), OBJ_BITMAP);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    EXPECT_EQ(SelectObject(first.Dc(), bitmap), bitmap); // selecting it again where it is
    EXPECT_FALSE(DeleteObject(bitmap));
    // The stock bitmap may be in any number of contexts.
    EXPECT_EQ(GetCurrentObject(second, OBJ_BITMAP), GetStockObject(DC_PEN + 1));
    EXPECT_TRUE(DeleteDC(second));
}

TEST(LiveObjectTest, CountsMadeObjectsUntilDeleted)
{
    const std::size_t live = StandInLiveObjectCount();
    HPEN pen = MakePen(PS_SOLID, 1, 0);
    HBRUSH brush = MakeBrush(BS_SOLID, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(StandInLiveObjectCount(), live + 3);
    {
        TTestCanvas canvas(3, 3); // a context and a bitmap
        EXPECT_EQ(StandInLiveObjectCount(), live + 5);
    }
    EXPECT_EQ(StandInLiveObjectCount(), live + 3);
    MakePen(PS_NULL, 1, 0); // the stock null pen
    EXPECT_EQ(StandInLiveObjectCount(), live + 3);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(StandInLiveObjectCount(), live);
}

TEST(ContextTest, NewMemoryContextHasGdiDefaults)
{
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetObjectType(dc), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    BITMAP bitmap{};
    EXPECT_EQ(GetObjectW(GetCurrentObject(dc, OBJ_BITMAP), sizeof(bitmap), &bitmap), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(bitmap.bmWidth, 1);
    EXPECT_EQ(bitmap.bmHeight, 1);
    EXPECT_EQ(bitmap.bmBitsPixel, 1);
    EXPECT_EQ(GetROP2(dc), R2_COPYPEN);
    EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    POINT position{-1, -1};
    EXPECT_TRUE(GetCurrentPositionEx(dc, &position));
    EXPECT_EQ(position.x, 0);
    EXPECT_EQ(position.y, 0);
    EXPECT_FALSE(GetCurrentPositionEx(dc, nullptr));
    // Drawing on the one-pixel stock bitmap is clipped to it, not refused.
    EXPECT_TRUE(Ellipse(dc, -5, -5, 5, 5));
    EXPECT_TRUE(DeleteDC(dc));
}

TEST(ContextTest, SettersReturnThePreviousValueAndRefuseInvalidOnes)
{
    TTestCanvas canvas(1, 1);
    const HDC dc = canvas.Dc();
    EXPECT_EQ(SetROP2(dc, R2_XORPEN), R2_COPYPEN);
    EXPECT_EQ(SetROP2(dc, 0), 0);
    EXPECT_EQ(SetROP2(dc, 17), 0);
    EXPECT_EQ(SetROP2(dc, R2_COPYPEN), R2_XORPEN);
    EXPECT_EQ(SetBkColor(dc, RGB(1, 2, 3)), RGB(255, 255, 255));
    EXPECT_EQ(SetBkColor(dc, 0), RGB(1, 2, 3));
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(dc, 3), 0);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), TRANSPARENT);
    POINT old{-1, -1};
    EXPECT_TRUE(MoveToEx(dc, 5, -6, &old));
    EXPECT_EQ(old.x, 0);
    EXPECT_EQ(old.y, 0);
    EXPECT_TRUE(MoveToEx(dc, 7, 8, &old));
    EXPECT_EQ(old.x, 5);
    EXPECT_EQ(old.y, -6);
}

TEST(ContextTest, SelectObjectReturnsThePreviousObjectOfItsKind)
{
    TTestCanvas canvas(1, 1);
    const HDC dc = canvas.Dc();
    HPEN pen = MakePen(PS_SOLID, 1, 0);
    HBRUSH brush = MakeBrush(BS_SOLID, 0);
    EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_PEN)), pen);
    EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_BRUSH)), brush);
    EXPECT_EQ(SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT)), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(NULL_PEN));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(brush));
}

TEST(DibSectionTest, MakesZeroedMemoryInEitherOrientation)
{
    for (LONG height : {-3, 3}) {
        BITMAPINFO info{};
        info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 4, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        ASSERT_NE(bits, nullptr);
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(pixels[i], 0u);
        BITMAP described{};
        EXPECT_EQ(GetObjectW(bitmap, sizeof(described), &described), static_cast<int>(sizeof(BITMAP)));
        EXPECT_EQ(described.bmWidth, 4);
        EXPECT_EQ(described.bmHeight, 3);
        EXPECT_EQ(described.bmWidthBytes, 16);
        EXPECT_EQ(described.bmBits, bits);
        EXPECT_TRUE(DeleteObject(bitmap));
    }
}

TEST(DibSectionTest, RefusesWhatItCannotMake)
{
    const BITMAPINFOHEADER good{sizeof(BITMAPINFOHEADER), 4, 4, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const auto with = [&](auto AChange) {
        BITMAPINFO info{};
        info.bmiHeader = good;
        AChange(info.bmiHeader);
        return info;
    };
    // clang-format off
    const BITMAPINFO bad[] = {
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biBitCount = 24; }),
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biCompression = 3; }),
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biWidth = 0; }),
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biWidth = -4; }),
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biHeight = 0; }),
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biHeight = INT32_MIN; }),
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biWidth = AHeader.biHeight = 0x7FFFFFFF; }),
        with([](BITMAPINFOHEADER &AHeader) { AHeader.biSize = 12; }),
    };
    // clang-format on
    for (const BITMAPINFO& info : bad) {
        void* bits = &bits;
        EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
        EXPECT_EQ(bits, nullptr);
    }
    void* bits = nullptr;
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

} // namespace
