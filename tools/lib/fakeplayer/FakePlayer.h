// A stand-in of the AIMP player's objects: a core that makes strings, keeps extensions and
// offers an in-memory configuration service, with counts of every reference it hands out and
// gets back, a journal of the calls it receives, and injectable failures.
//
// Used by the unit tests, by the tests that load the built module, and by the preview player;
// portable C++20 against <windows.h> only. Not thread-safe apart from the reference counts and
// their ledger: the module calls the player one call at a time.
#pragma once

#include "host/apiCore.h"
#include "host/apiObjects.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace fakeplayer {

// A text as the player keeps it: UTF-16 code units.
using TText = std::basic_string<TAIMPChar>;

// The kinds of object whose references are counted separately.
enum class TObjectKind { Core, String, Config };
inline constexpr std::size_t ObjectKindCount = 3;

// The slots of the configuration service, in slot order (3 to 14).
enum class TConfigSlot {
    DeleteValue,
    GetFloatValue,
    GetInt32Value,
    GetInt64Value,
    GetStreamValue,
    GetStringValue,
    SetFloatValue,
    SetInt32Value,
    SetInt64Value,
    SetStreamValue,
    SetStringValue,
    FlushCache,
};
inline constexpr std::size_t ConfigSlotCount = 12;

// The reference traffic of one kind of object. A reference is handed out by a creation for the
// caller, an AddRef or a successful QueryInterface, and given back by a Release.
struct TReferenceCounts {
    std::int64_t Made = 0;      // objects created (strings only; core and config exist already)
    std::int64_t Destroyed = 0; // objects whose last reference came back
    std::int64_t HandedOut = 0; // references handed out
    std::int64_t Returned = 0;  // Release calls

    std::int64_t Live() const noexcept { return Made - Destroyed; }
    // References held outside the player right now; negative after an over-release.
    std::int64_t Outstanding() const noexcept { return HandedOut - Returned; }
};

// An injected answer of one slot: calls number 0, 1, ... of the slot; from call After on, the
// slot answers Result. A negative Result fails the call without effect; 0 or above performs
// the call and returns that code (S_FALSE, say, is a success that is not S_OK).
struct TInjected {
    HRESULT Result = S_OK;
    std::int32_t After = 0;

    // The answer for the call with the given number, S_OK where nothing is injected.
    HRESULT For(std::int64_t ACall) const noexcept { return ACall >= After ? Result : S_OK; }
};

// What GetStringValue hands back on success.
enum class TStringAnswer {
    Stored,         // a new string with the stored text
    NoObject,       // success, but a null string pointer
    NullCharacters, // a string whose GetChars is null while its count is the stored length
};

struct TFaults {
    TInjected MakeObject;
    bool MakeObjectHandsNull = false; // MakeObject succeeds but writes null
    TInjected SetChars;               // SetChars of every string of this player
    TInjected AddExtension;
    bool ConfigMissing = false; // the core does not offer IAIMPServiceConfig
    std::array<TInjected, ConfigSlotCount> Config{};
    TStringAnswer StringAnswer = TStringAnswer::Stored;
    // What a failing get writes into its out value, to show that it is not read afterwards.
    std::int64_t FailedReadJunk = 0x5A5A5A5A;
};

// One call the player received.
enum class TCallKind { MakeObject, QueryService, AddExtension, RemoveExtension, SetChars, Config };

struct TCall {
    TCallKind Kind = TCallKind::Config;
    TConfigSlot Slot = TConfigSlot::FlushCache; // Config only
    IID ID{};                                   // MakeObject, QueryService, AddExtension: the identifier asked for
    bool NullText = false;                      // SetChars: the character pointer was null
    std::int32_t Count = 0;                     // SetChars: the count passed
    TText Text;                                 // SetChars: the characters; Config: the key path
    TText StringValue;                          // SetStringValue: the value text
    std::int64_t IntValue = 0;                  // SetInt32Value, SetInt64Value
    double FloatValue = 0.0;                    // SetFloatValue
    HRESULT Result = S_OK;                      // what the player answered
};

// Counts, journal and faults of one player, shared by its core, its configuration and every
// string it made, so that a string outliving the core is still counted.
class TLedger {
public:
    // The counts of one kind as they stand now (a snapshot).
    TReferenceCounts operator[](TObjectKind AKind) const noexcept;

    // Reference events, counted atomically: the module may take and drop references on any thread.
    enum class TEvent { Made, Destroyed, HandedOut, Returned };
    void Count(TObjectKind AKind, TEvent AEvent) noexcept;

    // Every reference handed out came back and every string made was destroyed.
    bool Balanced() const noexcept;
    // One line per kind with the counts, for test failure messages.
    std::string Report() const;

    TFaults Faults;
    std::vector<TCall> Calls;

    // The calls of one kind (and slot), in order.
    std::vector<TCall> CallsOf(TCallKind AKind) const;
    std::vector<TCall> ConfigCalls(TConfigSlot ASlot) const;

    // Numbers the next call of a slot for injected faults.
    std::int64_t NextCall(TCallKind AKind, TConfigSlot ASlot = TConfigSlot::FlushCache) noexcept;
    // How many calls of a slot have been numbered, so that a fault can start with the next one:
    // `Faults.SetChars = {E_FAIL, int32_t(CallsSoFar(TCallKind::SetChars) + 1)}` spares one call.
    std::int64_t CallsSoFar(TCallKind AKind, TConfigSlot ASlot = TConfigSlot::FlushCache) const noexcept;

private:
    static std::size_t CallIndex(TCallKind AKind, TConfigSlot ASlot) noexcept;

    struct TAtomicCounts {
        std::atomic<std::int64_t> Made{0}, Destroyed{0}, HandedOut{0}, Returned{0};
    };
    std::array<TAtomicCounts, ObjectKindCount> FCounts{};
    std::array<std::int64_t, 6 + ConfigSlotCount> FCallNumbers{};
};

// The reference count of one player object implementing I, written once for every fake: the
// count starts at 1, the reference of whoever made the object, and every reference handed out
// (AddRef, a successful QueryInterface) and given back (Release) is counted in the ledger under
// Kind. What the Release that reaches 0 does is D's LastReleased(): a string destroys itself,
// while the core and its configuration stay alive for their owner (the non-destroying kind).
//
// The fakes stand for the player, so they keep their own counting rather than the module's
// counted base: a fault in the module's counting cannot hide in the oracle that checks it.
template <class D, class I, TObjectKind Kind>
class TFakeCounted : public I {
public:
    TFakeCounted(const TFakeCounted&) = delete;
    TFakeCounted& operator=(const TFakeCounted&) = delete;

    std::int32_t RefCount() const noexcept { return FRefCount.load(); }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        FLedger->Count(Kind, TLedger::TEvent::HandedOut);
        return static_cast<ULONG>(++FRefCount);
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        FLedger->Count(Kind, TLedger::TEvent::Returned);
        return Dropped(--FRefCount);
    }

protected:
    explicit TFakeCounted(std::shared_ptr<TLedger> ALedger) noexcept : FLedger(std::move(ALedger)) {}
    ~TFakeCounted() = default;

    // Gives back a reference that the ledger never counted as handed out (an owner's own).
    ULONG DropUncounted() noexcept { return Dropped(--FRefCount); }

    // When AIID is one of AIDs, writes this object's I into *Obj, adds a reference and returns
    // true; otherwise leaves *Obj alone and returns false. Obj is not null.
    bool AnswerIdentity(REFIID AIID, void** Obj, std::initializer_list<IID> AIDs)
    {
        for (const IID& id : AIDs) {
            if (AIID == id) {
                *Obj = static_cast<I*>(this);
                AddRef();
                return true;
            }
        }
        return false;
    }

    std::shared_ptr<TLedger> FLedger;

private:
    // D's LastReleased may destroy the object: nothing of it is touched afterwards.
    ULONG Dropped(std::int32_t ACount) noexcept
    {
        if (ACount == 0)
            static_cast<D*>(this)->LastReleased();
        return static_cast<ULONG>(ACount);
    }

    std::atomic<std::int32_t> FRefCount{1};
};

// A player string. Made with one reference for its receiver; destroyed by the Release that
// returns the last one.
class TFakeString final : public TFakeCounted<TFakeString, IAIMPString, TObjectKind::String> {
public:
    // A new string holding AText, with one reference for the caller.
    static TFakeString* Make(std::shared_ptr<TLedger> ALedger, TText AText = {});

    // The held text; for tests.
    const TText& Text() const noexcept { return FText; }
    // Makes GetChars answer null (the count stays): a broken player string.
    void SetNullCharacters(bool AValue) noexcept { FNullCharacters = AValue; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) override;
    HRESULT STDMETHODCALLTYPE GetChar(int32_t Index, TAIMPChar* Char) override;
    TAIMPChar* STDMETHODCALLTYPE GetChars() override;
    int32_t STDMETHODCALLTYPE GetCharCount() override;
    int32_t STDMETHODCALLTYPE GetHashCode() override;
    HRESULT STDMETHODCALLTYPE SetChar(int32_t Index, TAIMPChar Char) override;
    HRESULT STDMETHODCALLTYPE SetChars(const TAIMPChar* Chars, int32_t CharsCount) override;
    HRESULT STDMETHODCALLTYPE Add(IAIMPString* S) override;
    HRESULT STDMETHODCALLTYPE Add2(const TAIMPChar* Chars, int32_t CharsCount) override;
    HRESULT STDMETHODCALLTYPE ChangeCase(int32_t Mode) override;
    HRESULT STDMETHODCALLTYPE Clone(IAIMPString** S) override;
    HRESULT STDMETHODCALLTYPE Compare(IAIMPString* S, int32_t* CompareResult, BOOL IgnoreCase) override;
    HRESULT STDMETHODCALLTYPE Compare2(const TAIMPChar* Chars, int32_t CharsCount, int32_t* CompareResult,
                                       BOOL IgnoreCase) override;
    HRESULT STDMETHODCALLTYPE Delete(int32_t Index, int32_t Count) override;
    HRESULT STDMETHODCALLTYPE Find(IAIMPString* S, int32_t* Index, int32_t Flags, int32_t StartFromIndex) override;
    HRESULT STDMETHODCALLTYPE Find2(const TAIMPChar* Chars, int32_t CharsCount, int32_t* Index, int32_t Flags,
                                    int32_t StartFromIndex) override;
    HRESULT STDMETHODCALLTYPE Insert(int32_t Index, IAIMPString* S) override;
    HRESULT STDMETHODCALLTYPE Insert2(int32_t Index, const TAIMPChar* Chars, int32_t CharsCount) override;
    HRESULT STDMETHODCALLTYPE Replace(IAIMPString* OldPattern, IAIMPString* NewPattern, int32_t Flags) override;
    HRESULT STDMETHODCALLTYPE Replace2(const TAIMPChar* OldPatternChars, int32_t OldPatternCount,
                                       const TAIMPChar* NewPatternChars, int32_t NewPatternCount,
                                       int32_t Flags) override;
    HRESULT STDMETHODCALLTYPE SubString(int32_t Index, int32_t Count, IAIMPString** S) override;

private:
    friend TFakeCounted;

    TFakeString(std::shared_ptr<TLedger> ALedger, TText AText);
    ~TFakeString();
    void LastReleased() noexcept { delete this; }
    // A new string of the same player for an out parameter.
    HRESULT HandOut(TText AText, IAIMPString** S);

    TText FText;
    bool FNullCharacters = false;
};

// The text of any player string (through GetChars and GetCharCount); empty for null.
TText TextOf(IAIMPString* S);

// A stored configuration value.
using TConfigValue = std::variant<std::int32_t, std::int64_t, double, TText>;

// The player's configuration service: values in memory under key-path texts. Owned by its core.
class TFakeConfig final : public TFakeCounted<TFakeConfig, IAIMPServiceConfig, TObjectKind::Config> {
public:
    explicit TFakeConfig(std::shared_ptr<TLedger> ALedger) : TFakeCounted(std::move(ALedger)) {}
    TFakeConfig(const TFakeConfig&) = delete;
    TFakeConfig& operator=(const TFakeConfig&) = delete;
    ~TFakeConfig() = default;

    // Direct access for tests, with no counting.
    const std::map<TText, TConfigValue>& Values() const noexcept { return FValues; }
    std::optional<TConfigValue> Value(const TText& AKeyPath) const;
    void Store(const TText& AKeyPath, TConfigValue AValue) { FValues[AKeyPath] = std::move(AValue); }
    // RefCount() is 1 while only the player's own reference is held.

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) override;
    HRESULT STDMETHODCALLTYPE DeleteValue(IAIMPString* KeyPath) override;
    HRESULT STDMETHODCALLTYPE GetFloatValue(IAIMPString* KeyPath, double* Value) override;
    HRESULT STDMETHODCALLTYPE GetInt32Value(IAIMPString* KeyPath, int32_t* Value) override;
    HRESULT STDMETHODCALLTYPE GetInt64Value(IAIMPString* KeyPath, int64_t* Value) override;
    HRESULT STDMETHODCALLTYPE GetStreamValue(IAIMPString* KeyPath, IUnknown** Value) override;
    HRESULT STDMETHODCALLTYPE GetStringValue(IAIMPString* KeyPath, IAIMPString** Value) override;
    HRESULT STDMETHODCALLTYPE SetFloatValue(IAIMPString* KeyPath, double Value) override;
    HRESULT STDMETHODCALLTYPE SetInt32Value(IAIMPString* KeyPath, int32_t Value) override;
    HRESULT STDMETHODCALLTYPE SetInt64Value(IAIMPString* KeyPath, int64_t Value) override;
    HRESULT STDMETHODCALLTYPE SetStreamValue(IAIMPString* KeyPath, IUnknown* Value) override;
    HRESULT STDMETHODCALLTYPE SetStringValue(IAIMPString* KeyPath, IAIMPString* Value) override;
    HRESULT STDMETHODCALLTYPE FlushCache() override;

private:
    friend TFakeCounted;

    // Owned by its core: the last reference coming back destroys nothing.
    void LastReleased() noexcept {}
    // Journals the call and returns the injected answer (S_OK when none). A null key is
    // refused with E_POINTER before anything else.
    HRESULT Enter(TConfigSlot ASlot, IAIMPString* KeyPath, TCall& ACall);
    template <class T>
    HRESULT ReadNumber(TConfigSlot ASlot, IAIMPString* KeyPath, T* Value);
    HRESULT Write(TConfigSlot ASlot, IAIMPString* KeyPath, TConfigValue AValue, TCall ACall);

    std::map<TText, TConfigValue> FValues;
};

// One registered extension: the core holds a reference on it until it is released.
struct TExtension {
    IID ServiceIID;
    IUnknown* Extension; // counted by the core
};

// What a core does when its count reaches 0.
enum class TLastRelease {
    Nothing,           // the core waits for its owner to destroy it (the usual fake)
    ReleaseExtensions, // it gives back the extensions it holds, as a player whose core goes
                       // away with its last reference
};

// The player's core. A plain object owned by whoever plays the player: its count starts at 1
// (the player's own reference) and it is never destroyed by Release. Destroying it releases the
// extensions it still holds; so does the Release that takes the count to 0 when the core is made
// with TLastRelease::ReleaseExtensions.
class TFakeCore final : public TFakeCounted<TFakeCore, IAIMPCore, TObjectKind::Core> {
public:
    explicit TFakeCore(TLastRelease AOnLastRelease = TLastRelease::Nothing);
    TFakeCore(const TFakeCore&) = delete;
    TFakeCore& operator=(const TFakeCore&) = delete;
    ~TFakeCore();

    TLedger& Ledger() noexcept { return *FLedger; }
    const TLedger& Ledger() const noexcept { return *FLedger; }
    std::shared_ptr<TLedger> SharedLedger() const noexcept { return FLedger; }
    TFaults& Faults() noexcept { return FLedger->Faults; }
    TFakeConfig& Config() noexcept { return FConfig; }
    // RefCount() is 1 while only the player's own reference is held.

    const std::vector<TExtension>& Extensions() const noexcept { return FExtensions; }
    // Drops the player's references on every extension, as the player does at shutdown.
    void ReleaseExtensions() noexcept;
    // What each extension's Release answered when ReleaseExtensions let go of it, in order; 0
    // means the core held the last reference and the extension destroyed itself.
    const std::vector<ULONG>& ExtensionReleaseCounts() const noexcept { return FExtensionReleaseCounts; }

    // Gives back the player's own reference, which the ledger never counted as handed out. If it
    // was the last one, the core reacts as TLastRelease says.
    void DropOwnReference() noexcept;

    // A new string of this player with one reference for the caller.
    IAIMPString* NewString(const TText& AText);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) override;
    HRESULT STDMETHODCALLTYPE MakeObject(REFIID AIID, void** Obj) override;
    HRESULT STDMETHODCALLTYPE GetPath(int32_t PathID, IAIMPString** Value) override;
    HRESULT STDMETHODCALLTYPE AddExtension(REFIID ServiceIID, IUnknown* Extension) override;
    HRESULT STDMETHODCALLTYPE RemoveExtension(IUnknown* Extension) override;
    HRESULT STDMETHODCALLTYPE RegisterService(IUnknown* Service) override;

private:
    friend TFakeCounted;

    // The count reached 0: reacts as FOnLastRelease says; the core itself stays.
    void LastReleased() noexcept;

    TFakeConfig FConfig;
    std::vector<TExtension> FExtensions;
    std::vector<ULONG> FExtensionReleaseCounts;
    TLastRelease FOnLastRelease;
};

} // namespace fakeplayer
