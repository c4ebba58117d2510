/* placeholder */
#ifndef SELVANORE_WIN32_WINUSER_H
#define SELVANORE_WIN32_WINUSER_H
#include "windef.h"
#endif
