// Test support on the Win32 stand-in: a memory context on a 32-bit DIB section, and a recorder
// of the GDI calls made while it lives.
#pragma once

#include <windows.h>
#include <win32_standin.h>

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

// A memory device context with a top-down 32-bit DIB section selected, as a player makes one.
class TMemoryDC {
public:
    TMemoryDC(int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight)
    {
        FDC = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = AWidth;
        info.bmiHeader.biHeight = -AHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        FBitmap = CreateDIBSection(FDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        FBits = static_cast<std::uint32_t*>(bits);
        FOldBitmap = SelectObject(FDC, FBitmap);
    }
    ~TMemoryDC()
    {
        SelectObject(FDC, FOldBitmap);
        DeleteObject(FBitmap);
        DeleteDC(FDC);
    }
    TMemoryDC(const TMemoryDC&) = delete;
    TMemoryDC& operator=(const TMemoryDC&) = delete;

    HDC Handle() const { return FDC; }
    // The pixel as 0x00RRGGBB.
    std::uint32_t Pixel(int X, int Y) const
    {
        GdiFlush();
        return FBits[static_cast<std::size_t>(Y) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(X)] & 0xFFFFFF;
    }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }

private:
    int FWidth;
    int FHeight;
    HDC FDC = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOldBitmap = nullptr;
    std::uint32_t* FBits = nullptr;
};

// COLORREF 0x00BBGGRR as the 32-bit DIB pixel 0x00RRGGBB.
constexpr std::uint32_t PixelOf(COLORREF Color)
{
    return ((Color & 0xFF) << 16) | (Color & 0xFF00) | ((Color >> 16) & 0xFF);
}

} // namespace testing_support
