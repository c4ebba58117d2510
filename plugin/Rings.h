// The ring history of the wave-ring visualization and the capture that feeds it.
#pragma once

#include "host/apiVisuals.h"

#include <cstdint>

// One point of a ring. X and Y are offsets from the ring's centre in pixels before perspective
// (Y grows downward, as on the device context); Z is the depth: 0 when captured, then more
// negative by 5 in every frame as the ring approaches the viewer.
struct TPoint3D {
    float X;
    float Y;
    float Z;
};

inline constexpr int RingSlotCount = 31;
inline constexpr int RingPointCount = 64;

// The ring history: 31 slots of 64 points, slot-major. Invariant: all points of one slot share
// one Z.
using TPointsArray = TPoint3D[RingSlotCount][RingPointCount];

// Turns the waveform of Data into a new ring at depth 0 in slot ArrNumb, then advances ArrNumb
// modulo 31. Reads only Data.Waveform; allocates nothing.
//
// The two channels are mixed to mono and the ring takes every eighth mono sample, normalised by
// the block's peak when that exceeds 2.0, as radius 12 * v + 25. A mono sample that is not a
// finite number (NaN, an infinity, or a channel sum beyond single precision) counts as 0, both
// for the peak and for the ring, so that nothing non-finite ever reaches the history.
void CaptureRing(TPointsArray& PointsArray, std::int32_t& ArrNumb, const TAIMPVisualData& Data) noexcept;

class TCanvas;

// Draws one frame of the history on Canvas, which has a device context attached: a black fill
// of (0, 0, FWidth, FHeight), then for every slot in order each point is stepped 5 depth units
// toward the viewer (-700 resets to 0), projected around (OX, OY) and drawn as a dot whose size
// and lightness grow with depth, and the slot's 64 points are joined by an open polyline.
// Rewrites Z of every point; allocates nothing. Errors of the surface pass through at once,
// leaving the points already stepped at their new depth.
void RenderRings(TPointsArray& PointsArray, TCanvas& Canvas, std::int32_t FWidth, std::int32_t FHeight, std::int32_t OX,
                 std::int32_t OY);
