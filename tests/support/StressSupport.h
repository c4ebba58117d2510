// Shared pieces of the stress tests: counted descendants of the player's objects, blocks of
// visual data from a seeded source, and the identity of the calling thread.
#pragma once

#include "plugin/Selvanore_Main.h"

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>

namespace testing_support {

// A visualization that counts its own destruction, so that a test can tell "destroyed exactly
// once" from "destroyed twice" or "leaked".
class TCountedVisualization final : public TVisualization {
public:
    explicit TCountedVisualization(std::atomic<int>* ADestroyed) noexcept : FDestroyed(ADestroyed) {}

private:
    ~TCountedVisualization() override { FDestroyed->fetch_add(1, std::memory_order_relaxed); }

    std::atomic<int>* FDestroyed; // borrowed; outlives the object
};

// The plug-in object, counting its destruction in the same way.
class TCountedPlugin final : public TVisualPlugin {
public:
    explicit TCountedPlugin(std::atomic<int>* ADestroyed) noexcept : FDestroyed(ADestroyed) {}

private:
    ~TCountedPlugin() override { FDestroyed->fetch_add(1, std::memory_order_relaxed); }

    std::atomic<int>* FDestroyed;
};

// What kind of samples a made block holds.
enum class TWaveKind { Silent, Quiet, Loud, Hostile };

// A block of visual data, zero-filled, then with a waveform of the given kind. Hostile blocks mix
// NaN, infinities, denormals, the extremes of single precision and ordinary samples.
inline std::unique_ptr<TAIMPVisualData> MakeBlock(TWaveKind AKind, std::mt19937& ARandom)
{
    auto block = std::make_unique<TAIMPVisualData>();
    std::uniform_real_distribution<float> quiet(-1.0f, 1.0f);
    std::uniform_real_distribution<float> loud(-40.0f, 40.0f);
    // clang-format off
    constexpr float specials[] = {
        std::numeric_limits<float>::quiet_NaN(),  std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(),  std::numeric_limits<float>::denorm_min(),
        std::numeric_limits<float>::max(),        -std::numeric_limits<float>::max(),
        std::numeric_limits<float>::min(),        2.0f,
        -2.0f,                                    0.0f,
    };
    // clang-format on
    for (auto& channel : block->Waveform)
        for (float& sample : channel) {
            switch (AKind) {
            case TWaveKind::Silent: sample = 0.0f; break;
            case TWaveKind::Quiet: sample = quiet(ARandom); break;
            case TWaveKind::Loud: sample = loud(ARandom); break;
            case TWaveKind::Hostile:
                sample = (ARandom() % 3 == 0) ? specials[ARandom() % std::size(specials)] : loud(ARandom);
                break;
            }
        }
    return block;
}

} // namespace testing_support
