#include "plugin/Selvanore_Main.h"
#include "tests/support/HostTesting.h"
#include "tests/support/LeakCheck.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::RaisedMessage;
// The failure results of the visualization's slots; their values are pinned in SlotsTest.
using VisualFailure = TSlotFailure<IAIMPExtensionEmbeddedVisualization>;

TAIMPText TextAt(const TAIMPChar* AText)
{
    return AText ? TAIMPText(AText) : TAIMPText(AIMP_TEXT("<null>"));
}

// A plug-in object held as the player holds it, on a fake player's core.
struct PluginFixture : testing_support::THostCoreTest {
    fakeplayer::TFakeCore Core;
    IAIMPPlugin* Plugin = nullptr;

    void SetUp() override
    {
        THostCoreTest::SetUp();
        testing_support::Watch(Core); // every reference back when the test ends
        Plugin = Make<TVisualPlugin>().Detach()->Interface();
    }
    void TearDown() override
    {
        if (Plugin)
            Plugin->Release();
        Core.ReleaseExtensions();
        THostCoreTest::TearDown();
        EXPECT_EQ(Core.RefCount(), 1);
    }
};

TEST_F(PluginFixture, InfoTextsAndCategoryInEveryState)
{
    for (int state = 0; state < 2; ++state) {
        EXPECT_EQ(TextAt(Plugin->GetInfo(0)), AIMP_TEXT("Selvanore"));
        EXPECT_EQ(TextAt(Plugin->GetInfo(1)), AIMP_TEXT("Vashkelt"));
        for (int index : {2, -1, INT32_MIN, INT32_MAX})
            EXPECT_EQ(TextAt(Plugin->GetInfo(index)), AIMP_TEXT("")) << index;
        EXPECT_EQ(Plugin->GetCategories(), 4u);
        ASSERT_EQ(Plugin->Initialize(&Core), S_OK);
    }
    Plugin->Finalize();
}

TEST_F(PluginFixture, InitializeHoldsTheCoreAndRegistersOneVisualizationEachTime)
{
    ASSERT_EQ(Plugin->Initialize(&Core), S_OK);
    EXPECT_EQ(Core.RefCount(), 2); // the held core
    ASSERT_EQ(Core.Extensions().size(), 1u);
    EXPECT_EQ(Core.Extensions()[0].ServiceIID, IID_VisualizationService);

    // The extension is registered as its IUnknown; the player asks for the visualization.
    IUnknown* extension = Core.Extensions()[0].Extension;
    IUnknown* identity = nullptr;
    ASSERT_EQ(extension->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, extension);
    identity->Release();
    rtl::TComPtr<IAIMPExtensionEmbeddedVisualization> vis;
    ASSERT_EQ(extension->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization, vis.PutVoid()), S_OK);
    rtl::TComPtr<IAIMPString> name;
    ASSERT_EQ(vis->GetName(name.Put()), S_OK);
    EXPECT_EQ(fakeplayer::TextOf(name.Get()), AIMP_TEXT("Selvanore"));

    // A second Initialize registers a second visualization, and a second core replaces the first.
    fakeplayer::TFakeCore second;
    testing_support::Watch(second);
    ASSERT_EQ(Plugin->Initialize(&second), S_OK);
    EXPECT_EQ(Core.RefCount(), 1);
    EXPECT_EQ(second.RefCount(), 2);
    EXPECT_EQ(second.Extensions().size(), 1u);
    EXPECT_NE(second.Extensions()[0].Extension, extension);

    Plugin->Finalize();
    EXPECT_EQ(second.RefCount(), 1);
    Plugin->Finalize(); // nothing held: nothing happens
    name = nullptr;
    vis = nullptr;
    second.ReleaseExtensions();
}

TEST_F(PluginFixture, RefusedRegistrationStillSucceedsAndLeaksNothing)
{
    Core.Faults().AddExtension = {E_FAIL, 0};
    EXPECT_EQ(Plugin->Initialize(&Core), S_OK);
    EXPECT_TRUE(Core.Extensions().empty());
    Plugin->Finalize();
}

TEST_F(PluginFixture, InterfaceIdentities)
{
    IAIMPPlugin* same = nullptr;
    ASSERT_EQ(Plugin->QueryInterface(IID_IAIMPPlugin, reinterpret_cast<void**>(&same)), S_OK);
    EXPECT_EQ(same, Plugin);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(Plugin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_NE(static_cast<void*>(unknown), static_cast<void*>(Plugin));
    void* none = &none;
    EXPECT_EQ(Plugin->QueryInterface(IID_IAIMPCore, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Plugin->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(same->Release(), 1u);
}

TEST_F(PluginFixture, VisualizationNameFailuresAreRaisedByTheOperationAndContainedAtTheSlot)
{
    TVisualization* object = Make<TVisualization>().Detach();
    auto vis = rtl::TComPtr<IAIMPExtensionEmbeddedVisualization>::Attach(object->Interface());
    IAIMPString* junk = reinterpret_cast<IAIMPString*>(&junk);

    EXPECT_EQ(RaisedMessage([&] { object->GetName(); }), "Plugin was not initialized");
    EXPECT_EQ(vis->GetName(&junk), VisualFailure::GetName);
    EXPECT_EQ(junk, nullptr);

    Plugin->Initialize(&Core);
    Core.Faults().MakeObject = {E_FAIL, 0};
    EXPECT_EQ(RaisedMessage([&] { object->GetName(); }), "Cannot create object (-2147467259)");
    Core.Faults().MakeObject = {};
    Core.Faults().SetChars = {static_cast<HRESULT>(0x8000FFFF), 0};
    EXPECT_EQ(RaisedMessage([&] { object->GetName(); }), "Cannot set data to IAIMPString (-2147418113)");
    junk = reinterpret_cast<IAIMPString*>(&junk);
    EXPECT_EQ(vis->GetName(&junk), VisualFailure::GetName);
    EXPECT_EQ(junk, nullptr);
    EXPECT_EQ(vis->GetName(nullptr), VisualFailure::GetNameWithoutOutput);
    Plugin->Finalize();
}

} // namespace
