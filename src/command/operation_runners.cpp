#include "command/operation_runners.h"

#include <cstring>

#include "foundation/log.h"

namespace quillon {

namespace {
const size_t kTemplateBufferSize = 600;
const size_t kResultTextSize = 50;
const size_t kCardDataSize = 2000;
const size_t kPhotoSize = 4100;
const size_t kSignatureDataLimit = 5000;

size_t Min(size_t a, size_t b) { return a < b ? a : b; }
}  // namespace

int OperationRunners::Port(int port) {
    return port != 0 ? port : FindComPort(env_.locator, registry_, env_.profile);
}

int OperationRunners::StatusQueryFirst(int show, int port) {
    char scratch[kResultTextSize] = {0};
    const int result = GetLLTStatus(show, port, scratch);
    if (result != 0) return result;
    clock_.SleepMs(env_.profile.ReadInt(env_.locator.GetIniPath(), "APDU",
                                        "DELAY_AFTER_FIRSTCALL", 500));
    return 0;
}

int OperationRunners::PerformEnroll(int show, int port, uint8_t* templateOut) {
    WriteLog("Begin PerformEnroll");
    int result = StatusQueryFirst(show, port);
    if (result == 0) {
        CAcqDialog dialog(env_);
        dialog.SetShowDialog(show != 0);
        dialog.m_strMode = "ENROLL";
        dialog.m_nComPort = Port(port);
        modal_.DoModal(dialog);
        result = dialog.m_nRetCode;
        if (result == 0) {
            const std::string templ = dialog.GetTemplate();
            std::memcpy(templateOut, templ.data(), Min(templ.size(), kTemplateBufferSize));
        }
    }
    WriteLog("End PerformEnroll");
    return result;
}

int OperationRunners::Verify(const char* name, int show, int port, int length,
                             const uint8_t* templ, int templateFormat) {
    WriteLog(Format("Begin %s", name));
    int result = StatusQueryFirst(show, port);
    if (result == 0) {
        // Byte 17 of each template must be 2; from 1197 bytes on nothing is tested.
        if (length < 599) {
            if (templ[17] != 2) result = -5;
        } else if (length < 1197) {
            if (templ[17] != 2 || templ[615] != 2) result = -5;
        }
    }
    if (result == 0) {
        CAcqDialog dialog(env_);
        dialog.SetShowDialog(show != 0);
        dialog.m_strMode = "VERIFY";
        dialog.m_nComPort = Port(port);
        dialog.m_strVerifyTemplate.assign(reinterpret_cast<const char*>(templ),
                                          static_cast<size_t>(length > 0 ? length : 0));
        dialog.m_nTemplateFormat = templateFormat;
        modal_.DoModal(dialog);
        result = dialog.m_nRetCode;
    }
    WriteLog(Format("End %s", name));
    return result;
}

int OperationRunners::PerformVerify(int show, int port, int length, const uint8_t* templ) {
    return Verify("PerformVerify", show, port, length, templ, 1);
}

int OperationRunners::PerformVerify2F(int show, int port, int length, const uint8_t* templ) {
    return Verify("PerformVerify2F", show, port, length, templ, 2);
}

int OperationRunners::GetSerialNumber(int show, int port, char* textOut) {
    WriteLog("Begin GetSerialNumber");
    int result = StatusQueryFirst(show, port);
    if (result == 0) {
        CAcqDialog dialog(env_);
        dialog.SetShowDialog(false);
        dialog.m_strMode = "GETSN";
        dialog.m_nComPort = Port(port);
        modal_.DoModal(dialog);
        result = dialog.m_nRetCode;
        if (result == 0) {
            std::memset(textOut, 0, 20);
            // The caller's text holds 49 characters and the terminator.
            const size_t n = Min(std::strlen(dialog.m_szSerialNo), kResultTextSize - 1);
            std::memcpy(textOut, dialog.m_szSerialNo, n);
            textOut[n] = '\0';
        }
    }
    WriteLog("End GetSerialNumber");
    return result;
}

int OperationRunners::GetLLTStatus(int show, int port, char* textOut) {
    (void)show;  // the status query never shows its dialog
    WriteLog("Begin GetLLTStatus");
    CAcqDialog dialog(env_);
    dialog.SetShowDialog(false);
    dialog.m_strMode = "GETLLTSTATUS";
    dialog.m_nComPort = Port(port);
    modal_.DoModal(dialog);
    const int result = dialog.m_nRetCode;
    if (result == 0) {
        const std::string text = dialog.GetResult2();
        std::memcpy(textOut, text.data(), Min(text.size(), kResultTextSize - 1));
    }
    WriteLog("End GetLLTStatus");
    return result;
}

int OperationRunners::SetTerminalTime(int port, int useGiven, const char* dateTime) {
    WriteLog("Begin SetTerminalTime");
    CAcqDialog dialog(env_);
    dialog.SetShowDialog(false);
    dialog.m_strMode = "SET_TERMINAL_TIME";
    dialog.m_nComPort = Port(port);
    std::memset(dialog.m_szTerminalTime, 0, sizeof dialog.m_szTerminalTime);
    if (useGiven == 1) {
        std::memcpy(dialog.m_szTerminalTime, dateTime, Min(std::strlen(dateTime), 12));
    } else {
        const LocalTime now = clock_.Now();
        const std::string full = Format("%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day,
                                        now.hour, now.minute, now.second);
        std::memcpy(dialog.m_szTerminalTime, full.data() + full.size() - 12, 12);
    }
    modal_.DoModal(dialog);
    const int result = dialog.m_nRetCode;
    WriteLog("End SetTerminalTime");
    return result;
}

int OperationRunners::GetSignature(int show, int port, uint8_t* dataOut, uint32_t* countOut) {
    WriteLog("Begin GetSignature");
    CAcqDialog dialog(env_);
    dialog.SetShowDialog(show != 0);
    dialog.m_strMode = "GETSIGNATURE";
    dialog.m_nComPort = Port(port);
    g_nSignatureLen = 0;
    modal_.DoModal(dialog);
    const int result = dialog.m_nRetCode;
    WriteLog(Format("nRet = %d", result));
    if (result == 0) {
        // A success reply carries at least its seven header bytes; a shorter one counts as empty.
        const uint32_t count = g_nSignatureLen > 7 ? g_nSignatureLen - 7 : 0;
        const uint32_t bounded = static_cast<uint32_t>(Min(count, kSignatureDataLimit));
        std::memcpy(dataOut, dialog.m_abSignature, bounded);
        *countOut = bounded;
    }
    WriteLog("End GetSignature");
    return result;
}

int OperationRunners::ReadCard(const char* mode, uint8_t verify, int show, int port,
                               uint8_t* cardOut, uint8_t* photoOut) {
    g_bVerifyFinger = verify;
    const int comPort = Port(port);
    WriteLog(Format("COMPORT : %d", comPort));
    WriteLog(show != 0 ? "Enable ShowDialog" : "Disable ShowDialog");
    CAcqDialog dialog(env_);
    dialog.SetShowDialog(show != 0);
    dialog.m_strMode = mode;
    dialog.m_nComPort = comPort;
    WriteLog("Begin Process");
    modal_.DoModal(dialog);
    WriteLog("End Process");
    const int result = dialog.m_nRetCode;
    WriteLog(Format("Return Code : %d", result));
    if (result != 0) return result;
    if (dialog.m_bFullRecord) {
        WriteLog("MYKAD");
        cardOut[0] = '0';
        const size_t n = Min(static_cast<size_t>(dialog.m_nOpenDataLen > 0 ? dialog.m_nOpenDataLen : 0),
                             Min(sizeof dialog.m_abOpenData, kCardDataSize - 1));
        std::memcpy(cardOut + 1, dialog.m_abOpenData, n);
        if (photoOut != nullptr) {
            const std::string photo = dialog.GetPhoto();
            std::memcpy(photoOut, photo.data(), Min(photo.size(), kPhotoSize));
        }
    } else {
        WriteLog("MYKID");
        cardOut[0] = '1';
        const size_t n = Min(static_cast<size_t>(dialog.m_nAltDataLen > 0 ? dialog.m_nAltDataLen : 0),
                             Min(sizeof dialog.m_abAltData, kCardDataSize - 1));
        std::memcpy(cardOut + 1, dialog.m_abAltData, n);
    }
    return result;
}

int OperationRunners::ReadMyKAD(int show, int port, uint8_t* cardOut, uint8_t* photoOut) {
    return ReadCard("MYKAD", 1, show, port, cardOut, photoOut);
}

int OperationRunners::ReadMyKADData(int show, int port, uint8_t* cardOut) {
    return ReadCard("MYKADONLY", 1, show, port, cardOut, nullptr);
}

int OperationRunners::ReadMyKADNoVerify(int show, int port, uint8_t* cardOut, uint8_t* photoOut) {
    return ReadCard("MYKADNOVERIFY", 0, show, port, cardOut, photoOut);
}

int OperationRunners::ReadMyKADNoVerifyNoPhoto(int show, int port, uint8_t* cardOut) {
    return ReadCard("MYKADNOVERIFYNOPHOTO", 0, show, port, cardOut, nullptr);
}

}  // namespace quillon
