#include "plugin/Rings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// A zeroed visual block and history, as a fresh visualization holds them.
struct CaptureFixture : ::testing::Test {
    std::unique_ptr<TAIMPVisualData> Data = std::make_unique<TAIMPVisualData>();
    TPointsArray History{};
    std::int32_t ArrNumb = 0;

    // Sets mono sample i to AValue, split over the two channels so that the sum is exact.
    void SetMono(int i, float AValue)
    {
        Data->Waveform[0][i] = AValue / 2;
        Data->Waveform[1][i] = AValue / 2;
    }

    // The ring that the rule gives for mono value v at point k: every step in double, each
    // stored value rounded to single, with the C library's sine and cosine.
    static TPoint3D Expected(int k, float v)
    {
        const double theta = k * 6.283185307179586 / 64.0;
        const auto rho = static_cast<float>(static_cast<double>(v) * 12.0 + 25.0);
        return {static_cast<float>(rho * std::cos(theta)), static_cast<float>(rho * std::sin(theta)), 0.0f};
    }

    void ExpectPoint(int Slot, int k, const TPoint3D& P)
    {
        const TPoint3D& got = History[Slot][k];
        EXPECT_EQ(std::memcmp(&got.X, &P.X, sizeof(float)), 0) << "X of point " << k << ": " << got.X << " vs " << P.X;
        EXPECT_EQ(std::memcmp(&got.Y, &P.Y, sizeof(float)), 0) << "Y of point " << k << ": " << got.Y << " vs " << P.Y;
        EXPECT_EQ(std::memcmp(&got.Z, &P.Z, sizeof(float)), 0) << "Z of point " << k;
    }
};

TEST_F(CaptureFixture, SilentBlockGivesCircleOfRadius25)
{
    CaptureRing(History, ArrNumb, *Data);
    EXPECT_EQ(ArrNumb, 1);
    for (int k = 0; k < RingPointCount; ++k)
        ExpectPoint(0, k, Expected(k, 0.0f));
    EXPECT_EQ(History[0][0].X, 25.0f);
    EXPECT_EQ(History[0][0].Y, 0.0f);
    EXPECT_NEAR(History[0][16].X, 0.0f, 1e-5);
    EXPECT_EQ(History[0][16].Y, 25.0f);
    EXPECT_EQ(History[0][32].X, -25.0f);
    EXPECT_NEAR(History[0][48].X, 0.0f, 1e-5);
    EXPECT_EQ(History[0][48].Y, -25.0f);
}

// The fixed angle table agrees bit for bit with the C library for all 64 points, over a ring
// whose radii vary from point to point.
TEST_F(CaptureFixture, EveryPointFollowsThePrecisionRule)
{
    for (int i = 0; i < AIMP_VISUAL_WAVEFORM_SIZE; ++i) {
        Data->Waveform[0][i] = static_cast<float>(std::sin(i * 0.37) * 0.7);
        Data->Waveform[1][i] = static_cast<float>(std::cos(i * 0.11) * 0.6);
    }
    CaptureRing(History, ArrNumb, *Data);
    for (int k = 0; k < RingPointCount; ++k) {
        const auto mono = static_cast<float>(static_cast<double>(Data->Waveform[0][8 * k]) +
                                             static_cast<double>(Data->Waveform[1][8 * k]));
        ExpectPoint(0, k, Expected(k, mono));
    }
}

TEST_F(CaptureFixture, PeakOfExactlyTwoIsNotNormalised)
{
    SetMono(0, 2.0f);
    SetMono(8, -2.0f);
    CaptureRing(History, ArrNumb, *Data);
    EXPECT_EQ(History[0][0].X, 49.0f);
    ExpectPoint(0, 1, Expected(1, -2.0f));
    EXPECT_FLOAT_EQ(std::hypot(History[0][1].X, History[0][1].Y), 1.0f);
    ExpectPoint(0, 2, Expected(2, 0.0f));
}

TEST_F(CaptureFixture, PeakAboveTwoNormalisesEveryUsedSample)
{
    SetMono(0, 2.5f);
    SetMono(8, -2.5f);
    SetMono(16, 1.0f);
    CaptureRing(History, ArrNumb, *Data);
    EXPECT_EQ(History[0][0].X, 37.0f);
    ExpectPoint(0, 1, Expected(1, -1.0f));
    ExpectPoint(0, 2, Expected(2, static_cast<float>(1.0 / 2.5)));
}

TEST_F(CaptureFixture, LoudSampleOffTheGridActsOnlyThroughThePeak)
{
    SetMono(8, 1.5f);
    SetMono(13, 1.9f); // below the threshold: the ring is as if it were absent
    CaptureRing(History, ArrNumb, *Data);
    ExpectPoint(0, 1, Expected(1, 1.5f));
    ExpectPoint(0, 2, Expected(2, 0.0f));

    SetMono(13, -3.0f); // above it: only the normalisation changes
    CaptureRing(History, ArrNumb, *Data);
    ExpectPoint(1, 1, Expected(1, 0.5f));
    ExpectPoint(1, 2, Expected(2, 0.0f));
}

TEST_F(CaptureFixture, SlotIndexWrapsAfterThirty)
{
    History[30][5].Z = -355.0f;
    ArrNumb = 30;
    CaptureRing(History, ArrNumb, *Data);
    EXPECT_EQ(ArrNumb, 0);
    for (int k = 0; k < RingPointCount; ++k)
        EXPECT_EQ(History[30][k].Z, 0.0f);

    // 32 captures from a fresh history: the 32nd overwrites slot 0 again.
    TPointsArray fresh{};
    std::int32_t index = 0;
    SetMono(0, 1.0f);
    for (int n = 1; n <= 31; ++n)
        CaptureRing(fresh, index, *Data);
    EXPECT_EQ(index, 0);
    fresh[0][0].Z = -100.0f;
    SetMono(0, 0.0f);
    CaptureRing(fresh, index, *Data);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(fresh[0][0].X, 25.0f);
    EXPECT_EQ(fresh[0][0].Z, 0.0f);
    EXPECT_EQ(fresh[1][0].X, 37.0f);
}

// Non-finite mono samples count as 0, for the peak as for the ring; nothing non-finite is stored.
TEST_F(CaptureFixture, NonFiniteSamplesCountAsZero)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float big = std::numeric_limits<float>::max();
    Data->Waveform[0][0] = nan;
    Data->Waveform[0][8] = inf;
    Data->Waveform[1][16] = -inf;
    Data->Waveform[0][24] = big; // the channel sum overflows single precision
    Data->Waveform[1][24] = big;
    Data->Waveform[0][3] = inf; // off the grid: must not become the peak
    SetMono(32, 1.5f);
    CaptureRing(History, ArrNumb, *Data);
    for (int k = 0; k < 4; ++k)
        ExpectPoint(0, k, Expected(k, 0.0f));
    ExpectPoint(0, 4, Expected(4, 1.5f));
    for (int k = 0; k < RingPointCount; ++k) {
        EXPECT_TRUE(std::isfinite(History[0][k].X));
        EXPECT_TRUE(std::isfinite(History[0][k].Y));
    }
}

} // namespace
