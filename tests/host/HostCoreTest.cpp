#include "host/apiWrappers.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include "tests/support/HostTesting.h"
#include "tests/support/LeakCheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

using fakeplayer::TCallKind;
using fakeplayer::TFakeCore;
using fakeplayer::TObjectKind;
using testing_support::RaisedMessage;

class HostAccess : public testing_support::THostCoreTest {};

TEST_F(HostAccess, WithoutACoreEveryRoutineFailsAndThePlayerIsNotCalled)
{
    TFakeCore core;
    testing_support::Watch(core);
    // Before the first Initialize, and again after Finalize.
    for (const bool initializedBefore : {false, true}) {
        SCOPED_TRACE(initializedBefore ? "after Finalize" : "before Initialize");
        if (initializedBefore) {
            TAIMPAPIWrappers::Initialize(&core);
            TAIMPAPIWrappers::Finalize();
        }
        EXPECT_EQ(RaisedMessage([] { RequireCore(); }), "Plugin was not initialized");
        EXPECT_EQ(RaisedMessage([] { NewHostString(AIMP_TEXT("abc"), 3); }), "Plugin was not initialized");
        void* object = nullptr;
        EXPECT_EQ(RaisedMessage([&] { CreateHostObject(IID_IAIMPString, &object); }), "Plugin was not initialized");

        // QueryHostService answers false without raising and leaves the out slot alone.
        int sentinel = 0;
        void* service = &sentinel;
        EXPECT_FALSE(QueryHostService(IID_IAIMPServiceConfig, &service));
        EXPECT_EQ(service, &sentinel);
    }
    EXPECT_TRUE(core.Ledger().Calls.empty());
}

TEST_F(HostAccess, HoldsExactlyOneReferenceOnTheLatestCore)
{
    TFakeCore first, second;
    TAIMPAPIWrappers::Initialize(&first);
    EXPECT_EQ(first.RefCount(), 2);
    EXPECT_EQ(HostCore.Get(), &first);

    TAIMPAPIWrappers::Initialize(&second);
    EXPECT_EQ(first.RefCount(), 1) << "the replaced core is released";
    EXPECT_EQ(second.RefCount(), 2);
    EXPECT_EQ(HostCore.Get(), &second);

    // Handing in the core already held keeps it, with still one reference.
    TAIMPAPIWrappers::Initialize(&second);
    EXPECT_EQ(second.RefCount(), 2);
    {
        const rtl::TComPtr<IAIMPCore> core = RequireCore();
        EXPECT_EQ(core.Get(), &second);
        EXPECT_EQ(second.RefCount(), 3);
    }

    TAIMPAPIWrappers::Finalize();
    EXPECT_FALSE(HostCore);
    TAIMPAPIWrappers::Finalize(); // nothing held: nothing happens
    for (const TFakeCore* core : {&first, &second}) {
        EXPECT_EQ(core->RefCount(), 1);
        EXPECT_TRUE(core->Ledger().Balanced()) << core->Ledger().Report();
    }
    EXPECT_EQ(second.Ledger()[TObjectKind::Core].Returned, 3) << "each reference released exactly once";
}

TEST_F(HostAccess, NewHostStringCopiesTheTextIntoAStringForTheCaller)
{
    TFakeCore core;
    TAIMPAPIWrappers::Initialize(&core);
    {
        const TAIMPText text = AIMP_TEXT("Selvanore \u00e9\U0001F3B5");
        const rtl::TComPtr<IAIMPString> string = NewHostString(text.data(), static_cast<int32_t>(text.size()));
        ASSERT_TRUE(string);
        EXPECT_EQ(fakeplayer::TextOf(string.Get()), text);
        EXPECT_EQ(string->GetCharCount(), 13) << "UTF-16 code units";
        EXPECT_EQ(core.Ledger()[TObjectKind::String].Outstanding(), 1) << "one reference, the caller's";

        const std::vector<fakeplayer::TCall> made = core.Ledger().CallsOf(TCallKind::MakeObject);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_TRUE(made[0].ID == IID_IAIMPString);
        EXPECT_EQ(core.RefCount(), 2) << "the core taken for the call is given back";
    }
    TAIMPAPIWrappers::Finalize();
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

TEST_F(HostAccess, EmptyTextGoesOutAsAnEmptyTerminatedTextNeverNull)
{
    TFakeCore core;
    TAIMPAPIWrappers::Initialize(&core);
    const std::vector<std::function<rtl::TComPtr<IAIMPString>()>> makers = {
        [] { return NewHostString(AIMP_TEXT(""), 0); },
        [] { return NewHostString(nullptr, 0); },
        [] { return NewHostString(TAIMPText()); },
    };
    for (const auto& make : makers) {
        const rtl::TComPtr<IAIMPString> string = make();
        EXPECT_EQ(string->GetCharCount(), 0);
    }
    const std::vector<fakeplayer::TCall> sets = core.Ledger().CallsOf(TCallKind::SetChars);
    ASSERT_EQ(sets.size(), makers.size());
    for (const fakeplayer::TCall& call : sets) {
        EXPECT_FALSE(call.NullText);
        EXPECT_EQ(call.Count, 0);
    }
    TAIMPAPIWrappers::Finalize();
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

TEST_F(HostAccess, FailingPlayerCallsBecomeErrorsAndGiveEveryReferenceBack)
{
    struct Case {
        const char* Name;
        fakeplayer::TInjected MakeObject;
        bool HandsNull;
        fakeplayer::TInjected SetChars;
        const char* Message; // "" for success
    };
    const Case cases[] = {
        {"all well", {}, false, {}, ""},
        {"positive results are success", {1}, false, {S_FALSE}, ""},
        {"MakeObject fails", {E_FAIL}, false, {}, "Cannot create object (-2147467259)"},
        {"MakeObject has no such class", {E_NOINTERFACE}, false, {}, "Cannot create object (-2147467262)"},
        {"MakeObject succeeds without an object", {}, true, {}, "Cannot create object (-2147467261)"},
        {"SetChars fails", {}, false, {E_FAIL}, "Cannot set data to IAIMPString (-2147467259)"},
        {"SetChars runs out of memory", {}, false, {E_OUTOFMEMORY}, "Cannot set data to IAIMPString (-2147024882)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeCore core;
        core.Faults().MakeObject = c.MakeObject;
        core.Faults().MakeObjectHandsNull = c.HandsNull;
        core.Faults().SetChars = c.SetChars;
        TAIMPAPIWrappers::Initialize(&core);
        EXPECT_EQ(RaisedMessage([] { NewHostString(AIMP_TEXT("name"), 4); }), c.Message);
        EXPECT_EQ(HostCore.Get(), &core) << "a failure leaves HostCore alone";
        EXPECT_EQ(core.RefCount(), 2);
        TAIMPAPIWrappers::Finalize();
        EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
    }
}

TEST_F(HostAccess, NullTextWithCharactersIsRefusedBeforeThePlayerReadsIt)
{
    TFakeCore core;
    TAIMPAPIWrappers::Initialize(&core);
    EXPECT_EQ(RaisedMessage([] { NewHostString(nullptr, 3); }), "Cannot set data to IAIMPString (-2147467261)");
    EXPECT_TRUE(core.Ledger().CallsOf(TCallKind::SetChars).empty());
    TAIMPAPIWrappers::Finalize();
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

TEST_F(HostAccess, CreateHostObjectHandsTheObjectToTheCaller)
{
    TFakeCore core;
    TAIMPAPIWrappers::Initialize(&core);
    rtl::TComPtr<IAIMPString> string;
    CreateHostObject(IID_IAIMPString, string.PutVoid());
    ASSERT_TRUE(string);
    EXPECT_EQ(core.Ledger()[TObjectKind::String].Outstanding(), 1);
    string = nullptr;
    TAIMPAPIWrappers::Finalize();
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

TEST_F(HostAccess, QueryHostServiceAsksTheCoreItself)
{
    TFakeCore core;
    TAIMPAPIWrappers::Initialize(&core);
    {
        rtl::TComPtr<IAIMPServiceConfig> config;
        EXPECT_TRUE(QueryHostService(IID_IAIMPServiceConfig, config.PutVoid()));
        EXPECT_EQ(config.Get(), static_cast<IAIMPServiceConfig*>(&core.Config()));
        EXPECT_EQ(core.Config().RefCount(), 2);

        // A null out slot is not passed on; a service the core lacks is refused.
        EXPECT_FALSE(QueryHostService(IID_IAIMPServiceConfig, nullptr));
        core.Faults().ConfigMissing = true;
        rtl::TComPtr<IAIMPServiceConfig> missing;
        EXPECT_FALSE(QueryHostService(IID_IAIMPServiceConfig, missing.PutVoid()));
        EXPECT_FALSE(missing);
    }
    EXPECT_EQ(core.Ledger().CallsOf(TCallKind::QueryService).size(), 2u);
    TAIMPAPIWrappers::Finalize();
    EXPECT_TRUE(core.Ledger().Balanced()) << core.Ledger().Report();
}

TEST(CheckHostResult, BitThirtyOneDecidesAndTheMessageShowsTheSignedDecimal)
{
    struct Case {
        HRESULT Result;
        const char* Message; // "" for success
    };
    const Case cases[] = {
        {S_OK, ""},
        {S_FALSE, ""},
        {0x7FFFFFFF, ""},
        {E_FAIL, "Failed (-2147467259)"},
        {E_UNEXPECTED, "Failed (-2147418113)"},
        {static_cast<HRESULT>(0x80000000u), "Failed (-2147483648)"},
        {-1, "Failed (-1)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RaisedMessage([&] { CheckHostResult(c.Result, "Failed (%d)"); }), c.Message) << c.Result;
}

TEST(ToHResult, ContainsAnyErrorAsUnexpected)
{
    const auto slot = [](auto ARaise) noexcept -> HRESULT {
        try {
            ARaise();
            return S_OK;
        } catch (...) {
            return ToHResult();
        }
    };
    const std::uint64_t contained = rtl::ContainedCount();
    EXPECT_EQ(slot([] { CheckHostResult(E_FAIL, "x"); }), E_UNEXPECTED);
    EXPECT_EQ(slot([] { throw std::bad_alloc(); }), E_UNEXPECTED);
    EXPECT_EQ(slot([] { throw 7; }), E_UNEXPECTED);
    EXPECT_EQ(slot([] {}), S_OK);
    EXPECT_EQ(rtl::ContainedCount() - contained, 3u) << "every contained error is reported, once";
}

} // namespace
