// The module's one export. Loading the module makes nothing of the plug-in (ModuleLifetime.cpp
// starts only the graphics unit): every plug-in object is made here, on the player's call.
#include "host/apiPlugin.h"
#include "plugin/Selvanore_Main.h"

#ifdef _WIN32
#define SELVANORE_EXPORT
#else
#define SELVANORE_EXPORT __attribute__((visibility("default")))
#endif

// Hands the caller a new plug-in object with the one reference it owns. Whatever the slot held
// before is overwritten, not released. This is the only place where a failure becomes a result
// code: the slot then stays null and the result is E_UNEXPECTED.
extern "C" SELVANORE_EXPORT HRESULT WINAPI AIMPPluginGetHeader(IAIMPPlugin** Header) noexcept
{
    // NOTE: a null slot pointer cannot receive anything; it is refused without touching memory.
    if (!Header)
        return E_UNEXPECTED;
    *Header = nullptr;
    try {
        // The construction reference that Make hands out is the one the player owns.
        *Header = Make<TVisualPlugin>().Detach()->Interface();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
