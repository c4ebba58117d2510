// The access layer through which the module reaches the player: the counted base object of the
// objects the player holds, the held core, player strings and objects, the conversions between
// player results and errors, and the wrapper of the player's configuration service.
#pragma once

#include "host/apiCore.h"
#include "host/apiObjects.h"
#include "rtl/ComPtr.h"
#include "rtl/InterfacedObject.h"
#include "rtl/SysUtils.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// A text as the player exchanges it: UTF-16 code units, counted, no terminator needed.
using TAIMPText = std::basic_string<TAIMPChar>;

// The reference-counted base of objects the player holds through interfaces (the plug-in
// object). It counts, answers IUnknown and looks interfaces up exactly as TInterfacedObject
// does, whose machinery it shares; what it adds is destruction on demand, refused while other
// references are held. Objects are made only by Make<T>().
class TInterfacedObjectEx : public TInterfacedObject {
public:
    // Destroys the object directly, in place of releasing the caller's reference (takes
    // ownership of it). Raises "Invalid Pointer" while any other reference is held; the object
    // then stays alive and usable, and the caller keeps its reference.
    void Free();

protected:
    TInterfacedObjectEx() noexcept = default;
    ~TInterfacedObjectEx() override = default;

private:
    // Raises "Invalid Pointer" unless the caller's is the only reference held.
    void BeforeDestruction() const;
};

// The holder of the player's core: HostCore is set from the plug-in's Initialize to its Finalize.
class TAIMPAPIWrappers {
public:
    TAIMPAPIWrappers() = delete;

    // Stores Core in HostCore (adds a reference to Core; releases the core held before).
    static void Initialize(IAIMPCore* Core) noexcept;
    // Empties HostCore, releasing the held core; does nothing when none is held.
    static void Finalize() noexcept;
};

// The module-wide reference to the player's core: one counted reference while set. Unlike a
// TComPtr it has no destructor. The reference goes back through TAIMPAPIWrappers::Finalize or the
// unit's unload step, at the moment the module's shut-down runs that step, never in whatever order
// static destruction would choose.
class THostCore {
public:
    constexpr THostCore() noexcept = default;
    THostCore(const THostCore&) = delete;
    THostCore& operator=(const THostCore&) = delete;

    IAIMPCore* Get() const noexcept { return FCore; }
    explicit operator bool() const noexcept { return FCore != nullptr; }

    // Holds ACore (null for none): ACore gains its reference first, then the core held before is
    // cleared from the holder and released, so that anything its release sets off finds the
    // holder already changed.
    void Assign(IAIMPCore* ACore) noexcept;

private:
    IAIMPCore* FCore = nullptr;
};

// The player's core while the plug-in is initialized; empty otherwise.
extern constinit THostCore HostCore;

// The unit's unload step, run by the module's shut-down: releases a core that the plug-in's
// Finalize never gave back. Does nothing when none is held.
void UnloadApiWrappersUnit() noexcept;

// Returns HostCore as a new counted reference; raises "Plugin was not initialized" when empty.
rtl::TComPtr<IAIMPCore> RequireCore();

// Asks the held core for a service interface (on success *Obj holds a reference for the caller).
// Never raises: false when no core is held, when Obj is null, or when the core refuses; *Obj is
// then untouched or as the core left it.
bool QueryHostService(REFIID AIID, void** Obj) noexcept;

// Has the core create a player object into *Obj, with one reference for the caller. Raises
// "Plugin was not initialized" or "Cannot create object (%d)".
void CreateHostObject(REFIID AIID, void** Obj);

// Makes a player string holding Count UTF-16 code units copied from Chars, with the one reference
// the caller receives. Chars is borrowed; null is read as the empty text when Count is 0. Raises
// as CreateHostObject does, or "Cannot set data to IAIMPString (%d)".
rtl::TComPtr<IAIMPString> NewHostString(const TAIMPChar* Chars, std::int32_t Count);
// The same for a whole text.
rtl::TComPtr<IAIMPString> NewHostString(const TAIMPText& Text);

// Failing player result to error: raises Exception with Message, whose "%d" shows Result as a
// signed decimal, when bit 31 of Result is set. Results 0 and above are success.
void CheckHostResult(HRESULT Result, const char* Message);

// The one way out of a slot for an error it contains: reports the exception being handled to
// rtl::NoteContained (with its message when it is the module's own error). Out of line, so that
// one breakpoint stops at every contained error. Call it only inside a `catch (...)`.
void ContainError() noexcept;

// Contains the exception being handled (ContainError) and returns AFailure, the slot's failure
// result. Call it only inside a `catch (...)`.
template <class R>
R Contained(R AFailure) noexcept
{
    ContainError();
    return AFailure;
}

// Error to player result: Contained(E_UNEXPECTED), for a slot that answers an HRESULT. Call it
// only inside a `catch (...)`.
HRESULT ToHResult() noexcept;

// A wrapper of the player's configuration service: plain values under text key paths. Reads
// return their default when the player cannot supply the value; writes and deletions do not
// report the player's answer. Every operation makes its key as a player string and so needs the
// held core ("Plugin was not initialized" once it is released). The creator owns the wrapper.
class TAIMPServiceConfig {
public:
    // Binds to the configuration service of HostCore; raises "The IAIMPServiceConfig is not
    // supported" when no core is held or the core does not offer the service.
    TAIMPServiceConfig();
    TAIMPServiceConfig(const TAIMPServiceConfig&) = delete;
    TAIMPServiceConfig& operator=(const TAIMPServiceConfig&) = delete;

    void Delete(const TAIMPText& AKeyPath);
    std::int32_t ReadInteger(const TAIMPText& AKeyPath, std::int32_t ADefault);
    std::int64_t ReadInt64(const TAIMPText& AKeyPath, std::int64_t ADefault);
    double ReadFloat(const TAIMPText& AKeyPath, double ADefault);
    // Stored as a 32-bit integer; any value but 0 reads as true.
    bool ReadBool(const TAIMPText& AKeyPath, bool ADefault);
    // A success without a string object reads as the empty text, not as ADefault.
    TAIMPText ReadString(const TAIMPText& AKeyPath, const TAIMPText& ADefault);
    void WriteInteger(const TAIMPText& AKeyPath, std::int32_t AValue);
    void WriteInt64(const TAIMPText& AKeyPath, std::int64_t AValue);
    void WriteFloat(const TAIMPText& AKeyPath, double AValue);
    // Stores 1 for true, 0 for false.
    void WriteBool(const TAIMPText& AKeyPath, bool AValue);
    void WriteString(const TAIMPText& AKeyPath, const TAIMPText& AValue);

    // The service; borrowed, valid as long as the wrapper.
    IAIMPServiceConfig* Service() const noexcept { return FService.Get(); }

private:
    rtl::TComPtr<IAIMPServiceConfig> FService;
};
