// The recorder of the stand-in: every gdi32 and user32 call, in order, with its arguments and
// the pen and brush in force.
#include "tests/support/TestCanvas.h"

#include <win32_standin.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Recorded {
    std::string Function;
    HDC Dc;
    HGDIOBJ Object;
    std::vector<int32_t> Args;
    std::vector<POINT> Points;
    int32_t Result;
    HGDIOBJ Pen;
    HGDIOBJ Brush;
    LOGPEN PenData;
    LOGBRUSH BrushData;
};

// Installs itself as the recorder for its lifetime.
class Recording {
public:
    Recording() { StandInSetRecorder(&Recording::Record, this); }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    ~Recording() { StandInSetRecorder(nullptr, nullptr); }

    std::vector<Recorded> Calls;
    bool CallBack = false; // whether the recorder itself calls the API

private:
    static void Record(const STANDIN_CALL* ACall, void* AUser)
    {
        auto* self = static_cast<Recording*>(AUser);
        Recorded call{ACall->Function, ACall->Dc,      ACall->Object,   {}, {}, ACall->Result, ACall->Pen,
                      ACall->Brush,    ACall->PenData, ACall->BrushData};
        call.Args.assign(ACall->Args, ACall->Args + ACall->ArgCount);
        if (ACall->Points != nullptr && ACall->ArgCount > 0)
            call.Points.assign(ACall->Points, ACall->Points + ACall->Args[0]);
        self->Calls.push_back(call);
        if (self->CallBack) {
            self->CallBack = false; // one nested call is enough to show there is no deadlock
            GetObjectType(ACall->Object);
            self->CallBack = true;
        }
    }
};

std::vector<std::string> Names(const std::vector<Recorded>& ACalls)
{
    std::vector<std::string> names;
    for (const Recorded& call : ACalls)
        names.push_back(call.Function);
    return names;
}

TEST(RecorderTest, ReportsCallsInOrderWithArgumentsAndSelection)
{
    HDC dc = CreateCompatibleDC(nullptr);
    Recording recording;
    const LOGPEN penData{PS_SOLID, {1, 0}, RGB(1, 2, 3)};
    HPEN pen = CreatePenIndirect(&penData);
    const LOGBRUSH brushData{BS_SOLID, RGB(4, 5, 6), 0};
    HBRUSH brush = CreateBrushIndirect(&brushData);
    SelectObject(dc, pen);
    UnrealizeObject(brush);
    SelectObject(dc, brush);
    SetROP2(dc, R2_COPYPEN);
    SetBkColor(dc, RGB(4, 5, 6));
    SetBkMode(dc, OPAQUE);
    const RECT rect{0, 1, -2, 3};
    FillRect(dc, &rect, brush);
    Ellipse(dc, 10, 20, 30, 40);
    const POINT points[] = {{1, 2}, {3, 4}, {5, 6}};
    Polyline(dc, points, 3);
    MoveToEx(dc, 7, 8, nullptr);
    POINT position{};
    GetCurrentPositionEx(dc, &position);
    HGDIOBJ stock = GetStockObject(BLACK_PEN);
    SelectObject(dc, stock);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    DeleteObject(pen);
    DeleteObject(brush);
    const std::vector<Recorded> calls = recording.Calls;
    StandInSetRecorder(nullptr, nullptr);
    DeleteDC(dc);

    EXPECT_EQ(Names(calls), (std::vector<std::string>{
                                "CreatePenIndirect", "CreateBrushIndirect", "SelectObject", "UnrealizeObject",
                                "SelectObject", "SetROP2", "SetBkColor", "SetBkMode", "FillRect", "Ellipse", "Polyline",
                                "MoveToEx", "GetCurrentPositionEx", "GetStockObject", "SelectObject", "GetStockObject",
                                "SelectObject", "DeleteObject", "DeleteObject"}));
    ASSERT_EQ(calls.size(), 19u);
    // Create calls report the handle they return as the object.
    EXPECT_EQ(calls[0].Object, pen);
    EXPECT_EQ(calls[0].Args, (std::vector<int32_t>{PS_SOLID, 1, static_cast<int32_t>(RGB(1, 2, 3))}));
    EXPECT_EQ(calls[0].Dc, nullptr);
    EXPECT_EQ(calls[0].Pen, nullptr);
    EXPECT_EQ(calls[1].Object, brush);
    // SelectObject: the object argument, the previous object as result, the pen before the call.
    EXPECT_EQ(calls[2].Dc, dc);
    EXPECT_EQ(calls[2].Object, pen);
    EXPECT_EQ(calls[2].Pen, GetStockObject(BLACK_PEN));
    EXPECT_EQ(calls[2].Result, static_cast<int32_t>(reinterpret_cast<std::uintptr_t>(GetStockObject(BLACK_PEN))));
    EXPECT_EQ(calls[3].Object, brush);
    EXPECT_EQ(calls[3].Result, TRUE);
    EXPECT_EQ(calls[5].Args, (std::vector<int32_t>{R2_COPYPEN}));
    EXPECT_EQ(calls[5].Result, R2_COPYPEN);
    EXPECT_EQ(calls[6].Args, (std::vector<int32_t>{static_cast<int32_t>(RGB(4, 5, 6))}));
    EXPECT_EQ(calls[6].Result, static_cast<int32_t>(RGB(255, 255, 255)));
    EXPECT_EQ(calls[7].Args, (std::vector<int32_t>{OPAQUE}));
    // FillRect: the rectangle unchanged and the brush argument as the object.
    EXPECT_EQ(calls[8].Args, (std::vector<int32_t>{0, 1, -2, 3}));
    EXPECT_EQ(calls[8].Object, brush);
    // Drawing calls see the selected pen and brush with their attributes.
    for (const Recorded* drawing : {&calls[9], &calls[10]}) {
        EXPECT_EQ(drawing->Pen, pen);
        EXPECT_EQ(drawing->Brush, brush);
        EXPECT_EQ(drawing->PenData.lopnColor, RGB(1, 2, 3));
        EXPECT_EQ(drawing->PenData.lopnWidth.x, 1);
        EXPECT_EQ(drawing->BrushData.lbColor, RGB(4, 5, 6));
        EXPECT_EQ(drawing->BrushData.lbStyle, static_cast<UINT>(BS_SOLID));
    }
    EXPECT_EQ(calls[9].Args, (std::vector<int32_t>{10, 20, 30, 40}));
    EXPECT_EQ(calls[9].Result, TRUE);
    EXPECT_EQ(calls[10].Args, (std::vector<int32_t>{3}));
    ASSERT_EQ(calls[10].Points.size(), 3u);
    EXPECT_EQ(calls[10].Points[2].x, 5);
    EXPECT_EQ(calls[10].Points[2].y, 6);
    EXPECT_EQ(calls[11].Args, (std::vector<int32_t>{7, 8}));
    EXPECT_EQ(calls[13].Object, stock);
    EXPECT_EQ(calls[13].Args, (std::vector<int32_t>{BLACK_PEN}));
    EXPECT_EQ(calls[14].Result, static_cast<int32_t>(reinterpret_cast<std::uintptr_t>(pen)));
    EXPECT_EQ(calls[17].Object, pen);
    EXPECT_EQ(calls[17].Result, TRUE);
}

TEST(RecorderTest, RecordsRefusalsAndNothingOnceRemoved)
{
    Recording recording;
    recording.CallBack = true; // the recorder may call the API itself
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_EQ(SetROP2(nullptr, R2_XORPEN), 0);
    ASSERT_EQ(recording.Calls.size(), 4u);
    EXPECT_EQ(recording.Calls[0].Function, "DeleteObject");
    EXPECT_EQ(recording.Calls[0].Result, FALSE);
    EXPECT_EQ(recording.Calls[1].Function, "GetObjectType"); // the recorder's own call
    EXPECT_EQ(recording.Calls[2].Function, "SetROP2");
    EXPECT_EQ(recording.Calls[2].Pen, nullptr);
    StandInSetRecorder(nullptr, nullptr);
    GetStockObject(WHITE_BRUSH);
    EXPECT_EQ(recording.Calls.size(), 4u);
}

TEST(RecorderTest, KernelCallsAreNotRecorded)
{
    Recording recording;
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
    EXPECT_EQ(MulDiv(1, 2, 3), 1);
    GetCurrentThreadId();
    GetSysColor(COLOR_WINDOW); // user32: recorded
    EXPECT_EQ(Names(recording.Calls), std::vector<std::string>{"GetSysColor"});
}

} // namespace
