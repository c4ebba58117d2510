#include "host/apiWrappers.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include "tests/support/HostTesting.h"
#include "tests/support/LeakCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using fakeplayer::TCallKind;
using fakeplayer::TConfigSlot;
using fakeplayer::TConfigValue;
using fakeplayer::TFakeCore;
using testing_support::RaisedMessage;

constexpr HRESULT AccessDenied = static_cast<HRESULT>(0x80070005u);

// A wrapper bound to a fresh fake player; every reference must be back when the test ends.
class ServiceConfig : public testing_support::THostCoreTest {
protected:
    void SetUp() override
    {
        THostCoreTest::SetUp();
        testing_support::Watch(FCore); // every reference back when the test ends
        TAIMPAPIWrappers::Initialize(&FCore);
    }
    void TearDown() override
    {
        THostCoreTest::TearDown();
        EXPECT_EQ(FCore.RefCount(), 1);
        EXPECT_EQ(FCore.Config().RefCount(), 1);
    }

    void Fail(TConfigSlot ASlot, HRESULT AResult = E_FAIL)
    {
        FCore.Faults().Config[static_cast<std::size_t>(ASlot)] = {AResult};
    }

    TFakeCore FCore;
};

TEST_F(ServiceConfig, CreateBindsToTheCoresServiceWithOneReference)
{
    {
        TAIMPServiceConfig config;
        EXPECT_EQ(config.Service(), static_cast<IAIMPServiceConfig*>(&FCore.Config()));
        EXPECT_EQ(FCore.Config().RefCount(), 2);
    }
    EXPECT_EQ(FCore.Config().RefCount(), 1);
}

TEST_F(ServiceConfig, CreateWithoutTheServiceRaisesNotSupported)
{
    // No core held: the service query answers false, so the error is not "not initialized".
    TAIMPAPIWrappers::Finalize();
    EXPECT_EQ(RaisedMessage([] { TAIMPServiceConfig config; }), "The IAIMPServiceConfig is not supported");

    TAIMPAPIWrappers::Initialize(&FCore);
    FCore.Faults().ConfigMissing = true;
    EXPECT_EQ(RaisedMessage([] { TAIMPServiceConfig config; }), "The IAIMPServiceConfig is not supported");
}

TEST_F(ServiceConfig, ValuesRoundTripAtFullWidth)
{
    TAIMPServiceConfig config;
    const TAIMPText text = AIMP_TEXT("t\u00eate \U0001F3B5");
    config.WriteInteger(AIMP_TEXT("A\\Int"), std::numeric_limits<std::int32_t>::min());
    config.WriteInt64(AIMP_TEXT("A\\Int64"), std::numeric_limits<std::int64_t>::min() + 1);
    config.WriteFloat(AIMP_TEXT("A\\Float"), 0.1 + 1e-17);
    config.WriteString(AIMP_TEXT("A\\Text"), text);

    EXPECT_EQ(config.ReadInteger(AIMP_TEXT("A\\Int"), 5), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(config.ReadInt64(AIMP_TEXT("A\\Int64"), 5), std::numeric_limits<std::int64_t>::min() + 1);
    EXPECT_EQ(config.ReadFloat(AIMP_TEXT("A\\Float"), 5.0), 0.1 + 1e-17);
    EXPECT_EQ(config.ReadString(AIMP_TEXT("A\\Text"), AIMP_TEXT("x")), text);

    // Each went through its own slot, with the key as the player string.
    const struct {
        TConfigSlot Slot;
        TAIMPText Key;
    } expected[] = {
        {TConfigSlot::SetInt32Value, AIMP_TEXT("A\\Int")},   {TConfigSlot::SetInt64Value, AIMP_TEXT("A\\Int64")},
        {TConfigSlot::SetFloatValue, AIMP_TEXT("A\\Float")}, {TConfigSlot::SetStringValue, AIMP_TEXT("A\\Text")},
        {TConfigSlot::GetInt32Value, AIMP_TEXT("A\\Int")},   {TConfigSlot::GetInt64Value, AIMP_TEXT("A\\Int64")},
        {TConfigSlot::GetFloatValue, AIMP_TEXT("A\\Float")}, {TConfigSlot::GetStringValue, AIMP_TEXT("A\\Text")},
    };
    std::vector<fakeplayer::TCall> calls = FCore.Ledger().CallsOf(TCallKind::Config);
    ASSERT_EQ(calls.size(), std::size(expected));
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].Slot, expected[i].Slot) << i;
        EXPECT_TRUE(calls[i].Text == expected[i].Key) << i;
    }
}

TEST_F(ServiceConfig, ReadsYieldTheirDefaultWhenThePlayerCannotSupplyTheValue)
{
    TAIMPServiceConfig config;
    const TAIMPText key = AIMP_TEXT("Missing");
    const std::int64_t bigDefault = std::numeric_limits<std::int64_t>::max() - 2;
    const double fineDefault = 1.0 / 3.0;

    // A key the player does not have.
    EXPECT_EQ(config.ReadInteger(key, -7), -7);
    EXPECT_EQ(config.ReadInt64(key, bigDefault), bigDefault);
    EXPECT_EQ(config.ReadFloat(key, fineDefault), fineDefault);
    EXPECT_EQ(config.ReadString(key, AIMP_TEXT("dflt")), AIMP_TEXT("dflt"));

    // A stored value the player refuses to hand over; it writes junk into the out value.
    FCore.Config().Store(key, std::int32_t{3});
    for (TConfigSlot slot : {TConfigSlot::GetInt32Value, TConfigSlot::GetInt64Value, TConfigSlot::GetFloatValue,
                             TConfigSlot::GetStringValue})
        Fail(slot);
    EXPECT_EQ(config.ReadInteger(key, -7), -7);
    EXPECT_EQ(config.ReadInt64(key, bigDefault), bigDefault);
    EXPECT_EQ(config.ReadFloat(key, fineDefault), fineDefault);
    FCore.Config().Store(key, TAIMPText(AIMP_TEXT("stored")));
    EXPECT_EQ(config.ReadString(key, AIMP_TEXT("dflt")), AIMP_TEXT("dflt"));
}

TEST_F(ServiceConfig, BooleansAreStoredAsZeroOrOneAndAnythingButZeroReadsTrue)
{
    TAIMPServiceConfig config;
    const TAIMPText key = AIMP_TEXT("Flag");

    config.WriteBool(key, true);
    EXPECT_TRUE(FCore.Config().Value(key) == TConfigValue(std::int32_t{1}));
    config.WriteBool(key, false);
    EXPECT_TRUE(FCore.Config().Value(key) == TConfigValue(std::int32_t{0}));
    for (const fakeplayer::TCall& call : FCore.Ledger().CallsOf(TCallKind::Config))
        EXPECT_EQ(call.Slot, TConfigSlot::SetInt32Value);

    struct Case {
        std::optional<std::int32_t> Stored; // none: the read fails
        bool Default;
        bool Expected;
    };
    // clang-format off
    const Case cases[] = {
        {std::nullopt, true, true}, {std::nullopt, false, false}, {0, true, false}, {1, false, true},
        {7, false, true},           {2, false, true},             {-1, false, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        if (c.Stored)
            FCore.Config().Store(key, *c.Stored);
        else
            FCore.Config().Store(key, TAIMPText(AIMP_TEXT("not a number")));
        EXPECT_EQ(config.ReadBool(key, c.Default), c.Expected) << c.Stored.value_or(-99) << " " << c.Default;
    }
}

TEST_F(ServiceConfig, ReadStringWithoutAUsableStringObjectGivesTheEmptyText)
{
    TAIMPServiceConfig config;
    const TAIMPText key = AIMP_TEXT("Name");
    FCore.Config().Store(key, TAIMPText(AIMP_TEXT("stored")));

    // Success without a string object: the empty text, not the default.
    FCore.Faults().StringAnswer = fakeplayer::TStringAnswer::NoObject;
    EXPECT_EQ(config.ReadString(key, AIMP_TEXT("dflt")), TAIMPText());

    // A string whose characters are null while it claims a length holds nothing to copy.
    FCore.Faults().StringAnswer = fakeplayer::TStringAnswer::NullCharacters;
    EXPECT_EQ(config.ReadString(key, AIMP_TEXT("dflt")), TAIMPText());

    FCore.Faults().StringAnswer = fakeplayer::TStringAnswer::Stored;
    EXPECT_EQ(config.ReadString(key, AIMP_TEXT("dflt")), AIMP_TEXT("stored"));
}

TEST_F(ServiceConfig, AnEmptyKeyPathIsSentAsAStringOfNoCharacters)
{
    TAIMPServiceConfig config;
    config.WriteInteger(TAIMPText(), 9);
    EXPECT_EQ(config.ReadInteger(TAIMPText(), 0), 9);

    for (const fakeplayer::TCall& call : FCore.Ledger().CallsOf(TCallKind::SetChars)) {
        EXPECT_FALSE(call.NullText);
        EXPECT_EQ(call.Count, 0);
    }
    for (const fakeplayer::TCall& call : FCore.Ledger().CallsOf(TCallKind::Config))
        EXPECT_TRUE(call.Text.empty());
}

TEST_F(ServiceConfig, RefusedWritesAndDeletionsAreSilent)
{
    TAIMPServiceConfig config;
    const TAIMPText key = AIMP_TEXT("K");
    for (TConfigSlot slot : {TConfigSlot::DeleteValue, TConfigSlot::SetInt32Value, TConfigSlot::SetInt64Value,
                             TConfigSlot::SetFloatValue, TConfigSlot::SetStringValue})
        Fail(slot, AccessDenied);
    EXPECT_EQ(RaisedMessage([&] {
                  config.WriteInteger(key, 1);
                  config.WriteInt64(key, 2);
                  config.WriteFloat(key, 3.0);
                  config.WriteBool(key, true);
                  config.WriteString(key, AIMP_TEXT("4"));
                  config.Delete(key);
              }),
              "");
    EXPECT_TRUE(FCore.Config().Values().empty());
    EXPECT_EQ(FCore.Ledger().CallsOf(TCallKind::Config).size(), 6u);
}

TEST_F(ServiceConfig, DeleteRemovesTheKey)
{
    TAIMPServiceConfig config;
    config.WriteInteger(AIMP_TEXT("Gone"), 1);
    config.WriteInteger(AIMP_TEXT("Kept"), 2);
    config.Delete(AIMP_TEXT("Gone"));
    EXPECT_FALSE(FCore.Config().Value(AIMP_TEXT("Gone")));
    EXPECT_EQ(config.ReadInteger(AIMP_TEXT("Gone"), -1), -1);
    EXPECT_EQ(config.ReadInteger(AIMP_TEXT("Kept"), -1), 2);
}

TEST_F(ServiceConfig, EveryOperationNeedsTheHeldCoreEvenWithTheServiceHeld)
{
    auto config = std::make_unique<TAIMPServiceConfig>();
    TAIMPAPIWrappers::Finalize();
    FCore.Ledger().Calls.clear();

    const TAIMPText key = AIMP_TEXT("K");
    const std::function<void(TAIMPServiceConfig&)> operations[] = {
        [&](TAIMPServiceConfig& C) { C.Delete(key); },
        [&](TAIMPServiceConfig& C) { C.ReadInteger(key, 1); },
        [&](TAIMPServiceConfig& C) { C.ReadInt64(key, 1); },
        [&](TAIMPServiceConfig& C) { C.ReadFloat(key, 1.0); },
        [&](TAIMPServiceConfig& C) { C.ReadBool(key, true); },
        [&](TAIMPServiceConfig& C) { C.ReadString(key, AIMP_TEXT("d")); },
        [&](TAIMPServiceConfig& C) { C.WriteInteger(key, 1); },
        [&](TAIMPServiceConfig& C) { C.WriteInt64(key, 1); },
        [&](TAIMPServiceConfig& C) { C.WriteFloat(key, 1.0); },
        [&](TAIMPServiceConfig& C) { C.WriteBool(key, true); },
        [&](TAIMPServiceConfig& C) { C.WriteString(key, AIMP_TEXT("v")); },
    };
    for (std::size_t i = 0; i < std::size(operations); ++i)
        EXPECT_EQ(RaisedMessage([&] { operations[i](*config); }), "Plugin was not initialized") << "operation " << i;
    EXPECT_TRUE(FCore.Ledger().Calls.empty()) << "the service is not called";
    EXPECT_EQ(FCore.Config().RefCount(), 2) << "the wrapper still holds its service";
    config.reset();
}

TEST_F(ServiceConfig, WriteStringMakesTheKeyFirstAndReleasesItWhenTheValueFails)
{
    TAIMPServiceConfig config;
    config.WriteString(AIMP_TEXT("Key"), AIMP_TEXT("Value"));
    const std::vector<fakeplayer::TCall> sets = FCore.Ledger().CallsOf(TCallKind::SetChars);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(sets[0].Text == AIMP_TEXT("Key"));
    EXPECT_TRUE(sets[1].Text == AIMP_TEXT("Value"));

    // From the next string on, every SetChars (or MakeObject) fails: the value of the next write.
    struct Case {
        const char* Name;
        bool FailMakeObject;
        const char* Message;
    };
    const Case cases[] = {
        {"value string cannot be set", false, "Cannot set data to IAIMPString (-2147467259)"},
        {"value string cannot be made", true, "Cannot create object (-2147467259)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        FCore.Ledger().Calls.clear();
        FCore.Faults() = {};
        // The key's call succeeds, the value's fails.
        const TCallKind kind = c.FailMakeObject ? TCallKind::MakeObject : TCallKind::SetChars;
        const fakeplayer::TInjected fault = {E_FAIL, static_cast<std::int32_t>(FCore.Ledger().CallsSoFar(kind) + 1)};
        (c.FailMakeObject ? FCore.Faults().MakeObject : FCore.Faults().SetChars) = fault;
        EXPECT_EQ(RaisedMessage([&] { config.WriteString(AIMP_TEXT("Key"), AIMP_TEXT("Other")); }), c.Message);
        EXPECT_TRUE(FCore.Ledger().ConfigCalls(TConfigSlot::SetStringValue).empty());
        EXPECT_EQ(FCore.Ledger()[fakeplayer::TObjectKind::String].Live(), 0) << "the key string was released";
    }
    FCore.Faults() = {};
    EXPECT_EQ(config.ReadString(AIMP_TEXT("Key"), AIMP_TEXT("d")), AIMP_TEXT("Value"));
}

} // namespace
