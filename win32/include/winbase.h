/* The kernel32 subset of the stand-in: multiply-divide, critical sections, thread identity. */
#ifndef SELVANORE_WIN32_WINBASE_H
#define SELVANORE_WIN32_WINBASE_H

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Laid out as Windows' own (40 bytes on x86-64); the stand-in keeps its lock behind DebugInfo. */
typedef struct _RTL_CRITICAL_SECTION {
    void* DebugInfo;
    LONG LockCount;
    LONG RecursionCount;
    HANDLE OwningThread;
    HANDLE LockSemaphore;
    ULONG_PTR SpinCount;
} RTL_CRITICAL_SECTION, CRITICAL_SECTION, *LPCRITICAL_SECTION;

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

/* a * b / c, the 64-bit product rounded to nearest with halves away from zero; -1 when c is 0
 * or the result overflows 32 bits. */
WIN32_STANDIN_API int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator);

/* Recursive locks: the owning thread may enter again and must leave as often. */
WIN32_STANDIN_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WIN32_STANDIN_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WIN32_STANDIN_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WIN32_STANDIN_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

WIN32_STANDIN_API DWORD WINAPI GetCurrentThreadId(void);

#ifdef __cplusplus
}
#endif

#endif
