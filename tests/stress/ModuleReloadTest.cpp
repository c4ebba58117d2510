// The built module loaded and unloaded a thousand times, as a player that re-scans its plug-ins
// would: every cycle goes through the whole sequence, and every reference and GDI object comes
// back.
#include "host/apiPlugin.h"
#include "host/apiVisuals.h"
#include "tests/support/GdiRecording.h"
#include "tests/support/LeakCheck.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <memory>

namespace {

constexpr int Cycles = 1000;

// How far one cycle goes before the module is unloaded.
enum class TCycleEnd { Finalized, CoreStillHeld };

TEST(ModuleReload, AThousandLoadsGiveEveryReferenceAndObjectBack)
{
    fakeplayer::TFakeCore core;
    testing_support::Watch(core);
    testing_support::TMemoryContext dc(32, 24);
    auto block = std::make_unique<TAIMPVisualData>();
    const std::size_t liveBefore = StandInLiveObjectCount();
    StandInSetRasterizing(FALSE); // the frames matter for their objects here, not their pixels

    for (int n = 0; n < Cycles; ++n) {
        const TCycleEnd end = n % 3 == 2 ? TCycleEnd::CoreStillHeld : TCycleEnd::Finalized;
        void* module = dlopen(SELVANORE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        auto getHeader = reinterpret_cast<TAIMPPluginGetHeaderProc>(dlsym(module, "AIMPPluginGetHeader"));
        ASSERT_NE(getHeader, nullptr) << "cycle " << n;

        IAIMPPlugin* plugin = nullptr;
        ASSERT_EQ(getHeader(&plugin), S_OK) << "cycle " << n;
        ASSERT_EQ(plugin->Initialize(&core), S_OK);
        ASSERT_EQ(core.Extensions().size(), 1u);
        IAIMPExtensionEmbeddedVisualization* vis = nullptr;
        ASSERT_EQ(core.Extensions()[0].Extension->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization,
                                                                 reinterpret_cast<void**>(&vis)),
                  S_OK);
        IAIMPString* name = nullptr;
        ASSERT_EQ(vis->GetName(&name), S_OK);
        name->Release();
        ASSERT_EQ(vis->Initialize(32, 24), S_OK);
        for (int frame = 0; frame < 2; ++frame)
            vis->Draw(dc.Dc(), block.get());
        vis->Finalize();
        vis->Release();
        core.ReleaseExtensions();
        if (end == TCycleEnd::Finalized)
            plugin->Finalize();
        ASSERT_EQ(plugin->Release(), 0u);
        ASSERT_EQ(dlclose(module), 0);

        // The unload released a core that the plug-in's Finalize did not.
        ASSERT_EQ(core.RefCount(), 1) << "cycle " << n;
        ASSERT_EQ(StandInLiveObjectCount(), liveBefore) << "cycle " << n;
    }
    StandInSetRasterizing(TRUE);

    EXPECT_EQ(core.Ledger()[fakeplayer::TObjectKind::Core].Outstanding(), 0);
    EXPECT_EQ(core.Ledger()[fakeplayer::TObjectKind::String].Made, Cycles);
}

} // namespace
