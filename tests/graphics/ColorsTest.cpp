#include "graphics/ACL.Graphics.h"
#include "graphics/HueToChannel.h"

#include <gtest/gtest.h>

namespace {

TEST(ProductTable, IsTheRoundedProductOverTwoFiftyFive)
{
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            // MulDiv's rounding (halves away from zero), written independently of the table's
            // own formula.
            const int expected = (2 * a * b + 255) / 510;
            ASSERT_EQ(TACLColors::ProductTable[a][b], expected) << a << " " << b;
            ASSERT_EQ(TACLColors::ProductTable[a][b], TACLColors::ProductTable[b][a]);
        }
    EXPECT_EQ(TACLColors::ProductTable[200][128], 100);
    EXPECT_EQ(TACLColors::ProductTable[147][255], 147);
}

TEST(HueToChannel, BandEdges)
{
    struct Case {
        int H;
        int V;
    };
    const Case cases[] = {{0, 0},   {1, 6},   {41, 248}, {42, 255}, {126, 255}, {127, 255}, {128, 252},
                          {169, 6}, {170, 0}, {255, 0},  {256, 6},  {-1, 0},    {-85, 0},   {340, 255}};
    for (const Case& c : cases)
        EXPECT_EQ(acl_detail::HueToChannel(0, 255, c.H), c.V) << "h=" << c.H;
    // At h = 127 the falling band lies above m2 until the clamp.
    EXPECT_EQ(acl_detail::HueToChannel(0, 256, 127), 255);
    EXPECT_EQ(acl_detail::HueToChannel(100, 200, 127), 201); // 100 + (100 * 258) div 255
}

TEST(HSLToColor, WorkedValues)
{
    struct Case {
        int H, S, L, R, G, B;
        TColor Color;
    };
    // clang-format off
    const Case cases[] = {
        {0, 255, 60, 120, 0, 0, 0x00000078},      {0, 255, 110, 220, 0, 0, 0x000000DC},
        {0, 255, 170, 255, 85, 85, 0x005555FF},   {85, 255, 60, 0, 120, 0, 0x00007800},
        {85, 255, 110, 0, 220, 0, 0x0000DC00},    {85, 255, 170, 85, 255, 85, 0x0055FF55},
        {170, 255, 60, 0, 0, 120, 0x00780000},    {170, 255, 110, 0, 0, 220, 0x00DC0000},
        {170, 255, 170, 85, 85, 255, 0x00FF5555}, {8, 255, 51, 102, 19, 0, 0x00001366},
        {16, 255, 127, 254, 96, 0, 0x000060FE},   {40, 255, 147, 255, 244, 39, 0x0027F4FF},
        {128, 255, 110, 0, 217, 220, 0x00DCD900}, {200, 255, 169, 205, 83, 255, 0x00FF53CD},
        {240, 255, 82, 164, 0, 57, 0x003900A4},   {100, 255, 128, 0, 255, 91, 0x005BFF00},
        {200, 128, 200, 212, 172, 228, 0x00E4ACD4}, {3, 0, 99, 99, 99, 99, 0x00636363},
        {255, 255, 60, 120, 0, 0, 0x00000078},
        // The rendering's own extremes: slot 0 at depth -5, slot 30 at depth -695.
        {0, 255, 1, 2, 0, 0, 0x00000002},         {0, 255, 51, 102, 0, 0, 0x00000066},
        {240, 255, 119, 238, 0, 84, 0x005400EE},  {240, 255, 169, 255, 83, 143, 0x008F53FF},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::uint8_t r = 1, g = 1, b = 1;
        TACLColors::HSLToRGB(static_cast<std::uint8_t>(c.H), static_cast<std::uint8_t>(c.S),
                             static_cast<std::uint8_t>(c.L), r, g, b);
        EXPECT_EQ(r, c.R) << c.H << "," << c.S << "," << c.L;
        EXPECT_EQ(g, c.G) << c.H << "," << c.S << "," << c.L;
        EXPECT_EQ(b, c.B) << c.H << "," << c.S << "," << c.L;
        EXPECT_EQ(TACLColors::HSLToColor(static_cast<std::uint8_t>(c.H), static_cast<std::uint8_t>(c.S),
                                         static_cast<std::uint8_t>(c.L)),
                  c.Color);
    }
}

TEST(HSLToColor, IdentitiesHoldForEveryInput)
{
    for (int h = 0; h < 256; ++h)
        for (int s = 0; s < 256; ++s)
            for (int l = 0; l < 256; ++l) {
                const auto H = static_cast<std::uint8_t>(h), S = static_cast<std::uint8_t>(s),
                           L = static_cast<std::uint8_t>(l);
                const TColor c = TACLColors::HSLToColor(H, S, L);
                ASSERT_EQ(c >> 24, 0u) << h << "," << s << "," << l;
                const bool grey = s == 0, black = l == 0, white = l == 255;
                if (grey) {
                    ASSERT_EQ(c, l * 0x010101u) << h << "," << l;
                }
                if (black) {
                    ASSERT_EQ(c, 0u) << h << "," << s;
                }
                if (white) {
                    ASSERT_EQ(c, 0x00FFFFFFu) << h << "," << s;
                }
                if (h == 255) {
                    ASSERT_EQ(c, TACLColors::HSLToColor(0, S, L)) << s << "," << l;
                }
            }
}

} // namespace
