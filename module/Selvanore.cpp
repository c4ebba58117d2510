// TEMPORARY placeholder for the module's export, kept only until the plug-in object lands; the
// real entry creates a TVisualPlugin. This one creates nothing and reports the failure code of
// the export, E_UNEXPECTED, with a null slot, so the packaging can be built and checked.
#include "host/apiPlugin.h"

// Natively the export must be visible past -fvisibility=hidden; on Windows Selvanore.def
// exports it by name.
#if defined(__GNUC__) && !defined(_WIN32)
#define SELVANORE_EXPORT __attribute__((visibility("default")))
#else
#define SELVANORE_EXPORT
#endif

extern "C" SELVANORE_EXPORT HRESULT WINAPI AIMPPluginGetHeader(IAIMPPlugin** Header)
{
    if (Header)
        *Header = nullptr;
    return E_UNEXPECTED;
}
