// What the side-by-side comparisons share: their clock and their input.
#pragma once

#include "host/apiVisuals.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <random>

namespace bench_support {

// The calling thread's CPU time: on a machine shared with other work, the time a side was
// actually running, not the time it waited for a core.
struct TClock {
    using time_point = std::chrono::nanoseconds;
    static time_point now() noexcept
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    }
};

inline double Seconds(TClock::time_point AFrom, TClock::time_point ATo)
{
    return std::chrono::duration<double>(ATo - AFrom).count();
}

// The visual block of the steady-frame benchmarks: a slow sine on the left channel, a faster one
// on the right.
inline std::unique_ptr<TAIMPVisualData> SineBlock()
{
    auto block = std::make_unique<TAIMPVisualData>();
    for (int i = 0; i < AIMP_VISUAL_WAVEFORM_SIZE; ++i) {
        block->Waveform[0][i] = static_cast<float>(std::sin(i * 0.05) * 0.9);
        block->Waveform[1][i] = static_cast<float>(std::sin(i * 0.13) * 0.8);
    }
    return block;
}

// A visual block of uniform noise in -1 to 1 on both channels: rings of every shape.
inline std::unique_ptr<TAIMPVisualData> NoiseBlock(unsigned ASeed)
{
    auto block = std::make_unique<TAIMPVisualData>();
    std::mt19937 random(ASeed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    for (auto& channel : block->Waveform)
        for (float& value : channel)
            value = sample(random);
    return block;
}

} // namespace bench_support
