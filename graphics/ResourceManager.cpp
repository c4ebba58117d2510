#include "graphics/ResourceManager.h"

#include <memory>
#include <new>
#include <thread>

namespace {

// The unit's objects live in storage of their own with no destructor: they are built by the load
// step (or the first use) and torn down by the unload step alone, never by static destruction,
// whose order depends on the link and the toolchain.
alignas(TGraphicsModule) unsigned char ModuleStorage[sizeof(TGraphicsModule)];
constinit std::atomic<TGraphicsModule*> LoadedModule{nullptr};
// Set while the objects are being built or torn down. Both take microseconds and happen about
// once per process, so a waiting thread merely yields.
constinit std::atomic<bool> ModuleChanging{false};

class TModuleChangeGuard {
public:
    TModuleChangeGuard() noexcept
    {
        while (ModuleChanging.exchange(true, std::memory_order_acquire))
            std::this_thread::yield();
    }
    ~TModuleChangeGuard() { ModuleChanging.store(false, std::memory_order_release); }
    TModuleChangeGuard(const TModuleChangeGuard&) = delete;
    TModuleChangeGuard& operator=(const TModuleChangeGuard&) = delete;
};

TGraphicsModule& LoadModuleObjects() noexcept
{
    const TModuleChangeGuard guard;
    TGraphicsModule* module = LoadedModule.load(std::memory_order_relaxed);
    if (!module) {
        module = ::new (static_cast<void*>(ModuleStorage)) TGraphicsModule;
        LoadedModule.store(module, std::memory_order_release);
    }
    return *module;
}

} // namespace

TGraphicsModule::TGraphicsModule() noexcept
    : StockPen(static_cast<HPEN>(GetStockObject(BLACK_PEN))),
      StockBrush(static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))),
      StockFont(static_cast<HFONT>(GetStockObject(SYSTEM_FONT)))
{}

TGraphicsModule& GraphicsModule() noexcept
{
    if (TGraphicsModule* module = LoadedModule.load(std::memory_order_acquire))
        return *module;
    return LoadModuleObjects();
}

void LoadGraphicsUnit() noexcept
{
    LoadModuleObjects();
}

void UnloadGraphicsUnit() noexcept
{
    const TModuleChangeGuard guard;
    if (TGraphicsModule* module = LoadedModule.exchange(nullptr, std::memory_order_acq_rel))
        std::destroy_at(module);
}
