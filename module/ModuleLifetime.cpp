// The module's start-up and shut-down, in one place. Loading runs the units' load steps in
// dependency order; unloading runs their unload steps in exactly the reverse order. The order is
// written out here, and only here, rather than left to static construction and destruction, whose
// order depends on the link and on the toolchain's runtime. The objects these steps manage (the
// held core, the graphics pools) have no static destructors of their own and are made by no
// static constructor, so nothing else builds or tears them down.
#include <windows.h>

#include "graphics/ResourceManager.h"
#include "host/apiWrappers.h"

#include <cstddef>
#include <iterator>

namespace {

// One unit's steps; null where the unit has none.
struct TUnitSteps {
    void (*Load)() noexcept;
    void (*Unload)() noexcept;
};

// The units with work to do, in load order. The graphics unit comes first: the plug-in's surfaces
// draw on its pools. The host access unit follows: the player's core, which it may still hold at
// unload, may keep a visualization alive, and releasing the core may destroy that visualization
// and free its surface into the pools. The host interface declarations, the plug-in base and the
// plug-in's own unit come after these and do nothing at load or unload.
constexpr TUnitSteps Units[] = {
    {LoadGraphicsUnit, UnloadGraphicsUnit},
    {nullptr, UnloadApiWrappersUnit},
};

void LoadModule() noexcept
{
    for (const TUnitSteps& unit : Units)
        if (unit.Load)
            unit.Load();
}

void UnloadModule() noexcept
{
    for (std::size_t n = std::size(Units); n-- > 0;)
        if (Units[n].Unload)
            Units[n].Unload();
}

} // namespace

#ifdef _WIN32

// The loader calls this under its lock: at process attach after the runtime has constructed the
// module's statics, at process detach before the runtime destroys them. Thread attach and detach
// need nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD Reason, LPVOID)
{
    if (Reason == DLL_PROCESS_ATTACH)
        LoadModule();
    else if (Reason == DLL_PROCESS_DETACH)
        UnloadModule();
    return TRUE;
}

#else

namespace {

// Natively, the shared object's one constructor and destructor, run by dlopen and dlclose.
[[gnu::constructor]] void AttachModule() noexcept
{
    LoadModule();
}

[[gnu::destructor]] void DetachModule() noexcept
{
    UnloadModule();
}

} // namespace

#endif
