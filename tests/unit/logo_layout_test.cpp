#include "acqdialog/logo_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

TEST(HimetricToPixels, RoundsHalvesAwayFromZeroAndOverflowIsMinusOne) {
    struct Case {
        long himetric;
        int ppi;
        long pixels;
    };
    const Case cases[] = {
        {7938, 96, 300}, {7938, 120, 375}, {0, 96, 0},  // 375.02 on a large-font screen
        {1270, 1, 1},    {1269, 1, 0},     {-1270, 1, -1}, {-1269, 1, 0},
        {2147483647L, 2540, 2147483647L},  {2147483647L, 5080, -1}, {-2147483647L, 5080, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(HimetricToPixels(c.himetric, c.ppi), c.pixels)
            << c.himetric << " HIMETRIC at " << c.ppi << " ppi";
    }
}

std::vector<int> Flat(const LogoLayout& l) {
    std::vector<int> v;
    for (const PixelRect& r : {l.window, l.line1, l.line2}) {
        v.insert(v.end(), {r.left, r.top, r.width, r.height});
    }
    return v;
}

TEST(LayoutForLogo, SizesCentresAndPlacesThePromptLines) {
    struct Case {
        long pictureWidth, pictureHeight;
        int screenWidth, screenHeight;
        std::vector<int> windowLine1Line2;
    };
    const Case cases[] = {
        // 306 by 182; 182 / 3 = 60.
        {300, 150, 1024, 768, {359, 293, 306, 182, 0, 60, 306, 25, 0, 85, 306, 55}},
        // Odd sizes: every division truncates (307 / 2 = 153, 183 / 2 = 91, 183 / 3 = 61).
        {301, 151, 1279, 1023, {486, 420, 307, 183, 0, 61, 307, 25, 0, 86, 307, 55}},
        // A picture larger than the screen overhangs it on every side.
        {2000, 1000, 1024, 768, {-491, -132, 2006, 1032, 0, 344, 2006, 25, 0, 369, 2006, 55}},
        // An empty picture still gets the frame's room.
        {0, 0, 800, 600, {397, 284, 6, 32, 0, 10, 6, 25, 0, 35, 6, 55}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Flat(LayoutForLogo(c.pictureWidth, c.pictureHeight, c.screenWidth,
                                     c.screenHeight)),
                  c.windowLine1Line2)
            << c.pictureWidth << "x" << c.pictureHeight << " on " << c.screenWidth << "x"
            << c.screenHeight;
    }
}

}  // namespace
}  // namespace quillon
