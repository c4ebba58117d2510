// Colour utilities of the graphics unit: byte-scale HSL to colour values.
#pragma once

#include <array>
#include <cstdint>

// A colour value: 0x00BBGGRR, red in the low byte, bits 24 to 31 zero (the top bit set would
// name a system colour, which this module never produces).
using TColor = std::uint32_t;

class TACLColors {
public:
    using TProductTable = std::array<std::array<std::uint8_t, 256>, 256>;

    // Entry [a][b] is a * b / 255 to the nearest integer, (a * b + 127) div 255; no pair falls
    // on a half. Built at compile time, so it is complete before any code of the module runs,
    // and read-only: every thread may read it without a lock.
    static const TProductTable ProductTable;

    // Hue, saturation and lightness bytes to a colour value. The hue circle has 255 steps:
    // hue 255 is hue 0. Integer arithmetic only, one table read at most, never fails.
    static TColor HSLToColor(std::uint8_t H, std::uint8_t S, std::uint8_t L) noexcept;

    // The same conversion into separate channel bytes; all three are written on every call.
    static void HSLToRGB(std::uint8_t H, std::uint8_t S, std::uint8_t L, std::uint8_t& R, std::uint8_t& G,
                         std::uint8_t& B) noexcept;
};
