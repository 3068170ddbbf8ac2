#include "cardreader/mykad_reader_win32.h"

#include <cstring>

#include "acqdialog/acq_dialog.h"
#include "cardreader/mykad_reader.h"
#include "command/entry_win32.h"

namespace quillon {

namespace {

// The dialog as the reader thread sees it: members directly, prompt lines through the window.
class ReaderDialog : public IMyKadDialog {
public:
    explicit ReaderDialog(CAcqDialog& dialog) : dialog_(dialog) {}
    int ComPort() override { return dialog_.m_nComPort; }
    std::string Mode() override { return dialog_.m_strMode; }
    std::string SettingsPath() override { return dialog_.m_strIniPath; }
    int CancelCode() override { return dialog_.m_nCancelCode; }
    void RefreshPromptLines() override {
        if (dialog_.Window() != nullptr) dialog_.Window()->RefreshPromptLines(true, true);
    }
    void SetPromptLine(int line, const std::string& text) override {
        dialog_.SetLine(line == 1 ? kPromptLine1 : kPromptLine2, text);
    }
    void SetThreadRunning(bool running) override { dialog_.m_bThreadRunning = running ? 1 : 0; }
    void SetRetCode(int code) override { dialog_.m_nRetCode = code; }
    void SetFullRecord(bool full) override { dialog_.m_bFullRecord = full ? 1 : 0; }
    void SetOpenData(const uint8_t* bytes, int length) override {
        const int n = length < kOpenDataMax ? (length > 0 ? length : 0) : kOpenDataMax;
        std::memcpy(dialog_.m_abOpenData, bytes, static_cast<size_t>(n));
        dialog_.m_abOpenData[n] = 0;
        dialog_.m_nOpenDataLen = n;
    }
    void SetAltData(const uint8_t* bytes, int length) override {
        const int n = length < kAltDataSize ? (length > 0 ? length : 0) : kAltDataSize;
        std::memcpy(dialog_.m_abAltData, bytes, static_cast<size_t>(n));
        dialog_.m_nAltDataLen = n;
    }
    void SetPhoto(const uint8_t* bytes, size_t length) override {
        dialog_.m_strPhoto.assign(reinterpret_cast<const char*>(bytes), length);
    }
    void Close() override {
        if (dialog_.Window() != nullptr) dialog_.Window()->SendClose();
    }

private:
    CAcqDialog& dialog_;
};

}  // namespace

DWORD WINAPI MyKadReaderThread(LPVOID param) {
    CAcqDialog& dialog = *static_cast<CAcqDialog*>(param);
    Win32Services& services = Services();
    ReaderDialog reader(dialog);
    MyKadReaderParts parts{services.CardReader(), reader,     services.profile,
                           services.clock,        OnPromptCode, &g_bVerifyFinger};
    RunMyKadReader(parts);
    return 0;
}

}  // namespace quillon
