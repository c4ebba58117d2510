// The edge the player calls: the producers contain every error of an operation, answer the slot's
// failure result from the table and report each contained error once; QueryInterface follows
// from the interface list in a class's head.
#include "host/apiSlots.h"
#include "plugin/Selvanore_Main.h"
#include "rtl/SysUtils.h"

#include "tests/support/HostTesting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>

namespace {

using PluginFailure = TSlotFailure<IAIMPPlugin>;
using VisualFailure = TSlotFailure<IAIMPExtensionEmbeddedVisualization>;

// What a probe's operations do.
enum class TFault { None, ModuleError, OutOfMemory, Foreign };

void Fail(TFault AFault)
{
    switch (AFault) {
    case TFault::None: return;
    case TFault::ModuleError: rtl::Raise(rtl::Exception("probe failed"));
    case TFault::OutOfMemory: throw std::bad_alloc();
    case TFault::Foreign: throw 7;
    }
}

// A plug-in whose every operation fails as Fault says.
class TFailingPlugin final : public TAIMPCustomPlugin {
public:
    TFault Fault = TFault::None;

    const TAIMPChar* GetInfo(std::int32_t) override { return Fail(Fault), AIMP_TEXT("probe"); }
    DWORD GetCategories() override { return Fail(Fault), 9; }
    HRESULT Initialize(IAIMPCore*) override { return Fail(Fault), S_FALSE; }
    void Finalize() override { Fail(Fault); }
    void Notify(INT_PTR, INT_PTR) override { Fail(Fault); }
};

// A visualization whose every operation fails as Fault says, and which otherwise answers values
// that no failure result has.
class TFailingVisualization final
    : public TImplements<TFailingVisualization, TInterfacedObject, IAIMPExtensionEmbeddedVisualization> {
public:
    TFault Fault = TFault::None;
    int Calls = 0;

    std::int32_t GetFlags() { return Fail(Fault), 5; }
    HRESULT GetMaxDisplaySize(std::int32_t& Width, std::int32_t& Height)
    {
        Width = 640; // written before failing: the player must not see it
        Height = 480;
        return Fail(Fault), S_OK;
    }
    rtl::TComPtr<IAIMPString> GetName() { return Fail(Fault), rtl::TComPtr<IAIMPString>(); }
    HRESULT Initialize(std::int32_t, std::int32_t) { return Fail(Fault), S_FALSE; }
    void Finalize() { ++Calls, Fail(Fault); }
    void Click(std::int32_t, std::int32_t, std::int32_t) { ++Calls, Fail(Fault); }
    void Draw(HDC, const TAIMPVisualData*) { ++Calls, Fail(Fault); }
    void Resize(std::int32_t, std::int32_t) { ++Calls, Fail(Fault); }

protected:
    ~TFailingVisualization() override = default;
};

// The count of contained errors that F adds.
std::uint64_t ContainedBy(const std::function<void()>& F)
{
    const std::uint64_t before = rtl::ContainedCount();
    F();
    return rtl::ContainedCount() - before;
}

TEST(SlotFailureTable, HoldsTheDocumentedResults)
{
    ASSERT_NE(PluginFailure::GetInfo, nullptr);
    EXPECT_EQ(PluginFailure::GetInfo[0], 0) << "the empty text";
    EXPECT_EQ(PluginFailure::GetCategories, 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(PluginFailure::Initialize), 0x8000FFFFu);
    EXPECT_EQ(VisualFailure::GetFlags, 0);
    EXPECT_EQ(static_cast<std::uint32_t>(VisualFailure::GetMaxDisplaySize), 0x8000FFFFu);
    EXPECT_EQ(static_cast<std::uint32_t>(VisualFailure::GetName), 0x8000FFFFu);
    EXPECT_EQ(static_cast<std::uint32_t>(VisualFailure::GetNameWithoutOutput), 0x80004003u);
    EXPECT_EQ(static_cast<std::uint32_t>(VisualFailure::Initialize), 0x8000FFFFu);
}

class PluginSlots : public ::testing::TestWithParam<TFault> {};

TEST_P(PluginSlots, AnswerTheTableAndReportEachContainedErrorOnce)
{
    const rtl::TComPtr<TFailingPlugin> object = Make<TFailingPlugin>();
    object->Fault = GetParam();
    IAIMPPlugin* plugin = object->Interface();
    const bool fails = GetParam() != TFault::None;
    const std::uint64_t once = fails ? 1 : 0;

    const TAIMPChar* info = nullptr;
    EXPECT_EQ(ContainedBy([&] { info = plugin->GetInfo(0); }), once);
    EXPECT_EQ(info, fails ? PluginFailure::GetInfo : AIMP_TEXT("probe"));
    DWORD categories = 0;
    EXPECT_EQ(ContainedBy([&] { categories = plugin->GetCategories(); }), once);
    EXPECT_EQ(categories, fails ? PluginFailure::GetCategories : 9u);
    HRESULT result = S_OK;
    EXPECT_EQ(ContainedBy([&] { result = plugin->Initialize(nullptr); }), once);
    EXPECT_EQ(result, fails ? PluginFailure::Initialize : S_FALSE);
    EXPECT_EQ(ContainedBy([&] { plugin->Finalize(); }), once);
    EXPECT_EQ(ContainedBy([&] { plugin->Notify(1, 2); }), once);
    EXPECT_EQ(object->RefCount(), 1) << "containment takes and keeps no reference";
}

class VisualizationSlots : public ::testing::TestWithParam<TFault> {};

TEST_P(VisualizationSlots, AnswerTheTableClearTheOutputsAndReportEachContainedErrorOnce)
{
    const rtl::TComPtr<TFailingVisualization> object = Make<TFailingVisualization>();
    object->Fault = GetParam();
    IAIMPExtensionEmbeddedVisualization* vis = object->Interface();
    const bool fails = GetParam() != TFault::None;
    const std::uint64_t once = fails ? 1 : 0;

    std::int32_t flags = -1;
    EXPECT_EQ(ContainedBy([&] { flags = vis->GetFlags(); }), once);
    EXPECT_EQ(flags, fails ? VisualFailure::GetFlags : 5);

    std::int32_t width = 11, height = 22;
    HRESULT result = S_OK;
    EXPECT_EQ(ContainedBy([&] { result = vis->GetMaxDisplaySize(&width, &height); }), once);
    EXPECT_EQ(result, fails ? VisualFailure::GetMaxDisplaySize : S_OK);
    EXPECT_EQ(width, fails ? 11 : 640) << "written only on success";
    EXPECT_EQ(height, fails ? 22 : 480);

    IAIMPString* junk = reinterpret_cast<IAIMPString*>(&junk);
    EXPECT_EQ(ContainedBy([&] { result = vis->GetName(&junk); }), once);
    EXPECT_EQ(result, fails ? VisualFailure::GetName : S_OK);
    EXPECT_EQ(junk, nullptr) << "the output is cleared before the call";
    EXPECT_EQ(ContainedBy([&] { result = vis->GetName(nullptr); }), 0u) << "the operation is not called";
    EXPECT_EQ(result, VisualFailure::GetNameWithoutOutput);

    EXPECT_EQ(ContainedBy([&] { result = vis->Initialize(1, 2); }), once);
    EXPECT_EQ(result, fails ? VisualFailure::Initialize : S_FALSE);

    EXPECT_EQ(ContainedBy([&] {
                  vis->Finalize();
                  vis->Click(1, 2, 3);
                  vis->Draw(nullptr, nullptr);
                  vis->Resize(4, 5);
              }),
              4 * once);
    EXPECT_EQ(object->Calls, 4) << "every void slot reached its operation";
    EXPECT_EQ(object->RefCount(), 1);
}

const TFault Faults[] = {TFault::None, TFault::ModuleError, TFault::OutOfMemory, TFault::Foreign};
INSTANTIATE_TEST_SUITE_P(Faults, PluginSlots, ::testing::ValuesIn(Faults));
INSTANTIATE_TEST_SUITE_P(Faults, VisualizationSlots, ::testing::ValuesIn(Faults));

// The frame that fails for want of a device context is contained at the slot and reported; the
// frame after it draws again.
TEST(VisualizationDraw, AFailedFrameIsReportedAsContained)
{
    const rtl::TComPtr<TVisualization> object = Make<TVisualization>();
    IAIMPExtensionEmbeddedVisualization* vis = object->Interface();
    ASSERT_EQ(vis->Initialize(8, 8), S_OK);
    EXPECT_EQ(testing_support::RaisedMessage([&] { object->Draw(nullptr, nullptr); }), "Canvas does not allow drawing");
    EXPECT_EQ(ContainedBy([&] { vis->Draw(nullptr, nullptr); }), 1u);
    EXPECT_EQ(object->Canvas()->Handle(), nullptr);
    vis->Finalize();
}

// {5E1A0000-0000-4000-8000-000000000003}
constexpr IID IID_ISecond = {0x5E1A0000, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3}};

} // namespace

// A second interface, to show that a class may list several: its producer forwards Answer.
struct ISecond : public IUnknown {
    virtual int32_t STDMETHODCALLTYPE Answer() = 0;

protected:
    ~ISecond() = default;
};

template <>
struct TInterfaceID<ISecond> {
    static constexpr const IID& Value = IID_ISecond;
};

template <class D>
class TProduce<D, ISecond> final : public TProduceUnknown<D, ISecond> {
public:
    using TProduceUnknown<D, ISecond>::TProduceUnknown;
    int32_t STDMETHODCALLTYPE Answer() noexcept override
    {
        return ContainSlot(std::int32_t{-1}, [&] { return this->Owner().Answer(); });
    }
};

namespace {

class TTwoInterfaces final : public TImplements<TTwoInterfaces, TInterfacedObjectEx, IAIMPPlugin, ISecond> {
public:
    const TAIMPChar* GetInfo(std::int32_t) { return AIMP_TEXT("two"); }
    DWORD GetCategories() { return 2; }
    HRESULT Initialize(IAIMPCore*) { return S_OK; }
    void Finalize() {}
    void Notify(INT_PTR, INT_PTR) {}
    std::int32_t Answer() { return 42; }

protected:
    ~TTwoInterfaces() override = default;
};

TEST(InterfaceList, EveryListedInterfaceIsAnsweredWithItsProducerAndSharesOneCount)
{
    TTwoInterfaces* object = Make<TTwoInterfaces>().Detach();
    auto self = rtl::TComPtr<IUnknown>::Attach(static_cast<IUnknown*>(object));

    struct Case {
        const IID* ID;
        void* Expected;
    };
    const Case cases[] = {
        {&IID_IUnknown, static_cast<IUnknown*>(object)},
        {&IID_IAIMPPlugin, object->Interface<IAIMPPlugin>()},
        {&IID_ISecond, object->Interface<ISecond>()},
    };
    EXPECT_EQ(object->Interface(), object->Interface<IAIMPPlugin>()) << "the first listed is the default";
    for (const Case& c : cases) {
        // Asked of every interface of the object, each answer is the same pointer.
        for (const Case& from : cases) {
            void* out = nullptr;
            ASSERT_EQ(static_cast<IUnknown*>(from.Expected)->QueryInterface(*c.ID, &out), S_OK);
            EXPECT_EQ(out, c.Expected);
            EXPECT_EQ(object->RefCount(), 2);
            static_cast<IUnknown*>(out)->Release();
        }
    }
    EXPECT_EQ(object->Interface<ISecond>()->Answer(), 42);
    EXPECT_EQ(std::basic_string<TAIMPChar>(object->Interface()->GetInfo(0)), AIMP_TEXT("two"));
    void* none = &none;
    EXPECT_EQ(self->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(object->RefCount(), 1);
}

} // namespace
