// The built-in signal. Every section is chosen for what it does to the rings: the chord gives
// steady, rounded waves; the beats give sudden wide rings that decay; the sweep walks the ring's
// ripple from a few lobes to fine noise; the silence shows plain circles of radius 25; the last
// second is loud enough (mono peak above 2) that the rings are normalised.
#include "tools/lib/sound/SignalSource.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace sound {

namespace {

constexpr std::int32_t DefaultRate = 44100;
constexpr double DefaultSeconds = 8.0;
constexpr double Pi = 3.141592653589793;

class TMemorySignal final : public TSignalSource {
public:
    TMemorySignal(std::int32_t ARate, std::vector<float> ALeft, std::vector<float> ARight)
        : FRate(ARate), FLeft(std::move(ALeft)), FRight(std::move(ARight))
    {}

    std::int32_t Rate() const override { return FRate; }
    std::int64_t Length() const override { return static_cast<std::int64_t>(FLeft.size()); }

    void ReadBlock(std::int64_t AStart, float* ALeft, float* ARight) override
    {
        const std::int64_t length = Length();
        for (int i = 0; i < BlockSize; ++i) {
            const std::int64_t at = AStart + i;
            const bool inside = at >= 0 && at < length;
            ALeft[i] = inside ? FLeft[static_cast<std::size_t>(at)] : 0.0f;
            ARight[i] = inside ? FRight[static_cast<std::size_t>(at)] : 0.0f;
        }
    }

private:
    std::int32_t FRate;
    std::vector<float> FLeft;
    std::vector<float> FRight;
};

// A gain that rises over AAttack seconds and falls over ARelease seconds at the ends of a
// section of ALength seconds, so that sections start and stop without clicks.
double Envelope(double ATime, double ALength, double AAttack, double ARelease)
{
    if (ATime < 0 || ATime >= ALength)
        return 0;
    return std::min({1.0, ATime / AAttack, (ALength - ATime) / ARelease});
}

// A minor chord with its octave, the right channel a little detuned so the channels differ.
void Chord(double ATime, double AGain, double& ALeft, double& ARight)
{
    static constexpr double Notes[] = {220.0, 261.63, 329.63, 440.0};
    for (double note : Notes) {
        ALeft += AGain * std::sin(2 * Pi * note * ATime);
        ARight += AGain * std::sin(2 * Pi * note * 1.003 * ATime + 0.5);
    }
}

// Kicks on every beat at 120 per minute, each a falling tone, with noise hats between them.
void Beats(double ATime, double AGain, std::uint32_t& ANoise, double& ALeft, double& ARight)
{
    const double beat = 0.5;
    const double sinceKick = std::fmod(ATime, beat);
    const double kickPhase = 2 * Pi * (45.0 * sinceKick + 75.0 * 0.04 * (1 - std::exp(-sinceKick / 0.04)));
    const double kick = 0.9 * std::exp(-sinceKick / 0.12) * std::sin(kickPhase);
    ANoise = ANoise * 1664525u + 1013904223u;
    const double noise = static_cast<double>(ANoise >> 8) / 8388608.0 - 1.0;
    const double sinceHat = std::fmod(ATime + beat / 2, beat);
    const double hat = 0.35 * std::exp(-sinceHat / 0.03) * noise;
    ALeft += AGain * (kick + hat);
    ARight += AGain * (kick - hat);
}

} // namespace

std::unique_ptr<TSignalSource> MakeDefaultSignal()
{
    const auto length = static_cast<std::size_t>(DefaultRate * DefaultSeconds);
    std::vector<float> left(length), right(length);
    std::uint32_t noise = 12345;
    double sweepPhase = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / DefaultRate;
        double l = 0, r = 0;
        // 0-2 s: the chord alone.
        Chord(t, 0.2 * Envelope(t, 2.0, 0.02, 0.05), l, r);
        // 2-4 s: beats alone.
        Beats(t, Envelope(t - 2.0, 2.0, 0.005, 0.05), noise, l, r);
        // 4-6 s: a logarithmic sweep from 40 Hz to 8 kHz, the phase carried sample to sample.
        const double sweepGain = 0.7 * Envelope(t - 4.0, 2.0, 0.02, 0.05);
        if (sweepGain > 0) {
            const double frequency = 40.0 * std::pow(200.0, (t - 4.0) / 2.0);
            sweepPhase += 2 * Pi * frequency / DefaultRate;
            l += sweepGain * std::sin(sweepPhase);
            r += sweepGain * std::sin(sweepPhase + Pi / 3);
        }
        // 6-7 s: silence. 7-8 s: chord and beats together, loud.
        const double loud = Envelope(t - 7.0, 1.0, 0.005, 0.1);
        Chord(t, 0.3 * loud, l, r);
        Beats(t, loud, noise, l, r);
        left[i] = static_cast<float>(std::clamp(l, -1.0, 1.0));
        right[i] = static_cast<float>(std::clamp(r, -1.0, 1.0));
    }
    return std::make_unique<TMemorySignal>(DefaultRate, std::move(left), std::move(right));
}

} // namespace sound
