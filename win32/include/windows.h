/* Selvanore's Win32 stand-in for non-Windows builds.
 *
 * It offers, under Windows' own header names, the small part of kernel32, gdi32 and user32
 * that the module and its test players use, so that one source compiles unchanged against
 * the real SDK under mingw-w64 and against this stand-in natively. Usable from C and C++. */
#ifndef SELVANORE_WIN32_WINDOWS_H
#define SELVANORE_WIN32_WINDOWS_H

#include "windef.h"
#include "winbase.h"
#include "wingdi.h"
#include "winuser.h"

#endif
