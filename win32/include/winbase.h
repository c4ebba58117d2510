/* placeholder */
#ifndef SELVANORE_WIN32_WINBASE_H
#define SELVANORE_WIN32_WINBASE_H
#include "windef.h"
#endif
