// Where the dialog goes once a logo is loaded: the window takes the picture's size plus room for
// its frame and caption, is centred on the primary screen, and the two prompt lines sit across
// the picture just below its top third. Also the HIMETRIC-to-pixel conversion of picture sizes.
#pragma once

namespace quillon {

// Left, top, width and height in pixels: screen coordinates for the window, the dialog's client
// coordinates for the prompt lines.
struct PixelRect {
    int left;
    int top;
    int width;
    int height;
};

struct LogoLayout {
    PixelRect window;
    PixelRect line1;
    PixelRect line2;
};

// Room for the window frame and caption around the picture.
const int kLogoExtraWidth = 6;
const int kLogoExtraHeight = 32;
const int kPromptLine1Height = 25;
const int kPromptLine2Height = 55;
// Pixels per inch used for a freshly loaded picture and for printers.
const int kLogoDefaultPixelsPerInch = 96;

// MulDiv(himetric, pixelsPerInch, 2540): rounded to the nearest pixel, halves away from zero;
// -1 when the result does not fit in 32 bits, as the system's MulDiv answers.
long HimetricToPixels(long himetric, int pixelsPerInch);

// The layout for a picture of the given pixel size on a screen of the given size.
LogoLayout LayoutForLogo(long pictureWidth, long pictureHeight, int screenWidth, int screenHeight);

}  // namespace quillon
