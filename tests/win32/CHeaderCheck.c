/* The stand-in's headers compile as C, their records have Windows' x86-64 layout, and a C
 * program can call and record through them. Run as a test of its own. */
#include <windows.h>
#include <win32_standin.h>

#include <stddef.h>

_Static_assert(sizeof(RTL_CRITICAL_SECTION) == 40, "CRITICAL_SECTION is 40 bytes on x86-64");
_Static_assert(sizeof(LOGPEN) == 16, "LOGPEN is 16 bytes");
_Static_assert(sizeof(LOGBRUSH) == 16, "LOGBRUSH is 16 bytes on x86-64");
_Static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
_Static_assert(sizeof(BITMAP) == 32, "BITMAP is 32 bytes on x86-64");
_Static_assert(sizeof(RECT) == 16 && sizeof(POINT) == 8, "RECT and POINT hold 32-bit coordinates");
_Static_assert(sizeof(WCHAR) == 2, "WCHAR is a UTF-16 code unit");
_Static_assert(offsetof(STANDIN_CALL, Function) == 0, "STANDIN_CALL begins with the function's name");

static void CountCall(const STANDIN_CALL* ACall, void* AUser)
{
    (void)ACall;
    ++*(int*)AUser;
}

static int StandInCHeaderCheck(void)
{
    int calls = 0;
    HDC dc;
    StandInSetRecorder(CountCall, &calls);
    dc = CreateCompatibleDC(NULL);
    SelectObject(dc, GetStockObject(NULL_PEN));
    DeleteDC(dc);
    StandInSetRecorder(NULL, NULL);
    return calls == 4 && MulDiv(6, 7, 2) == 21 && GetObjectType(GetStockObject(BLACK_PEN)) == OBJ_PEN;
}

int main(void)
{
    return StandInCHeaderCheck() ? 0 : 1;
}
