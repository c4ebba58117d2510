// The built module, loaded the way the player loads it: the library by file name, the export by
// name, then the whole sequence of the player's calls through the interfaces alone, drawing on a
// memory context that holds a 32-bit DIB section. The same suite runs natively on Selvanore.so
// over the Win32 stand-in and under Wine on Selvanore.dll over Wine's GDI.
#include "graphics/ACL.Graphics.h"
#include "host/apiPlugin.h"
#include "host/apiVisuals.h"
#include "tests/support/LeakCheck.h"
#include "tests/support/TestCanvas.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>

#include "win32_standin.h"
#endif

#ifndef SELVANORE_MODULE_FILE
#error "SELVANORE_MODULE_FILE names the built module"
#endif

namespace {

using fakeplayer::TFakeCore;
using fakeplayer::TObjectKind;
using fakeplayer::TText;

// The module file as the loader of this platform names it: the one built beside the test, or
// another build of it that SELVANORE_MODULE_FILE in the environment names, such as the DLL
// unpacked from a release archive. Under Wine a Unix path is reached through drive Z:, which
// Wine maps to the root of the Unix file system.
std::string ModulePath()
{
    const char* chosen = std::getenv("SELVANORE_MODULE_FILE");
    std::string path = chosen && *chosen ? chosen : SELVANORE_MODULE_FILE;
#ifdef _WIN32
    if (!path.empty() && path.front() == '/') {
        for (char& c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
#endif
    return path;
}

// One load of the module, unloaded on destruction unless unloaded before.
class TModule {
public:
    TModule()
    {
#ifdef _WIN32
        FHandle = LoadLibraryA(ModulePath().c_str());
#else
        FHandle = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    TModule(const TModule&) = delete;
    TModule& operator=(const TModule&) = delete;
    ~TModule()
    {
        Unload();
    }

    bool Loaded() const noexcept
    {
        return FHandle != nullptr;
    }

    // An exported symbol by name, or null.
    void* Symbol(const char* AName) const noexcept
    {
        if (!FHandle)
            return nullptr;
#ifdef _WIN32
        return reinterpret_cast<void*>(GetProcAddress(FHandle, AName));
#else
        return dlsym(FHandle, AName);
#endif
    }

    TAIMPPluginGetHeaderProc GetHeader() const noexcept
    {
        return reinterpret_cast<TAIMPPluginGetHeaderProc>(Symbol("AIMPPluginGetHeader"));
    }

    void Unload() noexcept
    {
        if (!FHandle)
            return;
#ifdef _WIN32
        FreeLibrary(FHandle);
#else
        dlclose(FHandle);
#endif
        FHandle = nullptr;
    }

    // Whether the process still has the module mapped, by anyone's load.
    static bool InProcess()
    {
#ifdef _WIN32
        return GetModuleHandleA("Selvanore.dll") != nullptr;
#else
        void* handle = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle)
            dlclose(handle);
        return handle != nullptr;
#endif
    }

private:
#ifdef _WIN32
    HMODULE FHandle = nullptr;
#else
    void* FHandle = nullptr;
#endif
};

// Live pens and brushes of the whole process, stock objects included, so that differences
// count what the module made. Wine resolves a GDI handle by its 16-bit index alone, which lets
// every index be probed with GetObjectType; the stand-in counts its live objects itself (this
// test's own context and bitmap stay alive across every comparison).
std::size_t LivePensAndBrushes()
{
#ifdef _WIN32
    std::size_t count = 0;
    for (ULONG_PTR index = 1; index <= 0xFFFF; ++index) {
        const DWORD type = GetObjectType(reinterpret_cast<HGDIOBJ>(index));
        if (type == OBJ_PEN || type == OBJ_BRUSH || type == OBJ_EXTPEN)
            ++count;
    }
    return count;
#else
    return StandInLiveObjectCount();
#endif
}

// A memory context with a top-down 32-bit DIB section selected, its pixels readable as
// 0x00RRGGBB.
using TSurface = testing_support::TMemoryContext;

// A colour value (0x00BBGGRR) as a DIB pixel (0x00RRGGBB).
using testing_support::PixelOf;

TText Text(const TAIMPChar* AText)
{
    return AText ? TText(AText) : TText();
}

// Holds one counted interface pointer for the test, released at the end of its scope.
template <class T>
class THeld {
public:
    THeld() = default;
    explicit THeld(T* APointer) : FPointer(APointer) {}
    THeld(const THeld&) = delete;
    THeld& operator=(const THeld&) = delete;
    ~THeld() { Reset(); }

    T* operator->() const noexcept { return FPointer; }
    T* Get() const noexcept { return FPointer; }
    T** Put() noexcept
    {
        Reset();
        return &FPointer;
    }
    void Reset() noexcept
    {
        if (FPointer)
            std::exchange(FPointer, nullptr)->Release();
    }

private:
    T* FPointer = nullptr;
};

// The block of analysed audio: silence, so that every captured ring is a circle of radius 25.
std::unique_ptr<TAIMPVisualData> SilentBlock()
{
    auto data = std::make_unique<TAIMPVisualData>();
    std::memset(data.get(), 0, sizeof(TAIMPVisualData));
    return data;
}

constexpr int AreaWidth = 320;
constexpr int AreaHeight = 240;
constexpr int CenterX = AreaWidth / 2;
constexpr int CenterY = AreaHeight / 2;

// A loaded module with a fake player: declared so that the core goes (releasing the
// extensions it holds) before the module is unloaded.
struct ModuleFixture : ::testing::Test {
    TModule Module;
    TFakeCore Core;
    std::unique_ptr<TAIMPVisualData> Silence = SilentBlock();

    void SetUp() override
    {
        testing_support::Watch(Core); // every reference back when the test ends
        ASSERT_TRUE(Module.Loaded()) << ModulePath();
        ASSERT_NE(Module.GetHeader(), nullptr);
    }

    // A new plug-in object, initialized with the core; its one visualization obtained through
    // the registered extension.
    void Start(THeld<IAIMPPlugin>& APlugin, THeld<IAIMPExtensionEmbeddedVisualization>& AVisualization)
    {
        ASSERT_EQ(Module.GetHeader()(APlugin.Put()), S_OK);
        ASSERT_NE(APlugin.Get(), nullptr);
        ASSERT_EQ(APlugin->Initialize(&Core), S_OK);
        ASSERT_EQ(Core.Extensions().size(), 1u);
        ASSERT_TRUE(IsEqualIID(Core.Extensions()[0].ServiceIID, IID_VisualizationService));
        IUnknown* extension = Core.Extensions()[0].Extension;
        ASSERT_EQ(extension->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization,
                                            reinterpret_cast<void**>(AVisualization.Put())),
                  S_OK);
        ASSERT_NE(AVisualization.Get(), nullptr);
    }

    // Ends the player's side: the visualization and plug-in finalized and every reference of
    // the player given back.
    void Stop(THeld<IAIMPPlugin>& APlugin, THeld<IAIMPExtensionEmbeddedVisualization>& AVisualization)
    {
        if (AVisualization.Get())
            AVisualization->Finalize();
        AVisualization.Reset();
        Core.ReleaseExtensions();
        if (APlugin.Get())
            APlugin->Finalize();
        APlugin.Reset();
    }
};

TEST_F(ModuleFixture, ExportsTheEntryByNameOnly)
{
    // Decorated or internal names are not reachable.
    for (const char* name : {"AIMPPluginGetHeader@8", "_AIMPPluginGetHeader", "_AIMPPluginGetHeader@8", "DllMain"})
        EXPECT_EQ(Module.Symbol(name), nullptr) << name;
}

TEST_F(ModuleFixture, EachCallMakesAnIndependentPluginWithOneReference)
{
    // The old slot contents are overwritten, never released: a counted player string stands in
    // for whatever the slot held.
    IAIMPString* previous = Core.NewString(AIMP_TEXT("old"));
    const auto before = Core.Ledger()[TObjectKind::String];
    IAIMPPlugin* first = reinterpret_cast<IAIMPPlugin*>(previous);
    IAIMPPlugin* second = nullptr;
    ASSERT_EQ(Module.GetHeader()(&first), S_OK);
    ASSERT_EQ(Module.GetHeader()(&second), S_OK);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(Core.Ledger()[TObjectKind::String].Returned, before.Returned);
    previous->Release();

    EXPECT_EQ(Text(first->GetInfo(0)), AIMP_TEXT("Selvanore"));
    EXPECT_EQ(Text(first->GetInfo(1)), AIMP_TEXT("Vashkelt"));
    for (int index : {2, -1, 1000}) {
        ASSERT_NE(first->GetInfo(index), nullptr) << index;
        EXPECT_EQ(first->GetInfo(index)[0], 0) << index;
    }
    EXPECT_EQ(first->GetCategories(), 4u);

    // One reference each: the next AddRef makes two, and two Releases end the object.
    EXPECT_EQ(first->AddRef(), 2u);
    EXPECT_EQ(first->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);
}

TEST_F(ModuleFixture, NullSlotIsRefused)
{
    EXPECT_TRUE(FAILED(Module.GetHeader()(nullptr)));
}

TEST_F(ModuleFixture, PlayerSequenceBalancesEveryReference)
{
    TSurface surface(AreaWidth, AreaHeight);
    ASSERT_TRUE(surface.Valid());
    const std::size_t objectsBefore = LivePensAndBrushes();
    {
        THeld<IAIMPPlugin> plugin;
        THeld<IAIMPExtensionEmbeddedVisualization> visualization;
        Start(plugin, visualization);
        EXPECT_EQ(Core.RefCount(), 2);

        THeld<IAIMPString> name;
        ASSERT_EQ(visualization->GetName(name.Put()), S_OK);
        EXPECT_EQ(fakeplayer::TextOf(name.Get()), AIMP_TEXT("Selvanore"));
        name.Reset();
        EXPECT_EQ(visualization->GetFlags(), 1);
        std::int32_t width = 7;
        std::int32_t height = 9;
        EXPECT_EQ(visualization->GetMaxDisplaySize(&width, &height), E_FAIL);
        EXPECT_EQ(width, 7);
        EXPECT_EQ(height, 9);

        ASSERT_EQ(visualization->Initialize(AreaWidth, AreaHeight), S_OK);
        visualization->Draw(surface.Dc(), Silence.get());
        visualization->Click(1, 2, 0);
        visualization->Resize(AreaWidth, AreaHeight);
        visualization->Draw(surface.Dc(), Silence.get());
        // Detaching leaves the stock pen and null brush selected, and the last pen and brush of
        // the frame alive in their pools.
        EXPECT_EQ(GetCurrentObject(surface.Dc(), OBJ_PEN), GetStockObject(BLACK_PEN));
        EXPECT_EQ(GetCurrentObject(surface.Dc(), OBJ_BRUSH), GetStockObject(NULL_BRUSH));
        EXPECT_GE(LivePensAndBrushes(), objectsBefore + 2) << "the probe does not see the module's objects";

        // Freeing the surface deletes every pen and brush the module made.
        visualization->Finalize();
        EXPECT_EQ(LivePensAndBrushes(), objectsBefore);
        visualization.Reset();
        Core.ReleaseExtensions();
        plugin->Finalize();
        EXPECT_EQ(Core.RefCount(), 1);
        plugin.Reset();
    }
}

// Row y = CenterY to the right of the centre: the last x that is not black.
int OuterExtentOnAxis(const TSurface& ASurface)
{
    int outer = CenterX;
    for (int x = CenterX; x < ASurface.Width(); ++x)
        if (ASurface.Pixel(x, CenterY) != 0)
            outer = x;
    return outer;
}

TEST_F(ModuleFixture, RingsFlyOutwardAndTheirDotsGrow)
{
    TSurface surface(AreaWidth, AreaHeight);
    ASSERT_TRUE(surface.Valid());
    THeld<IAIMPPlugin> plugin;
    THeld<IAIMPExtensionEmbeddedVisualization> visualization;
    Start(plugin, visualization);
    ASSERT_EQ(visualization->Initialize(AreaWidth, AreaHeight), S_OK);

    // Frame 1 captures the silent ring into slot 0 and draws it at depth -5: radius 25, dots of
    // size 0, the open outline in slot 0's pen, HSL (0, 255, 1).
    surface.Fill(0x00FFFFFF);
    visualization->Draw(surface.Dc(), Silence.get());
    const std::uint32_t firstPen = PixelOf(0x00000002);
    EXPECT_EQ(surface.Pixel(CenterX + 25, CenterY), firstPen);
    EXPECT_EQ(surface.Pixel(CenterX, CenterY + 25), firstPen);
    EXPECT_EQ(surface.Pixel(CenterX - 25, CenterY), firstPen);
    EXPECT_EQ(surface.Pixel(CenterX, CenterY - 25), firstPen);
    // Everything away from the ring is the black background, the whole area refilled.
    int lit = 0;
    for (int y = 0; y < AreaHeight; ++y)
        for (int x = 0; x < AreaWidth; ++x) {
            const int dx = x - CenterX;
            const int dy = y - CenterY;
            if (dx * dx + dy * dy > 27 * 27 && surface.Pixel(x, y) != 0)
                ++lit;
        }
    EXPECT_EQ(lit, 0) << "pixels outside the ring are not black";

    // Slot 0 stays the outermost ring until its reset; frame n draws it at depth -5n. Each case:
    // the frame, where point 0 lands (centre + 25 x the perspective factor, to nearest), the dot
    // radius and the pen lightness of that depth.
    struct TStage {
        int Frame;
        int PointX;
        int Radius;
        int Lightness;
    };
    const TStage stages[] = {
        {43, CenterX + 36, 1, 37},   // depth -215, factor 1.4432989
        {74, CenterX + 53, 2, 63},   // depth -370, factor 2.1212120
        {96, CenterX + 80, 3, 82},   // depth -480, factor 3.1818182
        {113, CenterX + 130, 4, 97}, // depth -565, factor 5.1851850
    };
    int frame = 1;
    int previousReach = -1;
    for (const TStage& stage : stages) {
        while (frame < stage.Frame) {
            visualization->Draw(surface.Dc(), Silence.get());
            ++frame;
        }
        // The outline starts at point 0 and is drawn over the dot: the pen's colour is there.
        EXPECT_EQ(surface.Pixel(stage.PointX, CenterY), PixelOf(TACLColors::HSLToColor(0, 255, stage.Lightness)))
            << "frame " << stage.Frame;
        // The dot reaches beyond point 0 by about its radius, and further at every stage.
        const int reach = OuterExtentOnAxis(surface) - stage.PointX;
        EXPECT_GE(reach, stage.Radius - 1) << "frame " << stage.Frame;
        EXPECT_LE(reach, stage.Radius + 1) << "frame " << stage.Frame;
        EXPECT_GT(reach, previousReach) << "frame " << stage.Frame;
        previousReach = reach;
    }
    Stop(plugin, visualization);
}

TEST_F(ModuleFixture, DrawingWithoutContextReturnsQuietly)
{
    TSurface surface(AreaWidth, AreaHeight);
    ASSERT_TRUE(surface.Valid());
    THeld<IAIMPPlugin> plugin;
    THeld<IAIMPExtensionEmbeddedVisualization> visualization;
    Start(plugin, visualization);
    ASSERT_EQ(visualization->Initialize(AreaWidth, AreaHeight), S_OK);

    // The surface refuses to draw without a context; that must not escape into the player.
    visualization->Draw(nullptr, Silence.get());
    // The surface stays usable: the next frame draws the ring captured by the failed one.
    surface.Fill(0x00FFFFFF);
    visualization->Draw(surface.Dc(), Silence.get());
    EXPECT_EQ(surface.Pixel(0, 0), 0u);
    EXPECT_NE(surface.Pixel(CenterX + 25, CenterY), 0u);
    Stop(plugin, visualization);
}

// Faults of the player while the visualization makes its name: each ends in a failure code and a
// null string, with every string made given back.
struct TNameFault {
    const char* Name;
    void (*Inject)(TFakeCore& ACore, IAIMPPlugin& APlugin);
};

void PrintTo(const TNameFault& AFault, std::ostream* AStream)
{
    *AStream << AFault.Name;
}

// clang-format off
const TNameFault NameFaults[] = {
    {"MakeObjectFails", [](TFakeCore& ACore, IAIMPPlugin&) { ACore.Faults().MakeObject = {E_FAIL, 0}; }},
    {"MakeObjectHandsNull", [](TFakeCore& ACore, IAIMPPlugin&) { ACore.Faults().MakeObjectHandsNull = true; }},
    {"SetCharsFails", [](TFakeCore& ACore, IAIMPPlugin&) { ACore.Faults().SetChars = {E_OUTOFMEMORY, 0}; }},
    // After the plug-in's Finalize no core is held: "Plugin was not initialized".
    {"CoreReleased", [](TFakeCore&, IAIMPPlugin& APlugin) { APlugin.Finalize(); }},
};
// clang-format on

class ModuleNameFault : public ModuleFixture, public ::testing::WithParamInterface<TNameFault> {};

TEST_P(ModuleNameFault, EndsInFailureCode)
{
    THeld<IAIMPPlugin> plugin;
    THeld<IAIMPExtensionEmbeddedVisualization> visualization;
    Start(plugin, visualization);
    GetParam().Inject(Core, *plugin.Get());

    IAIMPString* name = reinterpret_cast<IAIMPString*>(&Core); // junk the call must clear
    EXPECT_TRUE(FAILED(visualization->GetName(&name)));
    EXPECT_EQ(name, nullptr);
    Core.Faults() = {};
    Stop(plugin, visualization);
}

INSTANTIATE_TEST_SUITE_P(Faults, ModuleNameFault, ::testing::ValuesIn(NameFaults),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(ModuleFixture, RefusedRegistrationStillInitializes)
{
    Core.Faults().AddExtension = {E_FAIL, 0};
    THeld<IAIMPPlugin> plugin;
    ASSERT_EQ(Module.GetHeader()(plugin.Put()), S_OK);
    EXPECT_EQ(plugin->Initialize(&Core), S_OK);
    EXPECT_TRUE(Core.Extensions().empty());
    plugin->Finalize();
    plugin.Reset();
}

// Outside the fixture: these tests load and unload the module themselves.
TEST(ModuleLifetime, UnloadWithoutFinalizeReleasesTheCoreOnce)
{
    TFakeCore core;
    {
        TModule module;
        ASSERT_TRUE(module.Loaded()) << ModulePath();
        THeld<IAIMPPlugin> plugin;
        ASSERT_EQ(module.GetHeader()(plugin.Put()), S_OK);
        ASSERT_EQ(plugin->Initialize(&core), S_OK);
        core.ReleaseExtensions();
        plugin.Reset(); // the player lets go without Finalize
        EXPECT_EQ(core.RefCount(), 2);
        const auto returned = core.Ledger()[TObjectKind::Core].Returned;
        module.Unload();
        EXPECT_FALSE(TModule::InProcess());
        EXPECT_EQ(core.Ledger()[TObjectKind::Core].Returned, returned + 1);
    }
    EXPECT_EQ(core.RefCount(), 1);
    EXPECT_EQ(core.Ledger()[TObjectKind::Core].Outstanding(), 0);
}

TEST(ModuleLifetime, LoadsAndUnloadsAHundredTimes)
{
    TFakeCore core;
    testing_support::Watch(core);
    auto silence = SilentBlock();
    TSurface surface(64, 48);
    ASSERT_TRUE(surface.Valid());
    const std::size_t objectsBefore = LivePensAndBrushes();
    for (int round = 0; round < 100; ++round) {
        TModule module;
        ASSERT_TRUE(module.Loaded()) << "round " << round;
        THeld<IAIMPPlugin> plugin;
        ASSERT_EQ(module.GetHeader()(plugin.Put()), S_OK) << "round " << round;
        ASSERT_EQ(plugin->Initialize(&core), S_OK);
        ASSERT_EQ(core.Extensions().size(), 1u);
        THeld<IAIMPExtensionEmbeddedVisualization> visualization;
        ASSERT_EQ(core.Extensions()[0].Extension->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization,
                                                                 reinterpret_cast<void**>(visualization.Put())),
                  S_OK);
        ASSERT_EQ(visualization->Initialize(64, 48), S_OK);
        visualization->Draw(surface.Dc(), silence.get());
        visualization->Finalize();
        visualization.Reset();
        core.ReleaseExtensions();
        plugin->Finalize();
        plugin.Reset();
        module.Unload();
        ASSERT_FALSE(TModule::InProcess()) << "round " << round;
        ASSERT_EQ(LivePensAndBrushes(), objectsBefore) << "round " << round;
    }
    EXPECT_EQ(core.RefCount(), 1);
}

// An extension of the test's own, registered after the plug-in's visualization. The core lets go
// of its extensions in the order they came, so the probe's last Release sees the process just
// after the visualization was released, while the module is still being unloaded.
class TReleaseProbe final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) override
    {
        if (!Obj)
            return E_POINTER;
        *Obj = IsEqualIID(AIID, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
        if (!*Obj)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefCount; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (--FRefCount == 0)
            ObjectsAtRelease = LivePensAndBrushes();
        return FRefCount;
    }

    // The live pens and brushes when the last reference came back; empty until then.
    std::optional<std::size_t> ObjectsAtRelease;

private:
    ULONG FRefCount = 0;
};

// The player that never finalizes anything: it initializes the plug-in and the visualization,
// drops every reference of its own, the one on its core included, and unloads the module. The
// module's unload then gives back the core's last reference, and that release makes the core let
// go of the visualization: its surface is freed in the middle of the unload, and the pools it
// returns its pen, brush and font to must still be there.
struct TUnloadCase {
    const char* Name;
    int Frames; // drawn before the player lets go
};

void PrintTo(const TUnloadCase& ACase, std::ostream* AStream)
{
    *AStream << ACase.Name;
}

const TUnloadCase UnloadCases[] = {
    // The pen, brush and font are pool entries without GDI objects.
    {"SurfaceNeverDrew", 0},
    // The last frame's pen and brush are GDI objects alive in the pools.
    {"SurfaceDrewFrames", 7},
};

class ModuleUnload : public ::testing::TestWithParam<TUnloadCase> {};

TEST_P(ModuleUnload, CoreReleasedByTheUnloadFreesTheVisualizationBeforeThePools)
{
    TFakeCore core(fakeplayer::TLastRelease::ReleaseExtensions);
    testing_support::Watch(core);
    TReleaseProbe probe;
    auto silence = SilentBlock();
    TSurface surface(64, 48);
    ASSERT_TRUE(surface.Valid());
    const std::size_t objectsBefore = LivePensAndBrushes();
    {
        TModule module;
        ASSERT_TRUE(module.Loaded()) << ModulePath();
        THeld<IAIMPPlugin> plugin;
        ASSERT_EQ(module.GetHeader()(plugin.Put()), S_OK);
        ASSERT_EQ(plugin->Initialize(&core), S_OK);
        ASSERT_EQ(core.Extensions().size(), 1u);
        ASSERT_EQ(core.AddExtension(IID_IUnknown, &probe), S_OK);
        THeld<IAIMPExtensionEmbeddedVisualization> visualization;
        ASSERT_EQ(core.Extensions()[0].Extension->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization,
                                                                 reinterpret_cast<void**>(visualization.Put())),
                  S_OK);
        ASSERT_EQ(visualization->Initialize(64, 48), S_OK);
        for (int frame = 0; frame < GetParam().Frames; ++frame)
            visualization->Draw(surface.Dc(), silence.get());
        if (GetParam().Frames > 0) {
            EXPECT_GE(LivePensAndBrushes(), objectsBefore + 2) << "the probe does not see the module's objects";
        }

        visualization.Reset();
        plugin.Reset();
        core.DropOwnReference();
        ASSERT_EQ(core.RefCount(), 1) << "only the module should hold the core now";
        ASSERT_EQ(core.Extensions().size(), 2u);
        const auto returned = core.Ledger()[TObjectKind::Core].Returned;

        module.Unload();
        EXPECT_FALSE(TModule::InProcess());
        // The unload gave the core back exactly once, and that made the core release the
        // visualization, which destroyed itself, and then the probe.
        EXPECT_EQ(core.Ledger()[TObjectKind::Core].Returned, returned + 1);
        EXPECT_EQ(core.RefCount(), 0);
        EXPECT_TRUE(core.Extensions().empty());
        EXPECT_EQ(core.ExtensionReleaseCounts(), (std::vector<ULONG>{0, 0}));
        // The surface deleted every pen and brush it made when the visualization went, before
        // the probe was released; nothing was left for a later step of the unload.
        ASSERT_TRUE(probe.ObjectsAtRelease.has_value());
        EXPECT_EQ(*probe.ObjectsAtRelease, objectsBefore);
        EXPECT_EQ(LivePensAndBrushes(), objectsBefore);
    }
    EXPECT_EQ(core.Ledger()[TObjectKind::Core].Outstanding(), 0);
}

INSTANTIATE_TEST_SUITE_P(PlayerLetsGo, ModuleUnload, ::testing::ValuesIn(UnloadCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

} // namespace
