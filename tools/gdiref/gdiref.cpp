// gdiref: draws GDI primitives on a 32-bit DIB section in a memory context and prints the
// pixels, so that one script gives the same report from real GDI (built with mingw-w64, run
// under Wine or Windows) and from the stand-in (built natively). Comparing the two reports is
// how the stand-in's pixel rules are checked.
//
// Script on standard input, one command a line ('#' starts a comment):
//   canvas W H          new W x |H| bitmap, top-down when H < 0, all pixels 0; default objects
//   clear HEX           every pixel := HEX (a 32-bit pixel value)
//   pen STYLE WIDTH HEX CreatePenIndirect with colour HEX (0x00BBGGRR), selected
//   brush STYLE HEX     CreateBrushIndirect, selected
//   rop N               SetROP2
//   ellipse L T R B     Ellipse
//   fillrect L T R B    FillRect with the selected brush
//   polyline N x y ...  Polyline through N points
//   dump                "dump" then every pixel that is not the clear value: "x y HEX"
//   show                the bitmap as text: '.' clear, '#' pen colour, 'o' brush colour, '?' other
//   facts               answers of the object and state calls, one a line
//
// Building and comparing (from the repository's root, after a native build in build/native):
//   x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -I. -o gdiref.exe tools/gdiref/gdiref.cpp -lgdi32 -luser32
//   g++ -std=c++20 -O1 -I. -Iwin32/include -o gdiref tools/gdiref/gdiref.cpp -Lbuild/native/win32 -lwin32
//       -Wl,-rpath,$PWD/build/native/win32   (one command)
//   tools/gdiref/compare.py script.txt gdiref.exe ./gdiref    (runs the first under Wine)
#include <windows.h>

#include "graphics/GdiHandle.h"
#include "graphics/MemoryContext.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The memory context the commands draw on, with the pen and brush they made selected.
struct Canvas {
    // Destroyed bottom up: the pen and brush are deselected, deleted, then the context goes.
    std::optional<gdi::TMemoryContext> Context;
    gdi::TUniquePen Pen;
    gdi::TUniqueBrush Brush; // null while the stock NULL_BRUSH, which is never deleted, is used
    std::optional<gdi::TSelection> PenSelection;
    std::optional<gdi::TSelection> BrushSelection;
    std::uint32_t Clear = 0;
    COLORREF PenColor = 0;
    COLORREF BrushColor = 0;

    void Release()
    {
        PenSelection.reset();
        BrushSelection.reset();
        Pen.Reset();
        Brush.Reset();
        Context.reset();
        Clear = 0;
        PenColor = 0;
        BrushColor = 0;
    }

    // A context of AWidth x |AHeight| pixels; rows bottom up for a positive AHeight, as
    // BITMAPINFOHEADER has it.
    bool Make(int AWidth, int AHeight)
    {
        Release();
        Context.emplace(AWidth, AHeight < 0 ? -AHeight : AHeight,
                        AHeight < 0 ? gdi::TRowOrder::TopDown : gdi::TRowOrder::BottomUp);
        return Context->Valid();
    }

    HDC Dc() const { return Context ? Context->Dc() : nullptr; }
    int Width() const { return Context && Context->Valid() ? Context->Width() : 0; }
    int Height() const { return Context && Context->Valid() ? Context->Height() : 0; }
    std::uint32_t& At(int AX, int AY) const { return Context->At(AX, AY); }

    // Selects AObject; the first selection of a kind keeps what to put back.
    void Select(std::optional<gdi::TSelection>& ASelection, HGDIOBJ AObject)
    {
        if (ASelection)
            SelectObject(Dc(), AObject);
        else
            ASelection.emplace(Dc(), AObject);
    }
};

using gdi::PixelOf;

void Facts()
{
    std::printf("facts\n");
    for (int i = WHITE_PEN; i <= NULL_PEN; ++i) {
        LOGPEN pen{};
        const int size = GetObjectW(GetStockObject(i), sizeof(pen), &pen);
        std::printf("stockpen %d size %d style %u width %ld,%ld color %08lx\n", i, size, pen.lopnStyle,
                    static_cast<long>(pen.lopnWidth.x), static_cast<long>(pen.lopnWidth.y),
                    static_cast<unsigned long>(pen.lopnColor));
    }
    for (int i = WHITE_BRUSH; i <= NULL_BRUSH; ++i) {
        LOGBRUSH brush{};
        const int size = GetObjectW(GetStockObject(i), sizeof(brush), &brush);
        std::printf("stockbrush %d size %d style %u color %08lx hatch %lu\n", i, size, brush.lbStyle,
                    static_cast<unsigned long>(brush.lbColor), static_cast<unsigned long>(brush.lbHatch));
    }
    for (int i = 0; i <= 20; ++i)
        std::printf("stocktype %d %lu\n", i, static_cast<unsigned long>(GetObjectType(GetStockObject(i))));
    for (int i = 0; i <= 31; ++i)
        std::printf("syscolor %d %08lx\n", i, static_cast<unsigned long>(GetSysColor(i)));

    LOGPEN nullPen{PS_NULL, {3, 0}, RGB(1, 2, 3)};
    HPEN made = CreatePenIndirect(&nullPen);
    std::printf("nullpen_is_stock %d\n", made == GetStockObject(NULL_PEN));
    for (UINT style = 0; style <= 9; ++style) {
        LOGPEN pen{style, {-3, 7}, RGB(1, 2, 3)};
        HPEN h = CreatePenIndirect(&pen);
        LOGPEN back{};
        const int size = GetObjectW(h, sizeof(back), &back);
        std::printf("pen style %u made %d size %d back %u %ld,%ld %08lx\n", style, h != nullptr, size, back.lopnStyle,
                    static_cast<long>(back.lopnWidth.x), static_cast<long>(back.lopnWidth.y),
                    static_cast<unsigned long>(back.lopnColor));
        if (h != nullptr)
            DeleteObject(h);
    }
    for (UINT style = 0; style <= 4; ++style) {
        LOGBRUSH brush{style, RGB(1, 2, 3), 0};
        HBRUSH h = CreateBrushIndirect(&brush);
        std::printf("brush style %u made %d stocknull %d\n", style, h != nullptr, h == GetStockObject(NULL_BRUSH));
        if (h != nullptr && h != GetStockObject(NULL_BRUSH))
            DeleteObject(h);
    }
    LOGBRUSH small{};
    LOGBRUSH solid{BS_SOLID, RGB(9, 8, 7), 0};
    HBRUSH brush = CreateBrushIndirect(&solid);
    std::printf("getobject brush null %d short %d\n", GetObjectW(brush, 0, nullptr), GetObjectW(brush, 4, &small));
    LOGPEN shortPen{};
    std::printf("getobject pen null %d short %d\n", GetObjectW(GetStockObject(BLACK_PEN), 0, nullptr),
                GetObjectW(GetStockObject(BLACK_PEN), 4, &shortPen));

    HDC dc = CreateCompatibleDC(nullptr);
    std::printf("newdc type %lu rop %d bkcolor %08lx bkmode %d\n", static_cast<unsigned long>(GetObjectType(dc)),
                GetROP2(dc), static_cast<unsigned long>(GetBkColor(dc)), GetBkMode(dc));
    std::printf("newdc pen_is_black %d brush_is_white %d font_is_system %d\n",
                GetCurrentObject(dc, OBJ_PEN) == GetStockObject(BLACK_PEN),
                GetCurrentObject(dc, OBJ_BRUSH) == GetStockObject(WHITE_BRUSH),
                GetCurrentObject(dc, OBJ_FONT) == GetStockObject(SYSTEM_FONT));
    BITMAP stockBitmap{};
    const int bitmapSize = GetObjectW(GetCurrentObject(dc, OBJ_BITMAP), sizeof(stockBitmap), &stockBitmap);
    std::printf("newdc bitmap size %d %ldx%ld bpp %u widthbytes %ld\n", bitmapSize,
                static_cast<long>(stockBitmap.bmWidth), static_cast<long>(stockBitmap.bmHeight),
                stockBitmap.bmBitsPixel, static_cast<long>(stockBitmap.bmWidthBytes));
    // Every call below is made in its own statement: the order matters and argument order
    // is unspecified.
    const int rop0 = SetROP2(dc, 0);
    const int rop17 = SetROP2(dc, 17);
    const int rop7 = SetROP2(dc, 7);
    std::printf("setrop2 0 -> %d, 17 -> %d, 7 -> %d, then %d\n", rop0, rop17, rop7, GetROP2(dc));
    const int mode0 = SetBkMode(dc, 0);
    const int mode3 = SetBkMode(dc, 3);
    const int mode1 = SetBkMode(dc, 1);
    std::printf("setbkmode 0 -> %d, 3 -> %d, 1 -> %d, then %d\n", mode0, mode3, mode1, GetBkMode(dc));
    POINT old{-1, -1};
    const BOOL moved = MoveToEx(dc, 5, 6, &old);
    std::printf("movetoex %d old %ld,%ld\n", moved, static_cast<long>(old.x), static_cast<long>(old.y));
    POINT pts[2] = {{0, 0}, {3, 3}};
    const BOOL line1 = Polyline(dc, pts, 1);
    const BOOL line0 = Polyline(dc, pts, 0);
    const BOOL line2 = Polyline(dc, pts, 2);
    std::printf("polyline 1 -> %d, 0 -> %d, 2 -> %d\n", line1, line0, line2);
    POINT now{};
    GetCurrentPositionEx(dc, &now);
    std::printf("position after polyline %ld,%ld\n", static_cast<long>(now.x), static_cast<long>(now.y));
    std::printf("ellipse empty -> %d\n", Ellipse(dc, 3, 3, 3, 3));
    RECT inverted{5, 5, 2, 2};
    const int fillInverted = FillRect(dc, &inverted, brush);
    const int fillNull = FillRect(dc, &inverted, nullptr);
    const int fillSys = FillRect(dc, &inverted, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    const int fillStockNull = FillRect(dc, &inverted, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
    std::printf("fillrect inverted -> %d, null brush -> %d, sys -> %d, stocknull -> %d\n", fillInverted, fillNull,
                fillSys, fillStockNull);
    SelectObject(dc, brush);
    std::printf("delete selected brush -> %d\n", DeleteObject(brush));
    const BOOL deselectedType = GetObjectType(brush) != 0;
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    const BOOL deleted = DeleteObject(brush);
    const BOOL again = DeleteObject(brush);
    const HGDIOBJ selectDeleted = SelectObject(dc, brush);
    std::printf("alive after refused delete %d; delete brush -> %d, again -> %d, select deleted -> %d\n",
                deselectedType, deleted, again, selectDeleted != nullptr);
    const BOOL deleteStock = DeleteObject(GetStockObject(BLACK_PEN));
    std::printf("delete stock -> %d, stock still %lu\n", deleteStock,
                static_cast<unsigned long>(GetObjectType(GetStockObject(BLACK_PEN))));
    const BOOL unrealizeBrush = UnrealizeObject(GetStockObject(WHITE_BRUSH));
    const BOOL unrealizePen = UnrealizeObject(GetStockObject(BLACK_PEN));
    std::printf("unrealize stock brush %d, pen %d\n", unrealizeBrush, unrealizePen);
    std::printf("select palette %d\n", SelectObject(dc, GetStockObject(DEFAULT_PALETTE)) != nullptr);
    std::printf("muldiv %d %d %d %d %d %d %d %d\n", MulDiv(5, 3, 2), MulDiv(-5, 3, 2), MulDiv(5, -3, 2),
                MulDiv(7, 1, 0), MulDiv(0x7FFFFFFF, 2, 2), MulDiv(0x40000000, 4, 2), MulDiv(-0x40000000, 4, 2),
                MulDiv(-0x40000000, 2, 1));
    std::printf("muldiv2 %d %d %d %d\n", MulDiv(-5, 1, 2), MulDiv(5, 1, -2), MulDiv(3, 1, 2), MulDiv(-3, 1, -2));
    const BOOL deleteDc = DeleteDC(dc);
    const BOOL deleteDcAgain = DeleteDC(dc);
    std::printf("deletedc %d again %d\n", deleteDc, deleteDcAgain);
}

} // namespace

int main()
{
    Canvas canvas;
    std::string line;
    std::vector<char> text(1 << 16);
    while (std::fgets(text.data(), static_cast<int>(text.size()), stdin) != nullptr) {
        line = text.data();
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream in(line);
        std::string command;
        if (!(in >> command))
            continue;
        if (command == "canvas") {
            int width = 0, height = 0;
            in >> width >> height;
            if (!canvas.Make(width, height))
                std::printf("canvas failed\n");
        } else if (command == "clear") {
            std::uint32_t value = 0;
            in >> std::hex >> value;
            canvas.Clear = value;
            for (int y = 0; y < canvas.Height(); ++y)
                for (int x = 0; x < canvas.Width(); ++x)
                    canvas.At(x, y) = value;
        } else if (command == "pen") {
            UINT style = 0;
            int width = 0;
            std::uint32_t color = 0;
            in >> style >> width >> std::hex >> color;
            LOGPEN pen{style, {width, 0}, color};
            HPEN made = CreatePenIndirect(&pen);
            canvas.Select(canvas.PenSelection, made);
            canvas.Pen.Reset(made);
            canvas.PenColor = color;
        } else if (command == "brush") {
            UINT style = 0;
            std::uint32_t color = 0;
            in >> style >> std::hex >> color;
            LOGBRUSH brush{style, color, 0};
            HBRUSH made = CreateBrushIndirect(&brush);
            canvas.Select(canvas.BrushSelection, made);
            canvas.Brush.Reset(made == GetStockObject(NULL_BRUSH) ? nullptr : made);
            canvas.BrushColor = color;
        } else if (command == "rop") {
            int rop = 0;
            in >> rop;
            SetROP2(canvas.Dc(), rop);
        } else if (command == "ellipse" || command == "fillrect") {
            int l = 0, t = 0, r = 0, b = 0;
            in >> l >> t >> r >> b;
            if (command == "ellipse") {
                Ellipse(canvas.Dc(), l, t, r, b);
            } else {
                RECT rect{l, t, r, b};
                FillRect(canvas.Dc(), &rect, static_cast<HBRUSH>(GetCurrentObject(canvas.Dc(), OBJ_BRUSH)));
            }
        } else if (command == "polyline") {
            int count = 0;
            in >> count;
            std::vector<POINT> points(static_cast<std::size_t>(count > 0 ? count : 0));
            for (POINT& point : points) {
                long x = 0, y = 0;
                in >> x >> y;
                point.x = static_cast<LONG>(x);
                point.y = static_cast<LONG>(y);
            }
            Polyline(canvas.Dc(), points.data(), count);
        } else if (command == "dump" || command == "show") {
            GdiFlush();
            std::printf("%s\n", command.c_str());
            const std::uint32_t pen = PixelOf(canvas.PenColor);
            const std::uint32_t brush = PixelOf(canvas.BrushColor);
            for (int y = 0; y < canvas.Height(); ++y) {
                for (int x = 0; x < canvas.Width(); ++x) {
                    const std::uint32_t value = canvas.At(x, y);
                    if (command == "dump") {
                        if (value != canvas.Clear)
                            std::printf("%d %d %08x\n", x, y, static_cast<unsigned>(value));
                        continue;
                    }
                    std::putchar(value == canvas.Clear ? '.' : value == pen ? '#' : value == brush ? 'o' : '?');
                }
                if (command == "show")
                    std::putchar('\n');
            }
            std::printf("end\n");
        } else if (command == "facts") {
            Facts();
        } else {
            std::printf("unknown command %s\n", command.c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}
