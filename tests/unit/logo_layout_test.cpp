#include "acqdialog/logo_layout.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

void ExpectRect(const PixelRect& actual, const PixelRect& expected, const char* what) {
    EXPECT_EQ(actual.left, expected.left) << what;
    EXPECT_EQ(actual.top, expected.top) << what;
    EXPECT_EQ(actual.width, expected.width) << what;
    EXPECT_EQ(actual.height, expected.height) << what;
}

TEST(HimetricToPixels, RoundsToTheNearestPixelWithHalvesAwayFromZero) {
    struct Case {
        long himetric;
        int ppi;
        long pixels;
    };
    const Case cases[] = {
        {7938, 96, 300},   // a 300-pixel bitmap as the picture loader reports it
        {3969, 96, 150},   // 150 pixels: 3969 * 96 / 2540 = 150.009
        {2540, 96, 96},    // one inch
        {2540, 120, 120},  // one inch on a large-font screen
        {7938, 120, 375},  // 375.02
        {0, 96, 0},        // nothing
        {1270, 1, 1},      // exactly half a pixel rounds up
        {1269, 1, 0},      // just under half rounds down
        {-1270, 1, -1},    // and a negative half rounds away from zero
        {-1269, 1, 0},     // just under, negative
        {26, 96, 1},       // 0.98
        {13, 96, 0},       // 0.49
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HimetricToPixels(c.himetric, c.ppi), c.pixels)
            << c.himetric << " HIMETRIC at " << c.ppi << " ppi";
    }
}

TEST(HimetricToPixels, ResultBeyond32BitsIsMinusOne) {
    // 2147483647 * 2540 / 2540 fits; twice that does not.
    EXPECT_EQ(HimetricToPixels(2147483647L, 2540), 2147483647L);
    EXPECT_EQ(HimetricToPixels(2147483647L, 5080), -1);
    EXPECT_EQ(HimetricToPixels(-2147483647L, 5080), -1);
}

TEST(LayoutForLogo, SizesCentresAndPlacesThePromptLines) {
    struct Case {
        long pictureWidth, pictureHeight;
        int screenWidth, screenHeight;
        PixelRect window, line1, line2;
    };
    const Case cases[] = {
        // 306 by 182; 182 / 3 = 60.
        {300, 150, 1024, 768, {359, 293, 306, 182}, {0, 60, 306, 25}, {0, 85, 306, 55}},
        {300, 150, 1920, 1080, {807, 449, 306, 182}, {0, 60, 306, 25}, {0, 85, 306, 55}},
        // Odd sizes: every division truncates (307 / 2 = 153, 183 / 2 = 91, 183 / 3 = 61).
        {301, 151, 1280, 1024, {487, 421, 307, 183}, {0, 61, 307, 25}, {0, 86, 307, 55}},
        {301, 151, 1279, 1023, {486, 420, 307, 183}, {0, 61, 307, 25}, {0, 86, 307, 55}},
        // A picture larger than the screen overhangs it on every side.
        {2000, 1000, 1024, 768, {-491, -132, 2006, 1032}, {0, 344, 2006, 25}, {0, 369, 2006, 55}},
        // An empty picture still gets the frame's room.
        {0, 0, 800, 600, {397, 284, 6, 32}, {0, 10, 6, 25}, {0, 35, 6, 55}},
    };
    for (const Case& c : cases) {
        const LogoLayout layout =
            LayoutForLogo(c.pictureWidth, c.pictureHeight, c.screenWidth, c.screenHeight);
        SCOPED_TRACE(testing::Message() << c.pictureWidth << "x" << c.pictureHeight << " on "
                                        << c.screenWidth << "x" << c.screenHeight);
        ExpectRect(layout.window, c.window, "window");
        ExpectRect(layout.line1, c.line1, "line 1");
        ExpectRect(layout.line2, c.line2, "line 2");
    }
}

}  // namespace
}  // namespace quillon
