// The fake player itself: the tests of the access layer, the module and the preview player all
// lean on its counts and answers, so they are checked here first.
#include "tools/lib/fakeplayer/FakePlayer.h"

#include "rtl/ComPtr.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using fakeplayer::TCallKind;
using fakeplayer::TFakeCore;
using fakeplayer::TObjectKind;
using fakeplayer::TText;

TText T(const TAIMPChar* AText)
{
    return TText(AText);
}

TEST(FakeString, SlotsEditTheTextAndCheckTheirArguments)
{
    struct Case {
        const char* Name;
        std::function<HRESULT(IAIMPString&, IAIMPString& AOther)> Call; // AOther holds "lo"
        HRESULT Result;
        TText Text; // afterwards; the string starts as "Hello World"
    };
    const TAIMPChar* none = nullptr;
    // clang-format off
    const Case cases[] = {
        {"SetChar", [](IAIMPString& S, IAIMPString&) { return S.SetChar(0, 'J'); }, S_OK, T(AIMP_TEXT("Jello World"))},
        {"SetChar past the end", [](IAIMPString& S, IAIMPString&) { return S.SetChar(11, 'J'); }, E_INVALIDARG,
         T(AIMP_TEXT("Hello World"))},
        {"SetChars", [](IAIMPString& S, IAIMPString&) { return S.SetChars(AIMP_TEXT("abcdef"), 3); }, S_OK,
         T(AIMP_TEXT("abc"))},
        {"SetChars null with count", [&](IAIMPString& S, IAIMPString&) { return S.SetChars(none, 2); }, E_POINTER,
         T(AIMP_TEXT("Hello World"))},
        {"SetChars negative count", [](IAIMPString& S, IAIMPString&) { return S.SetChars(AIMP_TEXT("a"), -1); },
         E_INVALIDARG, T(AIMP_TEXT("Hello World"))},
        {"Add", [](IAIMPString& S, IAIMPString& O) { return S.Add(&O); }, S_OK, T(AIMP_TEXT("Hello Worldlo"))},
        {"Add2", [](IAIMPString& S, IAIMPString&) { return S.Add2(AIMP_TEXT("!?"), 1); }, S_OK,
         T(AIMP_TEXT("Hello World!"))},
        {"ChangeCase upper", [](IAIMPString& S, IAIMPString&) { return S.ChangeCase(AIMP_STRING_CASE_UPPER); }, S_OK,
         T(AIMP_TEXT("HELLO WORLD"))},
        {"ChangeCase lower", [](IAIMPString& S, IAIMPString&) { return S.ChangeCase(AIMP_STRING_CASE_LOWER); }, S_OK,
         T(AIMP_TEXT("hello world"))},
        {"ChangeCase unknown mode", [](IAIMPString& S, IAIMPString&) { return S.ChangeCase(9); }, E_INVALIDARG,
         T(AIMP_TEXT("Hello World"))},
        {"Delete", [](IAIMPString& S, IAIMPString&) { return S.Delete(5, 6); }, S_OK, T(AIMP_TEXT("Hello"))},
        {"Delete past the end", [](IAIMPString& S, IAIMPString&) { return S.Delete(5, 7); }, E_INVALIDARG,
         T(AIMP_TEXT("Hello World"))},
        {"Insert", [](IAIMPString& S, IAIMPString& O) { return S.Insert(0, &O); }, S_OK,
         T(AIMP_TEXT("loHello World"))},
        {"Insert2 at the end", [](IAIMPString& S, IAIMPString&) { return S.Insert2(11, AIMP_TEXT("!"), 1); }, S_OK,
         T(AIMP_TEXT("Hello World!"))},
        {"Insert2 past the end", [](IAIMPString& S, IAIMPString&) { return S.Insert2(12, AIMP_TEXT("!"), 1); },
         E_INVALIDARG, T(AIMP_TEXT("Hello World"))},
        {"Replace every occurrence", [](IAIMPString& S, IAIMPString&) {
             return S.Replace2(AIMP_TEXT("o"), 1, AIMP_TEXT("00"), 2, 0);
         }, S_OK, T(AIMP_TEXT("Hell00 W00rld"))},
        {"Replace ignoring case", [](IAIMPString& S, IAIMPString& O) {
             rtl::TComPtr<IAIMPString> upper;
             O.Clone(upper.Put());
             upper->ChangeCase(AIMP_STRING_CASE_UPPER);
             return S.Replace(upper.Get(), &O, AIMP_STRING_FIND_IGNORECASE);
         }, S_OK, T(AIMP_TEXT("Hello World"))},
        {"Replace an empty pattern", [](IAIMPString& S, IAIMPString&) {
             return S.Replace2(AIMP_TEXT(""), 0, AIMP_TEXT("x"), 1, 0);
         }, E_INVALIDARG, T(AIMP_TEXT("Hello World"))},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeCore core;
        {
            rtl::TComPtr<IAIMPString> string =
                rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("Hello World")));
            rtl::TComPtr<IAIMPString> other = rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("lo")));
            EXPECT_EQ(c.Call(*string.Get(), *other.Get()), c.Result);
            EXPECT_TRUE(fakeplayer::TextOf(string.Get()) == c.Text);
            EXPECT_TRUE(fakeplayer::TextOf(other.Get()) == AIMP_TEXT("lo"));
        }
        EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
    }
}

TEST(FakeString, QueriesAnswerWithoutChangingTheText)
{
    TFakeCore core;
    {
        auto string = rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("Hello World")));
        auto pattern = rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("WORLD")));
        TAIMPChar c = 0;
        EXPECT_EQ(string->GetChar(4, &c), S_OK);
        EXPECT_EQ(c, TAIMPChar('o'));
        EXPECT_EQ(string->GetChar(-1, &c), E_INVALIDARG);
        EXPECT_EQ(string->GetCharCount(), 11);
        EXPECT_EQ(string->GetChars()[11], TAIMPChar(0)) << "terminated";

        int32_t order = 5;
        EXPECT_EQ(string->Compare(pattern.Get(), &order, FALSE), S_OK);
        EXPECT_EQ(order, -1) << "code units in order: 'H' before 'W'";
        EXPECT_EQ(string->Compare2(AIMP_TEXT("hello world"), 11, &order, TRUE), S_OK);
        EXPECT_EQ(order, 0);

        int32_t index = 0;
        EXPECT_EQ(string->Find(pattern.Get(), &index, AIMP_STRING_FIND_IGNORECASE, 0), S_OK);
        EXPECT_EQ(index, 6);
        EXPECT_EQ(string->Find(pattern.Get(), &index, 0, 0), E_FAIL);
        EXPECT_EQ(index, -1);
        EXPECT_EQ(string->Find2(AIMP_TEXT("o"), 1, &index, 0, 5), S_OK);
        EXPECT_EQ(index, 7);

        rtl::TComPtr<IAIMPString> part;
        EXPECT_EQ(string->SubString(6, 5, part.Put()), S_OK);
        EXPECT_TRUE(fakeplayer::TextOf(part.Get()) == AIMP_TEXT("World"));
        EXPECT_EQ(string->SubString(6, 6, part.Put()), E_INVALIDARG);
        EXPECT_FALSE(part);

        auto same = rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("Hello World")));
        EXPECT_EQ(string->GetHashCode(), same->GetHashCode());
        EXPECT_NE(string->GetHashCode(), pattern->GetHashCode());
        EXPECT_TRUE(fakeplayer::TextOf(string.Get()) == AIMP_TEXT("Hello World"));
    }
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

TEST(FakeCore, CountsEveryReferenceItHandsOutAndGetsBack)
{
    TFakeCore core;
    {
        rtl::TComPtr<IUnknown> unknown;
        EXPECT_EQ(core.QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
        EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(&core));
        rtl::TComPtr<IAIMPServiceConfig> config;
        EXPECT_EQ(core.QueryInterface(IID_IAIMPServiceConfig, config.PutVoid()), S_OK);
        rtl::TComPtr<IAIMPString> string;
        EXPECT_EQ(core.MakeObject(IID_IAIMPString, string.PutVoid()), S_OK);

        EXPECT_FALSE(core.Ledger().Balanced());
        EXPECT_EQ(core.Ledger()[TObjectKind::Core].Outstanding(), 1);
        EXPECT_EQ(core.Ledger()[TObjectKind::Config].Outstanding(), 1);
        EXPECT_EQ(core.Ledger()[TObjectKind::String].Live(), 1);
    }
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
    EXPECT_EQ(core.RefCount(), 1);

    // Refusals hand out nothing.
    int sentinel = 0;
    void* out = &sentinel;
    EXPECT_EQ(core.QueryInterface(IID_IAIMPString, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(core.MakeObject(IID_IAIMPConfig, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(core.MakeObject(IID_IAIMPString, nullptr), E_POINTER);
    core.Faults().ConfigMissing = true;
    EXPECT_EQ(core.QueryInterface(IID_IAIMPServiceConfig, &out), E_NOINTERFACE);
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

TEST(FakeCore, InjectedFailuresStartAtTheirCall)
{
    TFakeCore core;
    core.Faults().MakeObject = {E_OUTOFMEMORY, 1};
    rtl::TComPtr<IAIMPString> first, second;
    EXPECT_EQ(core.MakeObject(IID_IAIMPString, first.PutVoid()), S_OK);
    EXPECT_EQ(core.MakeObject(IID_IAIMPString, second.PutVoid()), E_OUTOFMEMORY);
    EXPECT_FALSE(second);
    EXPECT_EQ(core.Ledger().CallsSoFar(TCallKind::MakeObject), 2);

    // A positive injected code still performs the call.
    core.Faults().SetChars = {S_FALSE};
    EXPECT_EQ(first->SetChars(AIMP_TEXT("x"), 1), S_FALSE);
    EXPECT_TRUE(fakeplayer::TextOf(first.Get()) == AIMP_TEXT("x"));
    core.Faults().SetChars = {E_FAIL};
    EXPECT_EQ(first->SetChars(AIMP_TEXT("y"), 1), E_FAIL);
    EXPECT_TRUE(fakeplayer::TextOf(first.Get()) == AIMP_TEXT("x"));
}

// A module object that counts its own references and is destroyed by its last Release.
class TExtensionProbe final : public IUnknown {
public:
    explicit TExtensionProbe(bool& ADestroyed) : FDestroyed(ADestroyed) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** Obj) override
    {
        *Obj = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FCount; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --FCount;
        if (count == 0) {
            FDestroyed = true;
            delete this;
        }
        return count;
    }
    ULONG Count() const { return FCount; }

private:
    ~TExtensionProbe() = default;
    bool& FDestroyed;
    ULONG FCount = 1;
};

TEST(FakeCore, ExtensionsAreKeptWithTheirOwnReferenceUntilReleased)
{
    bool destroyed = false, refusedDestroyed = false, leftDestroyed = false;
    {
        TFakeCore core;
        auto* kept = new TExtensionProbe(destroyed);
        EXPECT_EQ(core.AddExtension(IID_IAIMPServiceConfig, kept), S_OK);
        EXPECT_EQ(kept->Count(), 2u);
        ASSERT_EQ(core.Extensions().size(), 1u);
        EXPECT_TRUE(core.Extensions()[0].ServiceIID == IID_IAIMPServiceConfig);
        EXPECT_EQ(core.Extensions()[0].Extension, kept);
        kept->Release();
        EXPECT_FALSE(destroyed);
        core.ReleaseExtensions();
        EXPECT_TRUE(destroyed);

        core.Faults().AddExtension = {E_FAIL};
        auto* refused = new TExtensionProbe(refusedDestroyed);
        EXPECT_EQ(core.AddExtension(IID_IAIMPServiceConfig, refused), E_FAIL);
        EXPECT_TRUE(core.Extensions().empty());
        refused->Release();
        EXPECT_TRUE(refusedDestroyed);

        core.Faults().AddExtension = {};
        auto* left = new TExtensionProbe(leftDestroyed);
        EXPECT_EQ(core.AddExtension(IID_IAIMPServiceConfig, left), S_OK);
        left->Release();
        EXPECT_EQ(core.AddExtension(IID_IAIMPServiceConfig, nullptr), E_POINTER);
        EXPECT_EQ(core.Ledger().CallsOf(TCallKind::AddExtension).size(), 4u);
    }
    EXPECT_TRUE(leftDestroyed) << "the core's destruction releases what it still holds";
}

TEST(FakeConfig, KeepsValuesByKeyPathAndDeletesWholeBranches)
{
    TFakeCore core;
    fakeplayer::TFakeConfig& config = core.Config();
    {
        auto key = rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("A\\B")));
        auto child = rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("A\\B\\C")));
        auto sibling = rtl::TComPtr<IAIMPString>::Attach(core.NewString(AIMP_TEXT("A\\BC")));
        EXPECT_EQ(config.SetInt64Value(key.Get(), int64_t{1} << 40), S_OK);
        EXPECT_EQ(config.SetInt32Value(child.Get(), 2), S_OK);
        EXPECT_EQ(config.SetFloatValue(sibling.Get(), 2.5), S_OK);

        int32_t narrow = 0;
        EXPECT_EQ(config.GetInt32Value(key.Get(), &narrow), E_FAIL) << "does not fit";
        double wide = 0;
        EXPECT_EQ(config.GetFloatValue(child.Get(), &wide), S_OK);
        EXPECT_EQ(wide, 2.0);
        rtl::TComPtr<IAIMPString> text;
        EXPECT_EQ(config.GetStringValue(child.Get(), text.Put()), E_FAIL) << "a number is not a text";

        EXPECT_EQ(config.DeleteValue(key.Get()), S_OK);
        EXPECT_FALSE(config.Value(AIMP_TEXT("A\\B")));
        EXPECT_FALSE(config.Value(AIMP_TEXT("A\\B\\C")));
        EXPECT_TRUE(config.Value(AIMP_TEXT("A\\BC")));
        EXPECT_EQ(config.SetInt32Value(nullptr, 1), E_POINTER);
    }
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

} // namespace
