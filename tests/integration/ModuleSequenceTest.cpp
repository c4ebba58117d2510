// The whole sequence with the player, against the built module loaded by path.
#include "host/apiPlugin.h"
#include "host/apiVisuals.h"
#include "rtl/ComPtr.h"
#include "tests/support/GdiRecording.h"
#include "tests/support/LeakCheck.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <memory>

namespace {

using testing_support::TCallRecorder;
using testing_support::TMemoryContext;

// The module, loaded for the lifetime of the object.
class TLoadedModule {
public:
    TLoadedModule() : FHandle(dlopen(SELVANORE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL))
    {
        if (FHandle)
            FGetHeader = reinterpret_cast<TAIMPPluginGetHeaderProc>(dlsym(FHandle, "AIMPPluginGetHeader"));
    }
    ~TLoadedModule() { Unload(); }
    TLoadedModule(const TLoadedModule&) = delete;
    TLoadedModule& operator=(const TLoadedModule&) = delete;

    bool Loaded() const { return FGetHeader != nullptr; }
    HRESULT GetHeader(IAIMPPlugin** Header) const { return FGetHeader(Header); }
    void Unload()
    {
        if (FHandle)
            dlclose(FHandle);
        FHandle = nullptr;
        FGetHeader = nullptr;
    }

private:
    void* FHandle;
    TAIMPPluginGetHeaderProc FGetHeader = nullptr;
};

// The leak check of the test main sees that the module leaves no GDI object and, for each
// player watched, no reference behind.
struct ModuleFixture : ::testing::Test {};

TEST_F(ModuleFixture, WholeSequenceGivesEveryReferenceBack)
{
    fakeplayer::TFakeCore core;
    testing_support::Watch(core);
    {
        TLoadedModule module;
        ASSERT_TRUE(module.Loaded()) << dlerror();

        rtl::TComPtr<IAIMPPlugin> plugin;
        ASSERT_EQ(module.GetHeader(plugin.Put()), S_OK);
        EXPECT_EQ(std::u16string(plugin->GetInfo(0)), u"Selvanore");
        EXPECT_EQ(std::u16string(plugin->GetInfo(1)), u"Vashkelt");
        EXPECT_EQ(plugin->GetCategories(), 4u);
        ASSERT_EQ(plugin->Initialize(&core), S_OK);
        ASSERT_EQ(core.Extensions().size(), 1u);

        rtl::TComPtr<IAIMPExtensionEmbeddedVisualization> vis;
        ASSERT_EQ(
            core.Extensions()[0].Extension->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization, vis.PutVoid()),
            S_OK);
        rtl::TComPtr<IAIMPString> name;
        ASSERT_EQ(vis->GetName(name.Put()), S_OK);
        EXPECT_EQ(fakeplayer::TextOf(name.Get()), u"Selvanore");
        name = nullptr;
        EXPECT_EQ(vis->GetFlags(), 1);
        ASSERT_EQ(vis->Initialize(64, 48), S_OK);

        auto data = std::make_unique<TAIMPVisualData>();
        TMemoryContext dc(64, 48);
        {
            TCallRecorder recorder;
            for (int n = 0; n < 12; ++n)
                vis->Draw(dc.Dc(), data.get());
            EXPECT_EQ(recorder.Only("FillRect").size(), 12u);
            EXPECT_EQ(recorder.Only("Ellipse").size(), 12u * 1984u);
            EXPECT_EQ(recorder.Only("Polyline").size(), 12u * 31u);
        }
        // The silent ring of the first capture, 12 frames on (depth -60), lies right of centre.
        EXPECT_EQ(dc.Pixel(0, 0), 0u);
        EXPECT_NE(dc.Pixel(32 + 27, 24), 0u);
        vis->Resize(100, 50);
        vis->Draw(dc.Dc(), data.get());
        vis->Finalize();
        vis = nullptr;

        plugin->Finalize();
        EXPECT_EQ(core.RefCount(), 1);
        plugin = nullptr;
        core.ReleaseExtensions();
    }
    EXPECT_EQ(core.Ledger()[fakeplayer::TObjectKind::Core].Outstanding(), 0);
}

TEST_F(ModuleFixture, EveryHeaderIsANewObjectAndTheOldSlotIsNotReleased)
{
    TLoadedModule module;
    ASSERT_TRUE(module.Loaded()) << dlerror();
    IAIMPPlugin* first = nullptr;
    ASSERT_EQ(module.GetHeader(&first), S_OK);
    IAIMPPlugin* slot = first; // an old value: overwritten, not released
    ASSERT_EQ(module.GetHeader(&slot), S_OK);
    EXPECT_NE(slot, first);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(slot->Release(), 0u);
    EXPECT_EQ(module.GetHeader(nullptr), E_UNEXPECTED);
}

TEST_F(ModuleFixture, UnloadWithoutFinalizeReleasesTheCoreOnce)
{
    fakeplayer::TFakeCore core;
    testing_support::Watch(core);
    {
        TLoadedModule module;
        ASSERT_TRUE(module.Loaded()) << dlerror();
        IAIMPPlugin* plugin = nullptr;
        ASSERT_EQ(module.GetHeader(&plugin), S_OK);
        ASSERT_EQ(plugin->Initialize(&core), S_OK);
        plugin->Release();
        core.ReleaseExtensions();
        EXPECT_EQ(core.RefCount(), 2);
        module.Unload();
        EXPECT_EQ(core.RefCount(), 1);
    }
    EXPECT_EQ(core.Ledger()[fakeplayer::TObjectKind::Core].Outstanding(), 0);
}

TEST_F(ModuleFixture, LoadsAndUnloadsRepeatedly)
{
    fakeplayer::TFakeCore core;
    testing_support::Watch(core);
    for (int n = 0; n < 100; ++n) {
        TLoadedModule module;
        ASSERT_TRUE(module.Loaded()) << dlerror();
        IAIMPPlugin* plugin = nullptr;
        ASSERT_EQ(module.GetHeader(&plugin), S_OK);
        ASSERT_EQ(plugin->Initialize(&core), S_OK);
        if (n % 2 == 0)
            plugin->Finalize();
        plugin->Release();
        core.ReleaseExtensions();
    }
    EXPECT_EQ(core.RefCount(), 1);
}

} // namespace
