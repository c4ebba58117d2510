#include "graphics/ACL.Graphics.h"
#include "graphics/HueToChannel.h"

namespace {

constexpr TACLColors::TProductTable MakeProductTable()
{
    TACLColors::TProductTable table{};
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            table[a][b] = static_cast<std::uint8_t>((a * b + 127) / 255);
    return table;
}

} // namespace

std::int32_t acl_detail::HueToChannel(std::int32_t m1, std::int32_t m2, std::int32_t h) noexcept
{
    if (h < 0)
        h += 255;
    if (h > 255)
        h -= 255;
    std::int32_t v;
    if (h < 42)
        v = m1 + ((m2 - m1) * h) / 42;
    else if (h < 127)
        v = m2;
    else if (h < 170)
        v = m1 + ((m2 - m1) * (1020 - 6 * h)) / 255;
    else
        v = m1;
    // No lower clamp: for byte inputs v never falls below 0.
    return v >= 255 ? 255 : v;
}

constinit const TACLColors::TProductTable TACLColors::ProductTable = MakeProductTable();

void TACLColors::HSLToRGB(std::uint8_t H, std::uint8_t S, std::uint8_t L, std::uint8_t& R, std::uint8_t& G,
                          std::uint8_t& B) noexcept
{
    if (S == 0) {
        R = G = B = L;
        return;
    }
    const std::int32_t m2 = L <= 128 ? (L * (255 + S)) / 255 : L + S - ProductTable[L][S];
    const std::int32_t m1 = 2 * L - m2;
    R = static_cast<std::uint8_t>(acl_detail::HueToChannel(m1, m2, H + 85));
    G = static_cast<std::uint8_t>(acl_detail::HueToChannel(m1, m2, H));
    B = static_cast<std::uint8_t>(acl_detail::HueToChannel(m1, m2, H - 85));
}

TColor TACLColors::HSLToColor(std::uint8_t H, std::uint8_t S, std::uint8_t L) noexcept
{
    std::uint8_t r, g, b;
    HSLToRGB(H, S, L, r, g, b);
    return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
