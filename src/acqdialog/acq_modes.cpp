// The per-mode set-up: title, prompt lines and the first step of each operation.
#include <cstring>

#include "acqdialog/acq_dialog.h"
#include "acqdialog/reader_session.h"
#include "command/dispatch.h"
#include "foundation/log.h"

namespace quillon {

void CAcqDialog::InitProgramParam() {
    WriteLog("Begin Init Program Param");
    IDialogWindow& window = *window_;
    auto line = [this](int id, const char* key, const char* def) {
        const std::string text = ReadMessage(key, def);
        SetLine(id, text);
        WriteLog(text);
    };
    if (m_strMode == "ENROLL") {
        window.SetTitle("ENROLLMENT");
        line(kPromptLine1, "E1", "Performing ENROLLMENT...");
        window.PostCommand(kButtonEnroll);
    } else if (m_strMode == "VERIFY") {
        window.SetTitle("VERIFY");
        line(kPromptLine1, "V1", "Performing VERIFICATION...");
        line(kPromptLine2, "V2", "Place Finger\r\nLetak jari");
        window.PostCommand(kButtonVerify);
    } else if (m_strMode == "SET_TERMINAL_TIME") {
        SendSetTerminalTime();
        // The reply is not awaited, but the frame must be on the line before the port closes.
        env_.port.WaitForWrite(2000);
        m_nRetCode = 0;
        window.SendClose();
    } else if (IsReaderMode()) {
        window.SetTitle("MYKAD");
        StartReader();
    } else if (m_strMode == "GETLLTSTATUS") {
        SendGetLLTStatus();
    } else if (m_strMode == "GETSN") {
        SendGetSN();
    } else if (m_strMode == "GETSIGNATURE") {
        window.SetTitle("SIGNATURE");
        line(kPromptLine1, "S1", "Signature");
        line(kPromptLine2, "S2", "Place Sign on the Screen");
        std::memset(m_abSignature, 0, sizeof m_abSignature);
        g_nSignatureLen = 0;
        SendGetSignature();
    }
    WriteLog("End Init Program Param");
}

void CAcqDialog::StartReader() {
    if (ReaderSession::Live() > 0) {
        // A thread of an earlier call is still inside the card-reader library, which must not
        // be entered twice at once; the host may ask again once that call has come back.
        WriteLog("READER STILL BUSY");
        m_nRetCode = kResultBusy;
        window_->SendClose();
        return;
    }
    reader_ = ReaderSession::Create(
        env_.profile, ReaderInputs{m_nComPort, m_strMode, m_strIniPath, g_bVerifyFinger});
    // Running from before the start: a time-out or close in the moment before the thread's
    // first step must already find it running.
    m_bThreadRunning = 1;
    if (!window_->StartReaderThread(*reader_)) {
        m_bThreadRunning = 0;
        WriteLog("READER THREAD NOT STARTED");
    }
}

}  // namespace quillon
