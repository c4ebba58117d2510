#include "host/apiWrappers.h"

#include "rtl/Math.h"

#include <limits>
#include <type_traits>
#include <utility>

// --- TInterfacedObjectEx ---

void TInterfacedObjectEx::Free()
{
    BeforeDestruction();
    delete this;
}

void TInterfacedObjectEx::BeforeDestruction() const
{
    // Set the caller's reference aside, which Free takes: any other forbids destruction.
    if (RefCount() != 1)
        rtl::Raise(rtl::Exception("Invalid Pointer"));
}

// --- The held core ---

// No destructor runs at exit: only the unload step below gives a still-held core back.
static_assert(std::is_trivially_destructible_v<THostCore>);

// Constant-initialized (empty) before any code of the module runs.
constinit THostCore HostCore;

void THostCore::Assign(IAIMPCore* ACore) noexcept
{
    // The new core gains its reference before the old one is released, so handing in the core
    // already held keeps it alive.
    if (ACore)
        ACore->AddRef();
    if (IAIMPCore* old = std::exchange(FCore, ACore))
        old->Release();
}

void TAIMPAPIWrappers::Initialize(IAIMPCore* Core) noexcept
{
    HostCore.Assign(Core);
}

void TAIMPAPIWrappers::Finalize() noexcept
{
    HostCore.Assign(nullptr);
}

void UnloadApiWrappersUnit() noexcept
{
    HostCore.Assign(nullptr);
}

rtl::TComPtr<IAIMPCore> RequireCore()
{
    rtl::TComPtr<IAIMPCore> core(HostCore.Get());
    if (!core)
        rtl::Raise(rtl::Exception("Plugin was not initialized"));
    return core;
}

bool QueryHostService(REFIID AIID, void** Obj) noexcept
{
    IAIMPCore* core = HostCore.Get();
    if (!core || !Obj)
        return false;
    // The player's services are reached by asking the core itself for their interface.
    return SUCCEEDED(core->QueryInterface(AIID, Obj));
}

void CreateHostObject(REFIID AIID, void** Obj)
{
    const rtl::TComPtr<IAIMPCore> core = RequireCore();
    CheckHostResult(core->MakeObject(AIID, Obj), "Cannot create object (%d)");
}

rtl::TComPtr<IAIMPString> NewHostString(const TAIMPChar* Chars, std::int32_t Count)
{
    // NOTE: the player reads the characters unchecked: an empty text goes out as a pointer to an
    // empty, zero-terminated text, never as a null pointer.
    static constexpr TAIMPChar EmptyText[1] = {0};
    if (!Chars && Count == 0)
        Chars = EmptyText;
    rtl::TComPtr<IAIMPString> result;
    CreateHostObject(IID_IAIMPString, result.PutVoid());
    // A core that reports success without an object would otherwise be called through null.
    if (!result)
        CheckHostResult(E_POINTER, "Cannot create object (%d)");
    // A null text with characters to read is refused here rather than read by the player.
    const HRESULT set = Chars ? result->SetChars(Chars, Count) : E_POINTER;
    CheckHostResult(set, "Cannot set data to IAIMPString (%d)");
    return result;
}

rtl::TComPtr<IAIMPString> NewHostString(const TAIMPText& Text)
{
    // The player counts code units in 32 bits; a longer text cannot be handed over whole.
    if (Text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        CheckHostResult(E_INVALIDARG, "Cannot set data to IAIMPString (%d)");
    return NewHostString(Text.c_str(), static_cast<std::int32_t>(Text.size()));
}

void CheckHostResult(HRESULT Result, const char* Message)
{
    if (FAILED(Result))
        rtl::Raise(rtl::Exception(rtl::FormatInt(Message, static_cast<std::int32_t>(Result))));
}

[[gnu::noinline]] void ContainError() noexcept
{
    // Rethrown only to tell the module's own errors, which carry a message, from any other.
    try {
        throw;
    } catch (const rtl::Exception& E) {
        rtl::NoteContained(&E);
    } catch (...) {
        rtl::NoteContained(nullptr);
    }
}

HRESULT ToHResult() noexcept
{
    return Contained(E_UNEXPECTED);
}

// --- TAIMPServiceConfig ---

TAIMPServiceConfig::TAIMPServiceConfig()
{
    // A failure leaves the constructor by an exception, which releases whatever FService holds.
    // A core that answers success without an interface does not offer the service either.
    if (!QueryHostService(IID_IAIMPServiceConfig, FService.PutVoid()) || !FService)
        rtl::Raise(rtl::Exception("The IAIMPServiceConfig is not supported"));
}

void TAIMPServiceConfig::Delete(const TAIMPText& AKeyPath)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    FService->DeleteValue(key.Get());
}

std::int32_t TAIMPServiceConfig::ReadInteger(const TAIMPText& AKeyPath, std::int32_t ADefault)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    std::int32_t value = 0;
    // After a refused read the player may have written anything into value.
    if (FAILED(FService->GetInt32Value(key.Get(), &value)))
        value = ADefault;
    return value;
}

std::int64_t TAIMPServiceConfig::ReadInt64(const TAIMPText& AKeyPath, std::int64_t ADefault)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    std::int64_t value = 0;
    if (FAILED(FService->GetInt64Value(key.Get(), &value)))
        value = ADefault;
    return value;
}

double TAIMPServiceConfig::ReadFloat(const TAIMPText& AKeyPath, double ADefault)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    double value = 0.0;
    if (FAILED(FService->GetFloatValue(key.Get(), &value)))
        value = ADefault;
    return value;
}

bool TAIMPServiceConfig::ReadBool(const TAIMPText& AKeyPath, bool ADefault)
{
    return ReadInteger(AKeyPath, ADefault ? 1 : 0) != 0;
}

TAIMPText TAIMPServiceConfig::ReadString(const TAIMPText& AKeyPath, const TAIMPText& ADefault)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    rtl::TComPtr<IAIMPString> value;
    if (FAILED(FService->GetStringValue(key.Get(), value.Put())))
        return ADefault;
    if (!value)
        return TAIMPText();
    const TAIMPChar* chars = value->GetChars();
    const std::int32_t count = value->GetCharCount();
    // A string without characters, or with a negative count, holds no text to copy.
    if (!chars || count <= 0)
        return TAIMPText();
    return TAIMPText(chars, static_cast<std::size_t>(count));
}

void TAIMPServiceConfig::WriteInteger(const TAIMPText& AKeyPath, std::int32_t AValue)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    FService->SetInt32Value(key.Get(), AValue);
}

void TAIMPServiceConfig::WriteInt64(const TAIMPText& AKeyPath, std::int64_t AValue)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    FService->SetInt64Value(key.Get(), AValue);
}

void TAIMPServiceConfig::WriteFloat(const TAIMPText& AKeyPath, double AValue)
{
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    FService->SetFloatValue(key.Get(), AValue);
}

void TAIMPServiceConfig::WriteBool(const TAIMPText& AKeyPath, bool AValue)
{
    WriteInteger(AKeyPath, AValue ? 1 : 0);
}

void TAIMPServiceConfig::WriteString(const TAIMPText& AKeyPath, const TAIMPText& AValue)
{
    // The key is made first; if the value cannot be made, the key is released on the way out.
    const rtl::TComPtr<IAIMPString> key = NewHostString(AKeyPath);
    const rtl::TComPtr<IAIMPString> value = NewHostString(AValue);
    FService->SetStringValue(key.Get(), value.Get());
}
