/* The gdi32 subset of the stand-in: device contexts on 32-bit DIB sections, pens, brushes,
 * stock objects, and the primitives Ellipse, Polyline and line positioning. Rasterization
 * follows GDI's pixel rules. */
#ifndef SELVANORE_WIN32_WINGDI_H
#define SELVANORE_WIN32_WINGDI_H

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))

#define CLR_INVALID 0xFFFFFFFF
#define HGDI_ERROR ((HGDIOBJ)(LONG_PTR)-1)
#define GDI_ERROR 0xFFFFFFFFL

/* Raster operations (SetROP2). */
#define R2_BLACK 1
#define R2_NOTMERGEPEN 2
#define R2_MASKNOTPEN 3
#define R2_NOTCOPYPEN 4
#define R2_MASKPENNOT 5
#define R2_NOT 6
#define R2_XORPEN 7
#define R2_NOTMASKPEN 8
#define R2_MASKPEN 9
#define R2_NOTXORPEN 10
#define R2_NOP 11
#define R2_MERGENOTPEN 12
#define R2_COPYPEN 13
#define R2_MERGEPENNOT 14
#define R2_MERGEPEN 15
#define R2_WHITE 16

/* Background modes (SetBkMode). */
#define TRANSPARENT 1
#define OPAQUE 2

/* Pen styles. */
#define PS_SOLID 0
#define PS_DASH 1
#define PS_DOT 2
#define PS_DASHDOT 3
#define PS_DASHDOTDOT 4
#define PS_NULL 5
#define PS_INSIDEFRAME 6

/* Brush styles. */
#define BS_SOLID 0
#define BS_NULL 1
#define BS_HOLLOW BS_NULL
#define BS_HATCHED 2

/* Stock objects (GetStockObject). */
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define OEM_FIXED_FONT 10
#define ANSI_FIXED_FONT 11
#define ANSI_VAR_FONT 12
#define SYSTEM_FONT 13
#define DEVICE_DEFAULT_FONT 14
#define DEFAULT_PALETTE 15
#define SYSTEM_FIXED_FONT 16
#define DEFAULT_GUI_FONT 17
#define DC_BRUSH 18
#define DC_PEN 19

/* Object types (GetObjectType, GetCurrentObject). */
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_METADC 4
#define OBJ_PAL 5
#define OBJ_FONT 6
#define OBJ_BITMAP 7
#define OBJ_REGION 8
#define OBJ_METAFILE 9
#define OBJ_MEMDC 10
#define OBJ_EXTPEN 11
#define OBJ_ENHMETADC 12
#define OBJ_ENHMETAFILE 13
#define OBJ_COLORSPACE 14

/* Bitmaps. */
#define BI_RGB 0
#define DIB_RGB_COLORS 0

typedef struct tagLOGPEN {
    UINT lopnStyle;
    POINT lopnWidth;
    COLORREF lopnColor;
} LOGPEN, *PLOGPEN, *LPLOGPEN;

typedef struct tagLOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
} LOGBRUSH, *PLOGBRUSH, *LPLOGBRUSH;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight; /* positive: bottom-up rows; negative: top-down */
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *PBITMAPINFOHEADER, *LPBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *PBITMAPINFO, *LPBITMAPINFO;

WIN32_STANDIN_API HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
WIN32_STANDIN_API HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type);
WIN32_STANDIN_API HGDIOBJ WINAPI GetStockObject(int i);
WIN32_STANDIN_API BOOL WINAPI DeleteObject(HGDIOBJ ho);
WIN32_STANDIN_API DWORD WINAPI GetObjectType(HGDIOBJ h);
WIN32_STANDIN_API int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv);
WIN32_STANDIN_API BOOL WINAPI UnrealizeObject(HGDIOBJ h);

WIN32_STANDIN_API HPEN WINAPI CreatePenIndirect(const LOGPEN* plpen);
WIN32_STANDIN_API HBRUSH WINAPI CreateBrushIndirect(const LOGBRUSH* plbrush);

WIN32_STANDIN_API int WINAPI SetROP2(HDC hdc, int rop2);
WIN32_STANDIN_API int WINAPI GetROP2(HDC hdc);
WIN32_STANDIN_API COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
WIN32_STANDIN_API COLORREF WINAPI GetBkColor(HDC hdc);
WIN32_STANDIN_API int WINAPI SetBkMode(HDC hdc, int mode);
WIN32_STANDIN_API int WINAPI GetBkMode(HDC hdc);

WIN32_STANDIN_API BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt);
WIN32_STANDIN_API BOOL WINAPI GetCurrentPositionEx(HDC hdc, LPPOINT lppt);
WIN32_STANDIN_API BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom);
WIN32_STANDIN_API BOOL WINAPI Polyline(HDC hdc, const POINT* apt, int cpt);

WIN32_STANDIN_API HDC WINAPI CreateCompatibleDC(HDC hdc);
WIN32_STANDIN_API BOOL WINAPI DeleteDC(HDC hdc);
WIN32_STANDIN_API HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                                  HANDLE hSection, DWORD offset);
WIN32_STANDIN_API BOOL WINAPI GdiFlush(void);

#define GetObject GetObjectW

#ifdef __cplusplus
}
#endif

#endif
