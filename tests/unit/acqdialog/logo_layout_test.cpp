// The logo's size on the screen and the prompt lines laid over it.
#include "acqdialog/logo_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

TEST(LogoLayout, HimetricRoundsHalvesAwayFromZeroOverflowIsMinusOneAndOddSizesTruncate) {
    const long m = 2147483647L;  // HIMETRIC, pixels per inch, pixels:
    const long cases[][3] = {{7938, 96, 300}, {1270, 1, 1}, {1269, 1, 0},  {-1270, 1, -1},
                             {-1269, 1, 0},   {m, 2540, m}, {m, 5080, -1}, {-m, 5080, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(HimetricToPixels(c[0], int(c[1])), c[2]) << c[0] << " HIMETRIC at " << c[1];
    }
    // A 301 by 151 picture on a 1279 by 1023 screen: the window is 307 by 183.
    const LogoLayout l = LayoutForLogo(301, 151, 1279, 1023);
    std::vector<int> got;
    for (const PixelRect& r : {l.window, l.line1, l.line2}) {
        got.insert(got.end(), {r.left, r.top, r.width, r.height});
    }
    EXPECT_EQ(got, (std::vector<int>{486, 420, 307, 183, 0, 61, 307, 25, 0, 86, 307, 55}));
}

}  // namespace
}  // namespace quillon
