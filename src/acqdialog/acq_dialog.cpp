#include "acqdialog/acq_dialog.h"

#include <cstring>

#include "acqdialog/reader_session.h"
#include "command/fields.h"
#include "foundation/log.h"
#include "terminal/frame_codec.h"

namespace quillon {

bool g_bShowDialog = false;
uint32_t g_nSignatureLen = 0;
uint8_t g_bVerifyFinger = 1;

static_assert(sizeof(ReaderResult::openData) == sizeof(CAcqDialog::m_abOpenData),
              "the reader's record buffer is the dialog's");
static_assert(sizeof(ReaderResult::altData) == sizeof(CAcqDialog::m_abAltData),
              "the reader's MyKid buffer is the dialog's");
static_assert(kReaderKeySize == kKeySize, "the reader hands out a link key");

namespace {
const size_t kMessageCapacity = 100;
const size_t kSettingTextCapacity = 51;
}  // namespace

CAcqDialog::CAcqDialog(DialogEnvironment& environment) : env_(environment) {
    std::memset(m_szSerialNo, 0, sizeof m_szSerialNo);
    std::memset(m_abSignature, 0, sizeof m_abSignature);
    std::memset(m_abOpenData, 0, sizeof m_abOpenData);
    std::memset(m_abAltData, 0, sizeof m_abAltData);
    std::memset(m_szTerminalTime, 0, sizeof m_szTerminalTime);
    // Two steps only: the dialog never looks in SysWow64.
    const std::string local = std::string(".\\") + kIniFileName;
    if (env_.files.CanOpenForRead(local)) {
        m_strIniPath = local;
    } else {
        m_strIniPath = env_.files.WindowsDirectory(200) + "\\System32\\" + kIniFileName;
    }
    WriteLog("CAcqDialog: Constructor");
}

CAcqDialog::~CAcqDialog() {
    if (reader_ != nullptr) reader_->Release();
}

void CAcqDialog::EndAfterFailure() {
    if (reader_ != nullptr) reader_->Abandon();
    m_bThreadRunning = 0;
    m_nRetCode = kResultInternalError;
}

bool CAcqDialog::ReaderAbandoned() const { return reader_ != nullptr && reader_->Abandoned(); }

bool CAcqDialog::IsReaderMode() const {
    return m_strMode == "MYKAD" || m_strMode == "MYKADONLY" || m_strMode == "MYKADNOVERIFY" ||
           m_strMode == "MYKADNOVERIFYNOPHOTO";
}

std::string CAcqDialog::ReadMessage(const char* key, const char* def) {
    return env_.profile.ReadString(m_strIniPath, "MESSAGE", key, def, kMessageCapacity);
}

void CAcqDialog::SetLine(int id, const std::string& text) const {
    if (window_ != nullptr) window_->SetItemText(id, text);
}

bool CAcqDialog::OnInitDialog() {
    env_.locator.GetIniPath();
    WriteLog("Begin Dialog");
    m_nCancelCode = 0;
    window_->ShowItem(kProgressBar, false);
    IProfile& profile = env_.profile;

    if (!IsReaderMode()) {
        const std::string baud =
            profile.ReadString(m_strIniPath, "COMPORT", "BAUDRATE", "115200", kSettingTextCapacity);
        m_nBaudRate = ParseInt(baud.c_str());
        WriteLog(Format("Before Calling Init Port (COM%d, %ld)", m_nComPort, m_nBaudRate));
        const bool opened = env_.port.InitPort(static_cast<unsigned>(m_nComPort),
                                               static_cast<unsigned>(m_nBaudRate), 'N', 8, 1,
                                               kCommEventsRxCharCts, 1024, window_->ReplySink());
        m_nDeviceType = profile.ReadInt(m_strIniPath, "DEVICE", "TYPE", 1);
        const int global = profile.ReadInt(m_strIniPath, "MYKAD", "GLOBTIMEOUT", 60000);
        window_->StartTimer(kTimerGlobal, global);
        const int step = profile.ReadInt(m_strIniPath, "MYKAD", "TIMEOUT", 5000);
        WriteLog(Format("GLOBTIMEOUT = [%d] TIMEOUT = [%d] DEVICE TYPE = [%d]", global, step,
                        m_nDeviceType));
        WriteLog(Format("GT=%d T=%d type=%d INI=%s", global, step, m_nDeviceType,
                        m_strIniPath.c_str()));
        window_->StartTimer(kTimerStep, step);
        if (!opened || !env_.port.StartMonitor()) {
            env_.port.ClosePort();
            env_.port.ForgetSharedHandle();
            window_->StopTimer(kTimerGlobal);
            window_->StopTimer(kTimerStep);
            m_strStatus = "Open COM Port Error";
            m_nRetCode = kResultOpenPortFailed;
            window_->SendClose();
            return false;
        }
        m_nRetCode = kResultNoResult;
        m_bFingerVerified = 0;
    } else {
        window_->InitSocketLayer();
        const int global = profile.ReadInt(m_strIniPath, "CSSSERVER", "GLOBTIMEOUT", 60000);
        window_->StartTimer(kTimerReader, global);
        window_->RefreshPromptLines(false, true);
        WriteLog(Format("CSSSERVER GLOBTIMEOUT = [%d]", global));
    }

    const int size = profile.ReadInt(m_strIniPath, "FONT", "SIZE", 14);
    const std::string face =
        profile.ReadString(m_strIniPath, "FONT", "FACE", "Verdana", kSettingTextCapacity);
    window_->ApplyFont(size, face);

    if (profile.ReadInt(m_strIniPath, "MISC", "CANCEL", 0) != 0) {
        const std::string text =
            profile.ReadString(m_strIniPath, "MISC", "CANCEL_TEXT", "Cancel", kSettingTextCapacity);
        window_->ShowItem(kButtonCancel, true);
        window_->SetItemText(kButtonCancel, text);
    } else {
        window_->ShowItem(kButtonCancel, false);
    }

    WriteLog("Begin Lode Dialog Image File");
    window_->LoadDialogImage(
        profile.ReadString(m_strIniPath, "IMAGE", "LOC", "C:\\WINDOWS\\system32\\mylogo.jpg", 100));
    WriteLog("End Lode Dialog Image File");

    InitProgramParam();
    WriteLog("CAcqDialog: Initdialog end");
    return true;
}

void CAcqDialog::OnCommand(int id) {
    if (id == kButtonEnroll) {
        SendEnroll();
    } else if (id == kButtonVerify) {
        SendVerify();
    } else if (id == kButtonCancel) {
        OnOK();
    }
}

void CAcqDialog::OnOK() {
    m_nCancelCode = -9;
    window_->EnableItem(kButtonCancel, false);
    window_->SignalCancel();
    if (reader_ != nullptr) reader_->Cancel(m_nCancelCode);
    if (m_bThreadRunning) WriteLog("CLOSE CALLED WITHOUT THREAD END");
}

bool CAcqDialog::OnCancel() {
    if (m_bThreadRunning && !TakeReaderResult()) {
        WriteLog("CLOSE CALLED WITHOUT THREAD END");
        return false;
    }
    WriteLog(Format("Return CODE : %d  -  CANCEL CODE : %d", m_nRetCode, m_nCancelCode));
    return true;
}

bool CAcqDialog::TakeReaderResult() {
    if (reader_ == nullptr || !reader_->HandedOver()) return false;
    const ReaderResult& r = reader_->Result();
    m_nRetCode = r.retCode;
    if (r.fullRecordSet) m_bFullRecord = r.fullRecord;
    if (r.openDataSet) {
        std::memcpy(m_abOpenData, r.openData, sizeof m_abOpenData);
        m_nOpenDataLen = r.openDataLength;
    }
    if (r.altDataSet) {
        std::memcpy(m_abAltData, r.altData, sizeof m_abAltData);
        m_nAltDataLen = r.altDataLength;
    }
    if (r.photoSet) m_strPhoto = r.photo;
    // Installed here, on the caller's thread, so that a thread left behind can never change the
    // key under a later terminal command.
    if (r.linkKeySet) env_.port.InstallLinkKey(r.linkKey);
    m_bThreadRunning = 0;
    return true;
}

void CAcqDialog::DestroyWindow() {
    window_->StopTimer(kTimerGlobal);
    window_->StopTimer(kTimerStep);
    WriteLog("Destroy Windows");
    env_.port.ClosePort();
}

void CAcqDialog::OnTimer(int id) {
    if (id == kTimerReader) {
        window_->StopTimer(kTimerReader);
        // A read that has handed its result over has finished: its close is on its way and its
        // result stands.
        if (reader_ != nullptr && reader_->HandedOver()) return;
        m_nRetCode = kResultTimeout;
        WriteLog("Timeout");
        // The close is refused while the reader thread runs, and a library call waiting for a
        // card returns only when the cancel event is set: without it a card wait longer than
        // the time-out would hold the host's call for as long as the library likes. A call that
        // ignores the event gets the grace period, then is left behind.
        window_->SignalCancel();
        if (m_bThreadRunning) window_->StartTimer(kTimerReaderGrace, kReaderGraceMs);
        window_->SendClose();
    } else if (id == kTimerReaderGrace) {
        window_->StopTimer(kTimerReaderGrace);
        // Handed over meanwhile: its close comes next, with its result.
        if (reader_ == nullptr || !reader_->Abandon()) return;
        m_bThreadRunning = 0;
        WriteLog("READER THREAD ABANDONED");
        window_->SendClose();
    } else if (id == kTimerGlobal || id == kTimerStep) {
        window_->RefreshPromptLines(false, true);
        window_->StopTimer(id);
        SetLine(kPromptLine2, "Timeout");
        WriteLog("Timeout");
        window_->Wait(1000);
        m_nRetCode = kResultTimeout;
        window_->SendClose();
    }
}

}  // namespace quillon
