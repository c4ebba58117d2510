// The same computations give the same bits natively and under Windows' runtime. Each case ends
// in a digest that is a constant here: the native run ties the constant to the native build,
// whose own tests check the computation against its rule, and the run under Wine shows that
// the mingw-w64 build reaches the very same bits. Inputs are made with integer and plain double
// arithmetic only, never the maths library, so that they are the same on both sides.
#include "graphics/ACL.Graphics.h"
#include "plugin/Rings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

namespace {

// FNV-1a, 64-bit, over 32-bit words rather than bytes: quick enough for 16.7 million colours.
class TDigest {
public:
    void Add(std::uint32_t AWord)
    {
        FValue ^= AWord;
        FValue *= 0x100000001B3u;
    }
    void Add(float AValue)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &AValue, sizeof bits);
        Add(bits);
    }
    std::uint64_t Value() const { return FValue; }

private:
    std::uint64_t FValue = 0xCBF29CE484222325u;
};

// A reproducible sample in [-AAmplitude, AAmplitude]: a multiplicative hash of the index, as
// a double scaled exactly, then rounded once to single.
float Sample(std::uint32_t AIndex, std::uint32_t ASeed, double AAmplitude)
{
    const std::uint32_t mixed = ((AIndex + 1u) * 2654435761u) ^ (ASeed * 40503u);
    const double unit = static_cast<double>(mixed >> 8) / 16777215.0; // 0 to 1
    return static_cast<float>((unit * 2.0 - 1.0) * AAmplitude);
}

struct TCaptureCase {
    const char* Name;
    std::uint32_t Seed;
    double Amplitude;     // per channel; 0 gives a silent block
    int Captures;         // successive blocks captured into one history
    std::uint64_t Digest; // of the whole history and the next-slot index afterwards
};

void PrintTo(const TCaptureCase& ACase, std::ostream* AStream)
{
    *AStream << ACase.Name;
}

// Peaks: silence; at most 2 (no normalisation); above 2 (normalised); many captures, so that
// the next-slot index wraps and slots are overwritten.
const TCaptureCase CaptureCases[] = {
    {"silent", 0, 0.0, 1, 0xA7843F81BE750474u},
    {"quiet", 1, 0.9, 1, 0xF060151E96AB3808u},
    {"loud", 2, 3.0, 1, 0x096D90607AB96480u},
    {"wrapping", 3, 1.5, 40, 0xFEF1CD58F6FFF405u},
};

class PlatformAgreementCapture : public ::testing::TestWithParam<TCaptureCase> {};

TEST_P(PlatformAgreementCapture, HistoryHasTheSameBits)
{
    const TCaptureCase& c = GetParam();
    auto data = std::make_unique<TAIMPVisualData>();
    TPointsArray history{};
    std::int32_t arrNumb = 0;
    for (int capture = 0; capture < c.Captures; ++capture) {
        std::memset(data.get(), 0, sizeof(TAIMPVisualData));
        for (std::uint32_t channel = 0; channel < 2; ++channel)
            for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(AIMP_VISUAL_WAVEFORM_SIZE); ++i)
                data->Waveform[channel][i] =
                    Sample(i, c.Seed * 1000u + static_cast<std::uint32_t>(capture) * 2u + channel, c.Amplitude);
        CaptureRing(history, arrNumb, *data);
    }

    TDigest digest;
    for (const auto& slot : history)
        for (const TPoint3D& point : slot) {
            digest.Add(point.X);
            digest.Add(point.Y);
            digest.Add(point.Z);
        }
    digest.Add(static_cast<std::uint32_t>(arrNumb));
    EXPECT_EQ(digest.Value(), c.Digest) << std::hex << "digest 0x" << digest.Value();
}

INSTANTIATE_TEST_SUITE_P(Blocks, PlatformAgreementCapture, ::testing::ValuesIn(CaptureCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(PlatformAgreement, EveryColourConversion)
{
    TDigest digest;
    for (int h = 0; h < 256; ++h)
        for (int s = 0; s < 256; ++s)
            for (int l = 0; l < 256; ++l) {
                const TColor color = TACLColors::HSLToColor(static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(s),
                                                            static_cast<std::uint8_t>(l));
                digest.Add(color);
            }
    EXPECT_EQ(digest.Value(), 0x6620FC85575C78B9u) << std::hex << "digest 0x" << digest.Value();
}

} // namespace
