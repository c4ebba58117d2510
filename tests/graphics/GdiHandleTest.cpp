// The GDI handle owners, the selection guard and the memory context built on them, on the
// stand-in and on Windows alike. The leak check of the test main adds, natively, that nothing is
// left and no delete is refused.
#include "graphics/GdiHandle.h"
#include "graphics/MemoryContext.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <utility>

namespace {

HPEN MakePen(COLORREF AColor)
{
    const LOGPEN pen{PS_SOLID, {1, 0}, AColor};
    return CreatePenIndirect(&pen);
}

TEST(GdiHandle, AnOwnerDeletesItsObjectOnceWhereverOwnershipWent)
{
    HPEN raw = nullptr;
    {
        const gdi::TUniquePen pen(MakePen(RGB(1, 2, 3)));
        raw = pen.Get();
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_PEN));
    }
    EXPECT_EQ(GetObjectType(raw), 0u) << "deleted with its owner";

    gdi::TUniquePen first(MakePen(RGB(4, 5, 6)));
    raw = first.Get();
    gdi::TUniquePen second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), raw);
    EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_PEN));

    // Reset deletes what was held; Release hands the object over undeleted.
    const HPEN replacement = MakePen(RGB(7, 8, 9));
    second.Reset(replacement);
    EXPECT_EQ(GetObjectType(raw), 0u);
    const HPEN released = second.Release();
    EXPECT_EQ(released, replacement);
    EXPECT_FALSE(second);
    EXPECT_EQ(GetObjectType(released), static_cast<DWORD>(OBJ_PEN));
    EXPECT_TRUE(DeleteObject(released));
}

TEST(GdiHandle, ASelectionPutsThePreviousObjectBackOnce)
{
    const gdi::TMemoryContext context(4, 4);
    ASSERT_TRUE(context.Valid());
    const HGDIOBJ original = GetCurrentObject(context.Dc(), OBJ_PEN);
    const gdi::TUniquePen red(MakePen(RGB(255, 0, 0)));
    const gdi::TUniquePen green(MakePen(RGB(0, 255, 0)));
    {
        gdi::TSelection outer(context.Dc(), red.Get());
        EXPECT_EQ(outer.Previous(), original);
        EXPECT_EQ(GetCurrentObject(context.Dc(), OBJ_PEN), red.Get());
        {
            gdi::TSelection inner(context.Dc(), green.Get());
            gdi::TSelection moved(std::move(inner)); // the moved-from guard puts nothing back
            EXPECT_EQ(GetCurrentObject(context.Dc(), OBJ_PEN), green.Get());
        }
        EXPECT_EQ(GetCurrentObject(context.Dc(), OBJ_PEN), red.Get());
        outer.Restore();
        EXPECT_EQ(GetCurrentObject(context.Dc(), OBJ_PEN), original);
        SelectObject(context.Dc(), green.Get());
    } // restored already: the guard leaves green selected
    EXPECT_EQ(GetCurrentObject(context.Dc(), OBJ_PEN), green.Get());
    SelectObject(context.Dc(), original);
}

TEST(GdiHandle, AFailedSelectionHasNothingToPutBack)
{
    const gdi::TMemoryContext context(2, 2);
    const HGDIOBJ original = GetCurrentObject(context.Dc(), OBJ_PEN);
    {
        const gdi::TSelection none(context.Dc(), nullptr);
        EXPECT_EQ(none.Previous(), nullptr);
    }
    EXPECT_EQ(GetCurrentObject(context.Dc(), OBJ_PEN), original);
}

// Row 0 is the top row in either order; only the memory differs.
TEST(MemoryContext, ReadsRowsInScreenOrderInEitherMemoryOrder)
{
    for (const gdi::TRowOrder order : {gdi::TRowOrder::TopDown, gdi::TRowOrder::BottomUp}) {
        SCOPED_TRACE(order == gdi::TRowOrder::TopDown ? "top-down" : "bottom-up");
        const gdi::TMemoryContext context(3, 2, order);
        ASSERT_TRUE(context.Valid());
        EXPECT_EQ(context.Pixel(2, 1), 0u) << "made all 0";
        EXPECT_EQ(GetObjectType(GetCurrentObject(context.Dc(), OBJ_BITMAP)), static_cast<DWORD>(OBJ_BITMAP));

        const LOGBRUSH solid{BS_SOLID, RGB(0x11, 0x22, 0x33), 0};
        const gdi::TUniqueBrush brush(CreateBrushIndirect(&solid));
        const RECT topLeft{0, 0, 1, 1};
        FillRect(context.Dc(), &topLeft, brush.Get());
        EXPECT_EQ(context.Pixel(0, 0), gdi::PixelOf(RGB(0x11, 0x22, 0x33)));
        const std::uint32_t* first = context.Bits();
        const std::uint32_t* topRow = order == gdi::TRowOrder::TopDown ? first : first + 3;
        EXPECT_EQ(topRow[0] & 0x00FFFFFFu, 0x00112233u);
        EXPECT_EQ(&context.At(0, 0), topRow);

        context.Fill(0x00ABCDEFu);
        EXPECT_EQ(context.Pixel(1, 1), 0x00ABCDEFu);
        EXPECT_EQ(context.Pixel(-1, 0), 0u) << "outside the bitmap";
        EXPECT_EQ(context.Pixel(3, 0), 0u);
        EXPECT_EQ(context.Pixel(0, 2), 0u);
    }
}

TEST(MemoryContext, PixelOfSwapsRedAndBlue)
{
    EXPECT_EQ(gdi::PixelOf(RGB(0x12, 0x34, 0x56)), 0x00123456u);
    EXPECT_EQ(gdi::PixelOf(0xFF000000u | RGB(1, 2, 3)), 0x00010203u) << "the top byte is dropped";
}

} // namespace
