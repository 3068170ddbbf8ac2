#include "acqdialog/picture_win32.h"

#include <cstring>
#include <vector>

#include "acqdialog/logo_layout.h"

namespace quillon {

CPicture::~CPicture() { Free(); }

void CPicture::Free() {
    if (m_pPicture != nullptr) m_pPicture->Release();
    m_pPicture = nullptr;
    m_nHeight = 0;
    m_dwFileSize = 0;
    m_nWidth = 0;
}

BOOL CPicture::Load(const char* path) {
    Free();
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    const DWORD length = GetFileSize(file, nullptr);
    if (length != INVALID_FILE_SIZE && length > 0) {
        std::vector<BYTE> bytes(length);
        DWORD read = 0;
        if (ReadFile(file, bytes.data(), length, &read, nullptr) && read > 0) {
            LoadFromBuffer(bytes.data(), read);
        }
    }
    CloseHandle(file);
    m_dwFileSize = length == INVALID_FILE_SIZE ? 0 : length;
    if (m_pPicture == nullptr) return FALSE;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    m_pPicture->get_Width(&width);
    m_pPicture->get_Height(&height);
    m_nWidth = HimetricToPixels(width, kLogoDefaultPixelsPerInch);
    m_nHeight = HimetricToPixels(height, kLogoDefaultPixelsPerInch);
    return TRUE;
}

BOOL CPicture::LoadFromBuffer(const BYTE* bytes, DWORD length) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, length);
    if (memory == nullptr) return FALSE;
    void* data = GlobalLock(memory);
    if (data == nullptr) {
        GlobalFree(memory);
        return FALSE;
    }
    std::memcpy(data, bytes, length);
    GlobalUnlock(memory);
    // The stream owns the memory from here and frees it when released.
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return FALSE;
    }
    const HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(length), FALSE, IID_IPicture,
                                      reinterpret_cast<void**>(&m_pPicture));
    stream->Release();
    if (FAILED(hr)) m_pPicture = nullptr;
    return hr == E_NOINTERFACE ? FALSE : TRUE;
}

BOOL CPicture::UpdateSizeOnDC(HDC dc) {
    if (m_pPicture == nullptr || dc == nullptr) {
        m_nWidth = 0;
        m_nHeight = 0;
        return FALSE;
    }
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    m_pPicture->get_Width(&width);
    m_pPicture->get_Height(&height);
    int ppiX = kLogoDefaultPixelsPerInch;
    int ppiY = kLogoDefaultPixelsPerInch;
    if (GetDeviceCaps(dc, TECHNOLOGY) != DT_RASPRINTER) {
        ppiX = GetDeviceCaps(dc, LOGPIXELSX);
        ppiY = GetDeviceCaps(dc, LOGPIXELSY);
    }
    m_nWidth = HimetricToPixels(width, ppiX);
    m_nHeight = HimetricToPixels(height, ppiY);
    return TRUE;
}

BOOL CPicture::Draw(HDC dc, int x, int y, int width, int height, int widthFactor,
                    int heightFactor) {
    if (m_pPicture == nullptr || dc == nullptr) return FALSE;
    OLE_XSIZE_HIMETRIC sourceWidth = 0;
    OLE_YSIZE_HIMETRIC sourceHeight = 0;
    m_pPicture->get_Width(&sourceWidth);
    m_pPicture->get_Height(&sourceHeight);
    // HIMETRIC runs bottom-up: start at the bottom edge with a negative height.
    const HRESULT hr = m_pPicture->Render(dc, x, y, width + m_nWidth * widthFactor,
                                          height + m_nHeight * heightFactor, 0, sourceHeight,
                                          sourceWidth, -sourceHeight, nullptr);
    return SUCCEEDED(hr) ? TRUE : FALSE;
}

}  // namespace quillon
