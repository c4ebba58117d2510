#include "tools/lib/fakeplayer/FakePlayer.h"

#include <algorithm>

namespace fakeplayer {

TReferenceCounts TLedger::operator[](TObjectKind AKind) const noexcept
{
    const TAtomicCounts& c = FCounts[static_cast<std::size_t>(AKind)];
    return {c.Made.load(), c.Destroyed.load(), c.HandedOut.load(), c.Returned.load()};
}

void TLedger::Count(TObjectKind AKind, TEvent AEvent) noexcept
{
    TAtomicCounts& c = FCounts[static_cast<std::size_t>(AKind)];
    switch (AEvent) {
    case TEvent::Made: ++c.Made; break;
    case TEvent::Destroyed: ++c.Destroyed; break;
    case TEvent::HandedOut: ++c.HandedOut; break;
    case TEvent::Returned: ++c.Returned; break;
    }
}

bool TLedger::Balanced() const noexcept
{
    for (std::size_t kind = 0; kind < ObjectKindCount; ++kind) {
        const TReferenceCounts c = (*this)[static_cast<TObjectKind>(kind)];
        if (c.Outstanding() != 0 || c.Live() != 0)
            return false;
    }
    return true;
}

std::string TLedger::Report() const
{
    static constexpr const char* Names[ObjectKindCount] = {"core", "string", "config"};
    std::string text;
    for (std::size_t kind = 0; kind < ObjectKindCount; ++kind) {
        const TReferenceCounts c = (*this)[static_cast<TObjectKind>(kind)];
        text += Names[kind];
        text += ": made " + std::to_string(c.Made) + ", destroyed " + std::to_string(c.Destroyed) + ", handed out " +
                std::to_string(c.HandedOut) + ", returned " + std::to_string(c.Returned) + "\n";
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
    return AKind == TCallKind::Config
               ? static_cast<std::size_t>(TCallKind::Config) + 1 + static_cast<std::size_t>(ASlot)
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

} // namespace fakeplayer
