// Helpers of the stand-in's tests: a memory context on a 32-bit DIB section that cleans up after
// itself, and the bitmap as text.
#pragma once

#include <win32_standin.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace win32test {

enum class Orientation { TopDown, BottomUp };

// A memory context with its own DIB section selected; rows are read in screen order whatever
// the orientation in memory.
class TestCanvas {
public:
    TestCanvas(int AWidth, int AHeight, Orientation AOrientation = Orientation::TopDown)
        : FWidth(AWidth), FHeight(AHeight), FOrientation(AOrientation)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = AWidth;
        info.bmiHeader.biHeight = AOrientation == Orientation::TopDown ? -AHeight : AHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        FDc = CreateCompatibleDC(nullptr);
        void *bits = nullptr;
        FBitmap = CreateDIBSection(FDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        FBits = static_cast<std::uint32_t *>(bits);
        FOldBitmap = SelectObject(FDc, FBitmap);
    }
    TestCanvas(const TestCanvas &) = delete;
    TestCanvas &operator=(const TestCanvas &) = delete;
    ~TestCanvas()
    {
        SelectObject(FDc, GetStockObject(BLACK_PEN));
        SelectObject(FDc, GetStockObject(WHITE_BRUSH));
        SelectObject(FDc, FOldBitmap);
        for (HGDIOBJ object : FOwned)
            DeleteObject(object);
        DeleteObject(FBitmap);
        DeleteDC(FDc);
    }

    HDC Dc() const { return FDc; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }

    std::uint32_t &At(int AX, int AY) const
    {
        const int row = FOrientation == Orientation::TopDown ? AY : FHeight - 1 - AY;
        return FBits[static_cast<std::size_t>(row) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(AX)];
    }

    void Clear(std::uint32_t AValue) const
    {
        for (int y = 0; y < FHeight; ++y)
            for (int x = 0; x < FWidth; ++x)
                At(x, y) = AValue;
    }

    // Makes a pen or brush, selects it and deletes it with the canvas.
    void UsePen(UINT AStyle, int AWidth, COLORREF AColor)
    {
        const LOGPEN pen{AStyle, {AWidth, 0}, AColor};
        Use(CreatePenIndirect(&pen));
    }
    void UseBrush(UINT AStyle, COLORREF AColor)
    {
        const LOGBRUSH brush{AStyle, AColor, 0};
        Use(CreateBrushIndirect(&brush));
    }

    // The bitmap as text, one string a row: '.' for AClear, '#' for APen, 'o' for ABrush,
    // 'x' for APen ^ ABrush and '?' for anything else.
    std::vector<std::string> Text(std::uint32_t AClear, std::uint32_t APen, std::uint32_t ABrush = 0xFFFFFFFFu) const
    {
        std::vector<std::string> rows;
        for (int y = 0; y < FHeight; ++y) {
            std::string row;
            for (int x = 0; x < FWidth; ++x) {
                const std::uint32_t value = At(x, y);
                row += value == AClear                    ? '.'
                       : value == APen                    ? '#'
                       : value == ABrush                  ? 'o'
                       : value == (APen ^ ABrush ^ AClear) ? 'x'
                                                          : '?';
            }
            rows.push_back(row);
        }
        return rows;
    }

private:
    void Use(HGDIOBJ AObject)
    {
        SelectObject(FDc, AObject);
        FOwned.push_back(AObject);
    }

    int FWidth;
    int FHeight;
    Orientation FOrientation;
    HDC FDc = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOldBitmap = nullptr;
    std::uint32_t *FBits = nullptr;
    std::vector<HGDIOBJ> FOwned;
};

// The pixel value of a colour in a 32-bit DIB: blue in the lowest byte.
constexpr std::uint32_t Pixel(COLORREF AColor)
{
    return ((AColor & 0xFFu) << 16) | (AColor & 0xFF00u) | ((AColor >> 16) & 0xFFu);
}

} // namespace win32test
