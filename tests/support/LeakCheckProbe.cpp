// Tests that each leave one thing behind, in a program of their own: CTest runs each and expects
// the leak check to fail it with its message, and the clean ones to pass.
#include "graphics/GdiHandle.h"
#include "graphics/MemoryContext.h"
#include "tests/support/LeakCheck.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

HPEN MakePen()
{
    const LOGPEN pen{PS_SOLID, {1, 0}, RGB(1, 2, 3)};
    return CreatePenIndirect(&pen);
}

// Own what the leaking tests leave, one each, so that the process itself ends clean.
gdi::TUniquePen DeclaredPen;
gdi::TUniquePen LeftPen;

TEST(LeftBehind, Nothing)
{
    const gdi::TUniquePen pen(MakePen());
    fakeplayer::TFakeCore core;
    testing_support::Watch(core);
    core.AddRef();
    core.Release();
    EXPECT_TRUE(pen);
}

TEST(LeftBehind, DeclaredGdiObject)
{
    testing_support::ExpectGdiObjectsLeftBehind(1);
    DeclaredPen.Reset(MakePen());
    EXPECT_TRUE(DeclaredPen);
}

TEST(LeftBehind, GdiObject)
{
    LeftPen.Reset(MakePen());
    EXPECT_TRUE(LeftPen);
}

TEST(LeftBehind, RefusedDelete)
{
    const gdi::TMemoryContext context(4, 4);
    const gdi::TUniquePen pen(MakePen());
    const gdi::TSelection selected(context.Dc(), pen.Get());
    EXPECT_FALSE(DeleteObject(pen.Get())) << "a selected object is not deleted";
}

TEST(LeftBehind, PlayerReference)
{
    fakeplayer::TFakeCore core;
    testing_support::Watch(core);
    core.AddRef();
}

} // namespace
