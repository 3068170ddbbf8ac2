#include "terminal/terminal_commands.h"

#include <cstring>

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

int BuildQueryFrame(uint8_t* frame, uint8_t code) {
    return BuildFrame(frame, kBuildAreaSize, code, nullptr, 0);
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

int BuildSetTerminalTimeFrame(uint8_t* frame, const char dateTime[kTerminalTimeSize]) {
    uint8_t data[2 + kTerminalTimeSize] = {0x01, 0x00};
    std::memcpy(data + 2, dateTime, kTerminalTimeSize);
    return BuildFrame(frame, kBuildAreaSize, CMD_SET_TERMINAL_TIME, data, sizeof data);
}

int BuildGetSignatureFrame(uint8_t* frame) {
    const uint8_t data[5] = {0};
    return BuildFrame(frame, kBuildAreaSize, CMD_GETSIGNATURE, data, sizeof data);
}

}  // namespace quillon
