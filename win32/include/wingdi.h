/* placeholder */
#ifndef SELVANORE_WIN32_WINGDI_H
#define SELVANORE_WIN32_WINGDI_H
#include "windef.h"
#endif
