#include "tools/player/FakePlayer.h"

#include <algorithm>

namespace player {

bool TLedger::Balanced() const noexcept
{
    return std::all_of(FCounts.begin(), FCounts.end(),
                       [](const TReferenceCounts& C) { return C.Outstanding() == 0 && C.Live() == 0; });
}

std::string TLedger::Report() const
{
    static constexpr const char* Names[ObjectKindCount] = {"core", "string", "config"};
    std::string text;
    for (std::size_t kind = 0; kind < ObjectKindCount; ++kind) {
        const TReferenceCounts& c = FCounts[kind];
        text += Names[kind];
        text += ": made " + std::to_string(c.Made) + ", destroyed " + std::to_string(c.Destroyed) +
                ", handed out " + std::to_string(c.HandedOut) + ", returned " + std::to_string(c.Returned) + "\n";
    }
    return text;
}

std::vector<TCall> TLedger::CallsOf(TCallKind AKind) const
{
    std::vector<TCall> result;
    std::copy_if(Calls.begin(), Calls.end(), std::back_inserter(result),
                 [AKind](const TCall& C) { return C.Kind == AKind; });
    return result;
}

std::vector<TCall> TLedger::ConfigCalls(TConfigSlot ASlot) const
{
    std::vector<TCall> result;
    std::copy_if(Calls.begin(), Calls.end(), std::back_inserter(result),
                 [ASlot](const TCall& C) { return C.Kind == TCallKind::Config && C.Slot == ASlot; });
    return result;
}

std::size_t TLedger::CallIndex(TCallKind AKind, TConfigSlot ASlot) noexcept
{
    // The kinds first, then one number per configuration slot.
    return AKind == TCallKind::Config ? static_cast<std::size_t>(TCallKind::Config) + 1 + static_cast<std::size_t>(ASlot)
                                      : static_cast<std::size_t>(AKind);
}

std::int64_t TLedger::NextCall(TCallKind AKind, TConfigSlot ASlot) noexcept
{
    return FCallNumbers[CallIndex(AKind, ASlot)]++;
}

std::int64_t TLedger::CallsSoFar(TCallKind AKind, TConfigSlot ASlot) const noexcept
{
    return FCallNumbers[CallIndex(AKind, ASlot)];
}

} // namespace player
