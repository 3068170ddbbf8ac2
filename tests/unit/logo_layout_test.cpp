#include "acqdialog/logo_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

TEST(HimetricToPixels, RoundsHalvesAwayFromZeroAndOverflowIsMinusOne) {
    const long cases[][3] = {// HIMETRIC, pixels per inch, pixels
                             {7938, 96, 300},
                             {7938, 120, 375},
                             {0, 96, 0},  // 375.02 on a large-font screen
                             {1270, 1, 1},
                             {1269, 1, 0},
                             {-1270, 1, -1},
                             {-1269, 1, 0},
                             {2147483647L, 2540, 2147483647L},
                             {2147483647L, 5080, -1},
                             {-2147483647L, 5080, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(HimetricToPixels(c[0], int(c[1])), c[2]) << c[0] << " HIMETRIC at " << c[1];
    }
}

TEST(LayoutForLogo, SizesCentresAndPlacesThePromptLines) {
    const std::vector<int> cases[] = {
        // Picture and screen sizes; then left, top, width and height of the window, line 1 and
        // line 2. 306 by 182; 182 / 3 = 60.
        {300, 150, 1024, 768, 359, 293, 306, 182, 0, 60, 306, 25, 0, 85, 306, 55},
        // Odd sizes: every division truncates (307 / 2 = 153, 183 / 2 = 91, 183 / 3 = 61).
        {301, 151, 1279, 1023, 486, 420, 307, 183, 0, 61, 307, 25, 0, 86, 307, 55},
        // A picture larger than the screen overhangs it on every side.
        {2000, 1000, 1024, 768, -491, -132, 2006, 1032, 0, 344, 2006, 25, 0, 369, 2006, 55},
        // An empty picture still gets the frame's room.
        {0, 0, 800, 600, 397, 284, 6, 32, 0, 10, 6, 25, 0, 35, 6, 55},
    };
    for (const auto& c : cases) {
        const LogoLayout l = LayoutForLogo(c[0], c[1], c[2], c[3]);
        std::vector<int> got(c.begin(), c.begin() + 4);
        for (const PixelRect& r : {l.window, l.line1, l.line2}) {
            got.insert(got.end(), {r.left, r.top, r.width, r.height});
        }
        EXPECT_EQ(got, c);
    }
}

}  // namespace
}  // namespace quillon
