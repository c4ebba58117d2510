#include "host/apiWrappers.h"
#include "rtl/InterfacedObject.h"
#include "rtl/ComPtr.h"

#include "tests/support/HostTesting.h"

#include <gtest/gtest.h>

#include <concepts>

namespace {

// {5E1A0000-0000-4000-8000-000000000001}: an interface only the probe declares.
constexpr IID IID_IProbeExtra = {0x5E1A0000, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
// {5E1A0000-0000-4000-8000-000000000002}: declared by nobody.
constexpr IID IID_INobody = {0x5E1A0000, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};

struct IProbeExtra : public IUnknown {
    virtual int32_t STDMETHODCALLTYPE Answer() = 0;

protected:
    ~IProbeExtra() = default;
};

// How a probe's constructor treats its own count.
enum class TConstruction { Quiet, TakesAndDropsReference, KeepsReference };

// A counted object over either base, answering one interface of its own through a forwarding
// slot object, as the plug-in and the visualization do.
template <class Base>
class TProbe : public Base {
public:
    static inline int Destroyed = 0;
    static inline IUnknown* Kept = nullptr;

    IProbeExtra* Extra() noexcept { return &FExtra; }

    explicit TProbe(TConstruction AConstruction = TConstruction::Quiet)
    {
        IUnknown* self = static_cast<IUnknown*>(this);
        if (AConstruction == TConstruction::TakesAndDropsReference) {
            // A constructor that hands itself out and gets it back must not free itself.
            self->AddRef();
            self->Release();
        } else if (AConstruction == TConstruction::KeepsReference) {
            self->AddRef();
            Kept = self;
        }
    }

protected:
    ~TProbe() override { ++Destroyed; }

    bool GetInterface(REFIID AIID, void** Obj) noexcept override
    {
        if (AIID == IID_IProbeExtra) {
            *Obj = static_cast<IProbeExtra*>(&FExtra);
            return true;
        }
        return Base::GetInterface(AIID, Obj);
    }

private:
    class TExtra final : public IProbeExtra {
    public:
        explicit TExtra(TProbe& AOwner) : FOwner(AOwner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) override
        {
            return FOwner.QueryInterface(AIID, Obj);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return FOwner.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return FOwner.Release(); }
        int32_t STDMETHODCALLTYPE Answer() override { return 42; }

    private:
        TProbe& FOwner;
    };
    TExtra FExtra{*this};
};

// This clang-format cannot lay out a requires expression.
// clang-format off
template <class T>
concept DirectlyNewable = requires { new T(); };
// clang-format on

// Objects the player holds come only from Make: a direct new does not compile, although the
// probe's constructor is public and it declares no friend.
static_assert(!DirectlyNewable<TProbe<TInterfacedObject>>);
static_assert(!DirectlyNewable<TProbe<TInterfacedObjectEx>>);

template <class Base>
class CountedObjectTest : public ::testing::Test {
protected:
    using TObject = TProbe<Base>;
    void SetUp() override
    {
        TObject::Destroyed = 0;
        TObject::Kept = nullptr;
    }
};

using Bases = ::testing::Types<TInterfacedObject, TInterfacedObjectEx>;
TYPED_TEST_SUITE(CountedObjectTest, Bases);

// Make hands its caller the one reference that held the object together during construction:
// the counts below are one higher than the bare object's (0 after construction) while the
// caller's reference is held.
TYPED_TEST(CountedObjectTest, CountsFromTheCallersReferenceAndTheLastReleaseDestroys)
{
    rtl::TComPtr<TProbe<TypeParam>> owner = Make<TProbe<TypeParam>>();
    TProbe<TypeParam>* object = owner.Get();
    EXPECT_EQ(object->RefCount(), 1);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->AddRef(), 3u);
    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(TProbe<TypeParam>::Destroyed, 0);
    EXPECT_EQ(owner.Detach()->Release(), 0u);
    EXPECT_EQ(TProbe<TypeParam>::Destroyed, 1);
}

TYPED_TEST(CountedObjectTest, ConstructionHoldsTheObjectTogether)
{
    {
        rtl::TComPtr<TProbe<TypeParam>> object = Make<TProbe<TypeParam>>(TConstruction::TakesAndDropsReference);
        EXPECT_EQ(TProbe<TypeParam>::Destroyed, 0);
        EXPECT_EQ(object->RefCount(), 1); // the caller's reference only
    }
    EXPECT_EQ(TProbe<TypeParam>::Destroyed, 1);

    // References the constructor handed out remain counted after construction.
    rtl::TComPtr<TProbe<TypeParam>> object = Make<TProbe<TypeParam>>(TConstruction::KeepsReference);
    EXPECT_EQ(object->RefCount(), 1 + 1);
    ASSERT_EQ(TProbe<TypeParam>::Kept, static_cast<IUnknown*>(object.Get()));
    object = nullptr;
    EXPECT_EQ(TProbe<TypeParam>::Destroyed, 1);
    EXPECT_EQ(TProbe<TypeParam>::Kept->Release(), 0u);
    EXPECT_EQ(TProbe<TypeParam>::Destroyed, 1 + 1);
}

TYPED_TEST(CountedObjectTest, QueryInterfaceWalksTheChainAndTakesOneReference)
{
    TProbe<TypeParam>* object = Make<TProbe<TypeParam>>().Detach();
    auto self = rtl::TComPtr<IUnknown>::Attach(static_cast<IUnknown*>(object));
    {
        rtl::TComPtr<IUnknown> unknown;
        EXPECT_EQ(self->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
        EXPECT_EQ(unknown.Get(), self.Get());
        EXPECT_EQ(object->RefCount(), 2);

        // The descendant's own interface: a different pointer sharing the one count.
        rtl::TComPtr<IProbeExtra> extra;
        EXPECT_EQ(unknown->QueryInterface(IID_IProbeExtra, extra.PutVoid()), S_OK);
        ASSERT_EQ(extra.Get(), object->Extra());
        EXPECT_EQ(extra->Answer(), 42);
        EXPECT_EQ(object->RefCount(), 3);

        rtl::TComPtr<IUnknown> back;
        EXPECT_EQ(extra->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK);
        EXPECT_EQ(back.Get(), self.Get());
    }
    EXPECT_EQ(object->RefCount(), 1);
    EXPECT_EQ(TProbe<TypeParam>::Destroyed, 0);
}

TYPED_TEST(CountedObjectTest, UnknownIdentifierAndNullOutTakeNoReference)
{
    TProbe<TypeParam>* object = Make<TProbe<TypeParam>>().Detach();
    auto self = rtl::TComPtr<IUnknown>::Attach(static_cast<IUnknown*>(object));

    int sentinel = 0;
    void* out = &sentinel;
    EXPECT_EQ(self->QueryInterface(IID_INobody, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(self->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(self->QueryInterface(IID_IProbeExtra, nullptr), E_POINTER);
    EXPECT_EQ(object->RefCount(), 1);
}

class InterfacedObjectExFree : public CountedObjectTest<TInterfacedObjectEx> {};

TEST_F(InterfacedObjectExFree, WhileReferencedRaisesAndTheObjectStaysAlive)
{
    TObject* object = Make<TObject>().Detach();
    object->AddRef(); // a reference besides the caller's
    EXPECT_EQ(testing_support::RaisedMessage([&] { object->Free(); }), "Invalid Pointer");
    EXPECT_EQ(TObject::Destroyed, 0);
    EXPECT_EQ(object->RefCount(), 1 + 1);
    EXPECT_EQ(object->Extra()->Answer(), 42);

    // Still a working object: its last Release destroys it once.
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(TObject::Destroyed, 1);
}

TEST_F(InterfacedObjectExFree, WithOnlyTheCallersReferenceDestroys)
{
    TObject* object = Make<TObject>().Detach();
    EXPECT_EQ(testing_support::RaisedMessage([&] { object->Free(); }), "");
    EXPECT_EQ(TObject::Destroyed, 1);
}

} // namespace
