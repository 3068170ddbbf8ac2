// Command builders: each builds its plain frame in a zeroed area, discards any partly received
// reply and hands the frame to the port.
#include "terminal/terminal_commands.h"

#include <cstring>

#include "acqdialog/acq_dialog.h"
#include "terminal/frame_codec.h"

namespace quillon {

int BuildFrame(uint8_t* frame, int capacity, uint8_t code, const uint8_t* data, int dataLength) {
    const int length = dataLength + 1;
    if (dataLength < 0 || length + 5 > capacity || length > 0xFFFF) return 0;
    frame[0] = kStx;
    frame[1] = static_cast<uint8_t>(length >> 8);
    frame[2] = static_cast<uint8_t>(length & 0xFF);
    frame[3] = code;
    if (dataLength > 0) std::memcpy(frame + 4, data, static_cast<size_t>(dataLength));
    frame[length + 3] = ByteSum(frame + 3, length);
    frame[length + 4] = kEtx;
    return length + 5;
}

int BuildEnrollFrame(uint8_t* frame, int templateFormat) {
    uint8_t data[21] = {0};
    data[0] = templateFormat == 2 ? 0xC1 : 0x01;
    return BuildFrame(frame, kBuildAreaSize, CMD_ENROLL, data, sizeof data);
}

int BuildVerifyFrame(uint8_t* frame, int templateFormat, const uint8_t* templ, size_t length) {
    static const size_t kHeader = 7;
    const size_t room = static_cast<size_t>(kVerifyBuildAreaSize) - 5 - 1 - kHeader;
    if (length > room) length = room;
    uint8_t data[kVerifyBuildAreaSize] = {0};
    data[0] = templateFormat == 2 ? 0xC1 : 0x01;
    data[1] = 0x04;
    data[5] = templateFormat == 2 ? 0x04 : 0x02;
    data[6] = templateFormat == 2 ? 0xAC : 0x56;
    for (size_t i = 0; i < length; ++i) {
        const bool blanked = (i >= 512 && i <= 597) || (i >= 1110 && i <= 1195);
        data[kHeader + i] = blanked ? 0x20 : templ[i];
    }
    return BuildFrame(frame, kVerifyBuildAreaSize, CMD_VERIFY, data,
                      static_cast<int>(kHeader + length));
}

int BuildSetTerminalTimeFrame(uint8_t* frame, const char* dateTime) {
    uint8_t data[14] = {0x01, 0x00};
    std::memcpy(data + 2, dateTime, 12);
    return BuildFrame(frame, kBuildAreaSize, CMD_SET_TERMINAL_TIME, data, sizeof data);
}

void CAcqDialog::SendFrame(const uint8_t* frame, int length) {
    env_.port.SendToPort(frame, length);
}

void CAcqDialog::SendEnroll() {
    uint8_t frame[kBuildAreaSize] = {0};
    SendFrame(frame, BuildEnrollFrame(frame, m_nTemplateFormat));
}

void CAcqDialog::SendVerify() {
    uint8_t frame[kVerifyBuildAreaSize] = {0};
    const int length =
        BuildVerifyFrame(frame, m_nTemplateFormat,
                         reinterpret_cast<const uint8_t*>(m_strVerifyTemplate.data()),
                         m_strVerifyTemplate.size());
    SendFrame(frame, length);
}

void CAcqDialog::SendSetTerminalTime() {
    uint8_t frame[kBuildAreaSize] = {0};
    SendFrame(frame, BuildSetTerminalTimeFrame(frame, m_szTerminalTime));
}

void CAcqDialog::SendGetLLTStatus() {
    uint8_t frame[kBuildAreaSize] = {0};
    SendFrame(frame, BuildFrame(frame, sizeof frame, CMD_GETLLTSTATUS, nullptr, 0));
}

void CAcqDialog::SendGetSN() {
    uint8_t frame[kBuildAreaSize] = {0};
    SendFrame(frame, BuildFrame(frame, sizeof frame, CMD_GETSN, nullptr, 0));
}

void CAcqDialog::SendGetSignature() {
    uint8_t frame[kBuildAreaSize] = {0};
    const uint8_t data[5] = {0};
    SendFrame(frame, BuildFrame(frame, sizeof frame, CMD_GETSIGNATURE, data, sizeof data));
}

}  // namespace quillon
