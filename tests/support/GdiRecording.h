// Test support on the Win32 stand-in: a recorder of the GDI calls made while it lives, and the
// memory context that tests draw on.
#pragma once

#include <windows.h>
#include <win32_standin.h>

#include "tests/graphics/CanvasTesting.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// One recorded GDI call, copied out of the stand-in's record.
struct TRecordedCall {
    std::string Function;
    HDC Dc = nullptr;
    HGDIOBJ Object = nullptr;
    std::vector<std::int32_t> Args;
    std::vector<POINT> Points;
    HGDIOBJ Pen = nullptr;
    HGDIOBJ Brush = nullptr;
    COLORREF PenColor = 0;
    LONG PenWidth = 0;
    COLORREF BrushColor = 0;
};

// Records every GDI call from construction to destruction (one recorder at a time).
class TCallRecorder {
public:
    TCallRecorder() { StandInSetRecorder(&TCallRecorder::Record, this); }
    ~TCallRecorder() { StandInSetRecorder(nullptr, nullptr); }
    TCallRecorder(const TCallRecorder&) = delete;
    TCallRecorder& operator=(const TCallRecorder&) = delete;

    const std::vector<TRecordedCall>& Calls() const { return FCalls; }
    void Clear() { FCalls.clear(); }

    // The recorded calls of one function, in order.
    std::vector<TRecordedCall> Only(std::string_view Function) const
    {
        std::vector<TRecordedCall> result;
        for (const TRecordedCall& call : FCalls)
            if (call.Function == Function)
                result.push_back(call);
        return result;
    }

    // The function names in order, joined by spaces: a compact view of a sequence.
    std::string Names() const
    {
        std::string result;
        for (const TRecordedCall& call : FCalls) {
            if (!result.empty())
                result += ' ';
            result += call.Function;
        }
        return result;
    }

private:
    static void Record(const STANDIN_CALL* Call, void* User)
    {
        TRecordedCall copy;
        copy.Function = Call->Function;
        copy.Dc = Call->Dc;
        copy.Object = Call->Object;
        copy.Args.assign(Call->Args, Call->Args + Call->ArgCount);
        if (Call->Points && Call->ArgCount > 0)
            copy.Points.assign(Call->Points, Call->Points + Call->Args[0]);
        copy.Pen = Call->Pen;
        copy.Brush = Call->Brush;
        copy.PenColor = Call->PenData.lopnColor;
        copy.PenWidth = Call->PenData.lopnWidth.x;
        copy.BrushColor = Call->BrushData.lbColor;
        static_cast<TCallRecorder*>(User)->FCalls.push_back(std::move(copy));
    }

    std::vector<TRecordedCall> FCalls;
};

// A memory device context on a top-down 32-bit DIB section, as a player makes one.
using TMemoryDC = canvas_testing::TMemoryContext;

// COLORREF 0x00BBGGRR as the 32-bit DIB pixel 0x00RRGGBB.
constexpr std::uint32_t PixelOf(COLORREF Color)
{
    return ((Color & 0xFF) << 16) | (Color & 0xFF00) | ((Color >> 16) & 0xFF);
}

} // namespace testing_support
