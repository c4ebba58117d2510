/* What the stand-in offers beyond Win32, for tests and players: a recorder of every GDI call,
 * a count of live objects, and a switch for rasterizing. Not part of Windows; a source that
 * uses it builds only natively. */
#ifndef SELVANORE_WIN32_STANDIN_H
#define SELVANORE_WIN32_STANDIN_H

#include "windows.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One recorded call of the gdi32 or user32 subset. */
typedef struct STANDIN_CALL {
    const char* Function; /* the Win32 name, "SelectObject"; a static string */
    HDC Dc;               /* the context the call works on, or NULL */
    HGDIOBJ Object;       /* the object argument (selected, deleted, unrealized, filled with),
                             or the handle that a Create call or GetStockObject returned */
    int32_t Args[4];      /* the integer arguments in order: coordinates, a ROP2 or mode, a colour's
                             bits, a stock index, Polyline's count */
    int ArgCount;
    const POINT* Points; /* Polyline's points, valid during the callback only; else NULL */
    int32_t Result;      /* the call's result, as an integer (handles as their low 32 bits) */
    /* The pen and brush selected in Dc when the call was made (NULL when Dc is NULL), with their
     * attributes as the stand-in knows them. */
    HGDIOBJ Pen;
    HGDIOBJ Brush;
    LOGPEN PenData;
    LOGBRUSH BrushData;
} STANDIN_CALL;

typedef void (*STANDIN_RECORDER)(const STANDIN_CALL* Call, void* User);

/* Installs the recorder that sees every later call, in order; NULL (the default) turns
 * recording off, which then costs one test of a pointer per call. */
WIN32_STANDIN_API void StandInSetRecorder(STANDIN_RECORDER Recorder, void* User);

/* Objects made and not yet deleted: pens, brushes, fonts, bitmaps and contexts. Stock objects
 * are never counted. */
WIN32_STANDIN_API size_t StandInLiveObjectCount(void);

/* How many times DeleteObject was refused because the object was selected in a context. */
WIN32_STANDIN_API size_t StandInRefusedDeleteCount(void);

/* Rasterizing on (the default) or off. Off, every call keeps its state and is recorded as
 * before but no pixel is written. */
WIN32_STANDIN_API void StandInSetRasterizing(BOOL On);

#ifdef __cplusplus
}
#endif

#endif
