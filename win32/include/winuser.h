/* The user32 subset of the stand-in: rectangle fills and system colours. */
#ifndef SELVANORE_WIN32_WINUSER_H
#define SELVANORE_WIN32_WINUSER_H

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_BTNFACE 15
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNTEXT 18

/* Fills from left and top up to, but not including, right and bottom; an empty or inverted
 * rectangle fills nothing. */
WIN32_STANDIN_API int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
WIN32_STANDIN_API DWORD WINAPI GetSysColor(int nIndex);

#ifdef __cplusplus
}
#endif

#endif
