// Plain frames of the terminal commands: each builder fills a zeroed area from typed arguments
// and returns the frame's length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

const uint8_t CMD_GETLLTSTATUS = 0x23;
const uint8_t CMD_GETSN = 0x25;
const uint8_t CMD_ENROLL = 0x27;
const uint8_t CMD_VERIFY = 0x28;
const uint8_t CMD_SET_TERMINAL_TIME = 0x72;
const uint8_t CMD_GETSIGNATURE = 0xF3;

const int kBuildAreaSize = 1024;
const int kVerifyBuildAreaSize = 2048;
const int kTerminalTimeSize = 12;

// Writes STX, the length field (L = data length + 1), the code, the data, the checksum and ETX
// into `frame` of `capacity` bytes. Returns the frame length L + 5, or 0 if it would not fit.
int BuildFrame(uint8_t* frame, int capacity, uint8_t code, const uint8_t* data, int dataLength);

// A command without data (CMD_GETLLTSTATUS, CMD_GETSN). `frame` has kBuildAreaSize bytes.
int BuildQueryFrame(uint8_t* frame, uint8_t code);
// CMD_ENROLL: the template format byte and twenty zero bytes.
int BuildEnrollFrame(uint8_t* frame, int templateFormat);
// CMD_VERIFY: format, 0x04, three zeros, the template length code, then the template with bytes
// 512 to 597 and 1110 to 1195 sent as spaces. `frame` has kVerifyBuildAreaSize bytes.
int BuildVerifyFrame(uint8_t* frame, int templateFormat, const uint8_t* templ, size_t length);
// CMD_SET_TERMINAL_TIME: 0x01, 0x00 and the twelve characters YYMMDDhhmmss.
int BuildSetTerminalTimeFrame(uint8_t* frame, const char dateTime[kTerminalTimeSize]);
// CMD_GETSIGNATURE: five zero bytes.
int BuildGetSignatureFrame(uint8_t* frame);

}  // namespace quillon
