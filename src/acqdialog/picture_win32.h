// CPicture: a picture file decoded by the system's OLE picture service and drawn into a device
// context at its size in that device's pixels. The acquisition dialog keeps its logo in one.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

namespace quillon {

class CPicture {
  public:
    CPicture() = default;
    virtual ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    // Reads the whole file and decodes it; nonzero when a picture was made. The sizes are then
    // in pixels at 96 per inch.
    BOOL Load(const char* path);
    // Decodes a picture from memory; nonzero unless the loader refused the interface.
    BOOL LoadFromBuffer(const BYTE* bytes, DWORD length);
    // Recomputes the sizes for the device's pixels per inch (96 for a printer); zero, with both
    // sizes zero, when there is no picture or no device.
    BOOL UpdateSizeOnDC(HDC dc);
    // Draws the whole picture into (x, y, width + m_nWidth * widthFactor,
    // height + m_nHeight * heightFactor); zero when there is nothing to draw or drawing fails.
    BOOL Draw(HDC dc, int x, int y, int width, int height, int widthFactor, int heightFactor);

    IPicture* m_pPicture = nullptr;
    LONG m_nHeight = 0;
    DWORD m_dwFileSize = 0;
    LONG m_nWidth = 0;

  private:
    void Free();
};

}  // namespace quillon
