#include "acqdialog/logo_layout.h"

#include <cstdint>

namespace quillon {

long HimetricToPixels(long himetric, int pixelsPerInch) {
    const int64_t divisor = 2540;
    const int64_t product = static_cast<int64_t>(himetric) * pixelsPerInch;
    const int64_t rounded =
        product >= 0 ? (product + divisor / 2) / divisor : (product - divisor / 2) / divisor;
    if (rounded > INT32_MAX || rounded < -INT32_MAX) return -1;
    return static_cast<long>(rounded);
}

LogoLayout LayoutForLogo(long pictureWidth, long pictureHeight, int screenWidth, int screenHeight) {
    const int width = static_cast<int>(pictureWidth) + kLogoExtraWidth;
    const int height = static_cast<int>(pictureHeight) + kLogoExtraHeight;
    const int third = height / 3;
    LogoLayout layout;
    layout.window = {screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, width, height};
    layout.line1 = {0, third, width, kPromptLine1Height};
    layout.line2 = {0, third + kPromptLine1Height, width, kPromptLine2Height};
    return layout;
}

}  // namespace quillon
