// The reply dispatcher: acts on each decoded frame that the monitor thread hands to the dialog.
#include <cstring>

#include "acqdialog/acq_dialog.h"
#include "foundation/log.h"
#include "terminal/frame_codec.h"
#include "terminal/terminal_commands.h"

namespace quillon {

namespace {

const uint8_t kStatusOk = 0x06;
const uint8_t kReplyEnroll256 = 0x51;
const uint8_t kReplyVerify256 = 0x53;
const uint8_t kReplyEvent = 0x94;

// Bytes of the decoded frame from `position` up to its last data byte (0 when none).
int DataFrom(const uint8_t* frame, int position) {
    const int length = frame[1] * 256 + frame[2];
    const int available = length + 3 - position;
    return available > 0 ? available : 0;
}

int Min(int a, int b) { return a < b ? a : b; }

}  // namespace

long CAcqDialog::OnTerminalReply(const uint8_t* frame, int /*length*/) {
    if (window_ != nullptr) window_->RefreshPromptLines(true, true);
    const uint8_t code = frame[3];
    switch (code) {
        case CMD_GETSN: {
            m_nRetCode = 0;
            std::memset(m_szSerialNo, 0, sizeof m_szSerialNo);
            const int k = Min(Min(frame[5] * 256 + frame[6], DataFrom(frame, 7)),
                              static_cast<int>(sizeof m_szSerialNo) - 1);
            std::memcpy(m_szSerialNo, frame + 7, static_cast<size_t>(k));
            window_->SendClose();
            break;
        }
        case CMD_SET_TERMINAL_TIME:
            m_nRetCode = 0;
            window_->SendClose();
            break;
        case CMD_GETLLTSTATUS: {
            const int k = frame[5];
            const int keyAt = 6 + k + 16;
            if (keyAt + kKeySize <= 3 + DataFrom(frame, 3)) {
                env_.port.InstallLinkKey(frame + keyAt);
            } else {
                WriteLog("LINK KEY MISSING IN STATUS REPLY");
            }
            m_nRetCode = 0;
            const int nameLength = Min(Min(k, DataFrom(frame, 6)), 49);
            m_strResult2.assign(reinterpret_cast<const char*>(frame + 6),
                                static_cast<size_t>(nameLength));
            window_->SendClose();
            break;
        }
        case CMD_GETSIGNATURE: {
            std::memset(m_abSignature, 0, sizeof m_abSignature);
            g_nSignatureLen = 0;
            if (frame[9] == kStatusOk) {
                m_nRetCode = 0;
                const int length = frame[1] * 256 + frame[2];
                g_nSignatureLen = static_cast<uint32_t>(length);
                const int count = Min(Min(length - 7, DataFrom(frame, 10)),
                                      static_cast<int>(sizeof m_abSignature));
                if (count > 0) std::memcpy(m_abSignature, frame + 10, static_cast<size_t>(count));
            } else {
                m_nRetCode = kResultNoResult;
            }
            window_->SendClose();
            break;
        }
        case CMD_ENROLL:
        case CMD_VERIFY:
        case kReplyEnroll256:
        case kReplyVerify256:
            HandleResultReply(frame, code);
            break;
        case kReplyEvent:
            HandleTerminalEvent(frame[6]);
            break;
        default:
            break;
    }
    return 0;
}

void CAcqDialog::HandleResultReply(const uint8_t* frame, uint8_t code) {
    const bool status256 = code == kReplyEnroll256 || code == kReplyVerify256;
    const uint8_t status = frame[status256 ? 9 : 4];
    if (status != kStatusOk) {
        m_strStatus = Format("RECV: Error Code 0x%2x", status);
        WriteLog(m_strStatus);
        m_nRetCode = -3;
        if (code == CMD_VERIFY || code == kReplyVerify256) window_->SendClose();
        return;
    }
    m_strStatus = "OK";
    m_nRetCode = 0;
    if (code == CMD_ENROLL) {
        int size = 512;
        if (m_nEnrollFormat == 2) size = 598;
        if (m_nTemplateFormat == 2) size = 1196;
        m_strTemplate.assign(reinterpret_cast<const char*>(frame + 7),
                             static_cast<size_t>(size));
        window_->SendClose();
    } else if (code == CMD_VERIFY) {
        WriteLog("Close after Verify");
        window_->SendClose();
    } else if (code == kReplyEnroll256) {
        const int size = Min(frame[10] * 256 + frame[11], DataFrom(frame, 12));
        m_strTemplate.assign(reinterpret_cast<const char*>(frame + 12),
                             static_cast<size_t>(size));
        WriteLog(Format("Copy Minutiae = offset 12 Size %d", size));
        window_->SendClose();
    } else {
        WriteLog("Close after end Verify");
        window_->SendClose();
    }
}

void CAcqDialog::ShowEvent(const char* key, const char* def, bool log) {
    const std::string text = ReadMessage(key, def);
    SetLine(kPromptLine2, text);
    if (log) WriteLog(text);
}

void CAcqDialog::HandleTerminalEvent(uint8_t event) {
    const bool enroll = m_strMode == "ENROLL";
    const bool verify = m_strMode == "VERIFY";
    switch (event) {
        case 0xA0:
            if (enroll) {
                ShowEvent("E2",
                          "Please put in your thumb for enrollment\r\nSila letak ibu jari untuk "
                          "imbasan",
                          true);
            } else {
                ShowEvent("V3",
                          "Please put in your thumb for verification\r\nSila letak ibu jari "
                          "untuk pengesahan",
                          true);
            }
            break;
        case 0xA1:
            ShowEvent("E4", "Place your right thumb\r\nSila letak ibu jari kanan", true);
            break;
        case 0xA2:
            ShowEvent("E5", "Place your left thumb\r\nSila letak ibu jari kiri", true);
            break;
        case 0xA3:
            if (verify) {
                ShowEvent("V4", "Finger Verify Success\r\nPengesahan jari berjaya", true);
            } else {
                ShowEvent("M4",
                          "MyKad verification completed successfully\r\nPengesahan MyKad berjaya",
                          false);
                m_nRetCode = -2;
            }
            m_bFingerVerified = 1;
            break;
        case 0xA4:
            if (verify) {
                ShowEvent("V5", "Finger Verify Failed\r\nPengesahan jari gagal", true);
            } else {
                ShowEvent("M5", "MyKad verification failed\r\nPengesahan MyKad gagal", false);
                m_nRetCode = -1;
            }
            m_bFingerVerified = 0;
            break;
        case 0xA5:
            ShowEvent("E3", "Place your thumb again\r\nSila letak ibu jari semula", true);
            break;
        case 0xA6:
            ShowEvent("E9", "Enroll Success", true);
            break;
        case 0xA7:
            ShowEvent("E7", "Enrollment Failed\r\nGagal Pendaftaran Cap Jari", false);
            m_nRetCode = -5;
            window_->SendClose();
            break;
        case 0xB1:
            ShowEvent("M6", "MYKAD Read Success\r\nMyKad berjaya dibaca", false);
            if (m_bFingerVerified == 0) {
                m_nRetCode = -1;
                window_->SendClose();
            }
            break;
        case 0xB2:
            ShowEvent("M7",
                      "MYKAD Read Failed. Please Remove MYKAD\r\nPengesahan MyKad gagal. Sila "
                      "keluarkan MYKAD",
                      false);
            m_nRetCode = -2;
            window_->SendClose();
            break;
        case 0xB3:
            ShowEvent("M8", "Remove MYKAD\r\nKeluarkan MYKAD", true);
            WriteLog(Format("Ret code when Remove MyKAD : %d", m_nRetCode));
            if (m_nRetCode == -1 || m_nRetCode == -2) window_->SendClose();
            break;
        case 0xB4:
            ShowEvent("M9", "MYKAD Removed\r\nMYKAD telah dikeluarkan", false);
            if (m_nRetCode == -1 || m_nRetCode == -2) window_->SendClose();
            break;
        case 0xB5:
            ShowEvent("P10", "Enter PIN", true);
            break;
        case 0xB6:
            ShowEvent("P11", "Re-enter Pin", true);
            break;
        case 0xB7:
            ShowEvent("P12", "Enter Pin Success", true);
            break;
        default:
            break;  // 0xA8 to 0xB0 and codes outside 0xA0 to 0xB7 are ignored
    }
}

}  // namespace quillon
