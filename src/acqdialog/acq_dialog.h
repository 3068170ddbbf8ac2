// CAcqDialog: the modal dialog that carries out one operation with the counter terminal or the
// card reader. This class holds its state and every decision (modes, prompts, timers, replies);
// the window it runs in, and the port it talks through, are behind IDialogWindow and
// ITerminalPort, so the Win32 dialog only adapts it.
#pragma once

#include <cstdint>
#include <string>

#include "acqdialog/dialog_host.h"
#include "foundation/platform.h"
#include "foundation/results.h"
#include "foundation/settings.h"

namespace quillon {

// What a dialog needs from the process: settings, files, the located settings path and the port.
struct DialogEnvironment {
    IProfile& profile;
    IFileSystem& files;
    IniLocator& locator;
    ITerminalPort& port;
};

// Process-wide switches shared by the runners, the dialog and the reply handling.
extern bool g_bShowDialog;       // may the dialog become visible
extern uint32_t g_nSignatureLen;  // length field of the last signature reply
extern uint8_t g_bVerifyFinger;  // MyKad runners: verify the holder's finger (1 at load)

// After the read's time-out has set the cancel event, how long the reader thread still has to
// end before the dialog ends without it (a library call that ignores the event is left behind).
const int kReaderGraceMs = 5000;

class ReaderSession;

class CAcqDialog {
public:
    explicit CAcqDialog(DialogEnvironment& environment);
    virtual ~CAcqDialog();
    CAcqDialog(const CAcqDialog&) = delete;
    CAcqDialog& operator=(const CAcqDialog&) = delete;

    // The runner sets the show switch through the dialog.
    void SetShowDialog(bool show) { g_bShowDialog = show; }

    // ---- Window life (called by the window adapter on the dialog's thread) ----
    void Attach(IDialogWindow* window) { window_ = window; }
    bool OnInitDialog();
    void OnCommand(int id);
    void OnOK();
    // WM_CLOSE or Esc: true when the dialog may end now. While the reader thread runs, only its
    // own close, after it has handed its result over, may end it (the result is taken then).
    bool OnCancel();
    void DestroyWindow();
    void OnTimer(int id);
    // WM_TERMINAL_REPLY: the decoded frame is in g_abRxFrame.
    long OnTerminalReply();
    void InitProgramParam();

    // ---- Terminal command builders ----
    void SendEnroll();
    void SendVerify();
    void SendSetTerminalTime();
    void SendGetLLTStatus();
    void SendGetSN();
    void SendGetSignature();

    // Prompt texts: [MESSAGE] key of this dialog's settings file, at most 99 characters.
    std::string ReadMessage(const char* key, const char* def);
    void SetLine(int id, const std::string& text) const;

    // Read-back accessors used by the runners.
    std::string GetTemplate() const { return m_strTemplate; }
    std::string GetPhoto() const { return m_strPhoto; }
    std::string GetResult2() const { return m_strResult2; }

    bool IsReaderMode() const;
    // True once the reader thread was left behind in the library (its session says so).
    bool ReaderAbandoned() const;
    // A handler failed (an exception): the dialog is ended at once. A reader thread still at work
    // is left behind, as after its grace period; nothing of it reaches the ended call.
    void EndAfterFailure();
    IDialogWindow* Window() const { return window_; }
    DialogEnvironment& Environment() const { return env_; }

    // ---- Members ----
    int m_nCancelCode = 0;
    void* m_hCancelEvent = nullptr;  // owned by the window adapter (named cancel event)
    int m_bThreadRunning = 0;  // the reader thread runs; set and cleared on the dialog's thread
    int m_nRetCode = kResultNotStarted;
    int m_nDeviceType = 0;
    std::string m_strIniPath;
    int m_nEnrollFormat = 2;
    int m_nTemplateFormat = 1;
    char m_szSerialNo[100];
    uint8_t m_abSignature[5000];
    int m_nComPort = 5;
    std::string m_strMode;
    uint8_t m_bFullRecord = 1;
    uint8_t m_abOpenData[600];
    int m_nOpenDataLen = 0;
    int m_nAltDataLen = 0;
    uint8_t m_abAltData[2000];
    std::string m_strPhoto;
    char m_szTerminalTime[20];  // twelve characters used; zeroed as 20 bytes by the runner
    long m_nBaudRate = 115200;
    std::string m_strStatus;
    std::string m_strTemplate;
    std::string m_strVerifyTemplate;
    uint8_t m_bFingerVerified = 0;
    std::string m_strResult2;

private:
    void SendFrame(const uint8_t* frame, int length);
    void HandleResultReply(uint8_t code);
    void HandleTerminalEvent(uint8_t event);
    void ShowEvent(const char* key, const char* def, bool log);
    void StartReader();
    // Takes the reader thread's result once it has been handed over; false while it has not.
    bool TakeReaderResult();

    DialogEnvironment& env_;
    IDialogWindow* window_ = nullptr;
    ReaderSession* reader_ = nullptr;  // the dialog's reference, in the reader modes
};

// Prompt routine handed to the card-reader library: shows the text of a message code in line 2
// of the running reader thread's dialog.
int OnPromptCode(int code);

}  // namespace quillon
