#include "tools/lib/fakeplayer/FakePlayer.h"

#include <limits>
#include <type_traits>

namespace fakeplayer {

namespace {

// The stored value as T, where it can be represented exactly; integers widen, and a 64-bit
// integer narrows to 32 bits only when it fits. Texts are never numbers.
template <class T>
std::optional<T> AsNumber(const TConfigValue& AValue)
{
    if (const auto* i32 = std::get_if<std::int32_t>(&AValue))
        return static_cast<T>(*i32);
    if (const auto* i64 = std::get_if<std::int64_t>(&AValue)) {
        if constexpr (std::is_same_v<T, std::int32_t>) {
            if (*i64 < std::numeric_limits<std::int32_t>::min() || *i64 > std::numeric_limits<std::int32_t>::max())
                return std::nullopt;
        }
        return static_cast<T>(*i64);
    }
    if (const auto* f = std::get_if<double>(&AValue)) {
        if constexpr (std::is_same_v<T, double>)
            return *f;
    }
    return std::nullopt;
}

} // namespace

std::optional<TConfigValue> TFakeConfig::Value(const TText& AKeyPath) const
{
    const auto found = FValues.find(AKeyPath);
    if (found == FValues.end())
        return std::nullopt;
    return found->second;
}

HRESULT TFakeConfig::QueryInterface(REFIID AIID, void** Obj)
{
    if (!Obj)
        return E_POINTER;
    if (AnswerIdentity(AIID, Obj, {IID_IUnknown, IID_IAIMPConfig, IID_IAIMPServiceConfig}))
        return S_OK;
    *Obj = nullptr;
    return E_NOINTERFACE;
}

HRESULT TFakeConfig::Enter(TConfigSlot ASlot, IAIMPString* KeyPath, TCall& ACall)
{
    ACall.Kind = TCallKind::Config;
    ACall.Slot = ASlot;
    if (!KeyPath)
        return E_POINTER;
    ACall.Text = TextOf(KeyPath);
    return FLedger->Faults.Config[static_cast<std::size_t>(ASlot)].For(FLedger->NextCall(TCallKind::Config, ASlot));
}

template <class T>
HRESULT TFakeConfig::ReadNumber(TConfigSlot ASlot, IAIMPString* KeyPath, T* Value)
{
    TCall call;
    HRESULT result = Value ? Enter(ASlot, KeyPath, call) : E_POINTER;
    if (SUCCEEDED(result)) {
        const auto found = FValues.find(call.Text);
        const std::optional<T> number = found != FValues.end() ? AsNumber<T>(found->second) : std::nullopt;
        if (number)
            *Value = *number;
        else
            result = E_FAIL;
    }
    // A refused read leaves junk behind: the caller must not read the value after a failure.
    if (FAILED(result) && Value)
        *Value = static_cast<T>(FLedger->Faults.FailedReadJunk);
    call.Result = result;
    FLedger->Calls.push_back(std::move(call));
    return result;
}

HRESULT TFakeConfig::Write(TConfigSlot ASlot, IAIMPString* KeyPath, TConfigValue AValue, TCall ACall)
{
    HRESULT result = Enter(ASlot, KeyPath, ACall);
    if (SUCCEEDED(result))
        FValues[ACall.Text] = std::move(AValue);
    ACall.Result = result;
    FLedger->Calls.push_back(std::move(ACall));
    return result;
}

HRESULT TFakeConfig::DeleteValue(IAIMPString* KeyPath)
{
    TCall call;
    const HRESULT result = Enter(TConfigSlot::DeleteValue, KeyPath, call);
    if (SUCCEEDED(result)) {
        // The key itself and every key below it.
        const TText prefix = call.Text + TAIMPChar('\\');
        for (auto it = FValues.begin(); it != FValues.end();) {
            if (it->first == call.Text || it->first.compare(0, prefix.size(), prefix) == 0)
                it = FValues.erase(it);
            else
                ++it;
        }
    }
    call.Result = result;
    FLedger->Calls.push_back(std::move(call));
    return result;
}

HRESULT TFakeConfig::GetFloatValue(IAIMPString* KeyPath, double* Value)
{
    return ReadNumber(TConfigSlot::GetFloatValue, KeyPath, Value);
}

HRESULT TFakeConfig::GetInt32Value(IAIMPString* KeyPath, int32_t* Value)
{
    return ReadNumber(TConfigSlot::GetInt32Value, KeyPath, Value);
}

HRESULT TFakeConfig::GetInt64Value(IAIMPString* KeyPath, int64_t* Value)
{
    return ReadNumber(TConfigSlot::GetInt64Value, KeyPath, Value);
}

HRESULT TFakeConfig::GetStreamValue(IAIMPString* KeyPath, IUnknown** Value)
{
    if (!Value)
        return E_POINTER;
    *Value = nullptr;
    TCall call;
    HRESULT result = Enter(TConfigSlot::GetStreamValue, KeyPath, call);
    if (SUCCEEDED(result))
        result = E_NOTIMPL; // streams are not kept
    call.Result = result;
    FLedger->Calls.push_back(std::move(call));
    return result;
}

HRESULT TFakeConfig::GetStringValue(IAIMPString* KeyPath, IAIMPString** Value)
{
    if (!Value)
        return E_POINTER;
    *Value = nullptr;
    TCall call;
    HRESULT result = Enter(TConfigSlot::GetStringValue, KeyPath, call);
    const TStringAnswer answer = FLedger->Faults.StringAnswer;
    if (SUCCEEDED(result) && answer != TStringAnswer::NoObject) {
        const auto found = FValues.find(call.Text);
        const TText* text = found != FValues.end() ? std::get_if<TText>(&found->second) : nullptr;
        if (text) {
            TFakeString* string = TFakeString::Make(FLedger, *text);
            string->SetNullCharacters(answer == TStringAnswer::NullCharacters);
            *Value = string;
        } else {
            result = E_FAIL;
        }
    }
    call.Result = result;
    FLedger->Calls.push_back(std::move(call));
    return result;
}

HRESULT TFakeConfig::SetFloatValue(IAIMPString* KeyPath, double Value)
{
    TCall call;
    call.FloatValue = Value;
    return Write(TConfigSlot::SetFloatValue, KeyPath, Value, std::move(call));
}

HRESULT TFakeConfig::SetInt32Value(IAIMPString* KeyPath, int32_t Value)
{
    TCall call;
    call.IntValue = Value;
    return Write(TConfigSlot::SetInt32Value, KeyPath, Value, std::move(call));
}

HRESULT TFakeConfig::SetInt64Value(IAIMPString* KeyPath, int64_t Value)
{
    TCall call;
    call.IntValue = Value;
    return Write(TConfigSlot::SetInt64Value, KeyPath, Value, std::move(call));
}

HRESULT TFakeConfig::SetStreamValue(IAIMPString* KeyPath, IUnknown*)
{
    TCall call;
    HRESULT result = Enter(TConfigSlot::SetStreamValue, KeyPath, call);
    if (SUCCEEDED(result))
        result = E_NOTIMPL;
    call.Result = result;
    FLedger->Calls.push_back(std::move(call));
    return result;
}

HRESULT TFakeConfig::SetStringValue(IAIMPString* KeyPath, IAIMPString* Value)
{
    if (!Value)
        return E_POINTER;
    TCall call;
    call.StringValue = TextOf(Value);
    TText text = call.StringValue;
    return Write(TConfigSlot::SetStringValue, KeyPath, std::move(text), std::move(call));
}

HRESULT TFakeConfig::FlushCache()
{
    TCall call;
    call.Kind = TCallKind::Config;
    call.Slot = TConfigSlot::FlushCache;
    call.Result = FLedger->Faults.Config[static_cast<std::size_t>(TConfigSlot::FlushCache)].For(
        FLedger->NextCall(TCallKind::Config, TConfigSlot::FlushCache));
    FLedger->Calls.push_back(call);
    return call.Result;
}

} // namespace fakeplayer
