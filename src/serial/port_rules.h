// The serial port's decisions that do not need the operating system: the texts it opens and
// configures the port with, the warning it logs for a failed call, what the monitor thread does
// after a failed comm-event wait, and which frames fit the port's write buffer.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// The system error codes the monitor thread tells apart.
const uint32_t kErrorInvalidHandle = 6;
const uint32_t kErrorInvalidParameter = 87;
const uint32_t kErrorIoPending = 997;

// Room for one plain frame waiting to be written.
const int kWriteBufferSize = 2048;
// Every comm time-out of an open port, and the longest ClosePort waits for the monitor thread.
const uint32_t kPortTimeoutMs = 10000;
const uint32_t kThreadCloseWaitMs = 10000;
// After a received-character event the monitor thread lets the burst arrive before it drains.
const uint32_t kSettleMs = 2;
// How long a cancelled wait, read or write may take to report its end. One that takes longer
// may still complete at any time: its transfer block is left to it for good.
const uint32_t kCancelLandsMs = 1000;

// "\\.\COM%d": the device path that reaches every port number, also those above 9.
std::string ComDeviceName(unsigned portNumber);

// "baud=%d parity=%c data=%d stop=%d", the line-settings string the port is configured from.
std::string LineSettings(unsigned baud, char parity, unsigned dataBits, unsigned stopBits);

// The warning logged when a port call fails: call name, the system's text for the error (which
// usually ends in a line break of its own) and the port number.
std::string PortWarning(const char* callName, const std::string& systemText, unsigned portNumber);

// What the monitor thread does when starting a comm-event wait did not complete at once.
enum class WaitFailure {
    EndThread,       // the handle is gone: end normally
    RetryOnPending,  // a wait is already outstanding: go on waiting for it
    Pending,         // the wait is running: go on waiting for it
    Fatal,           // anything else: report, signal the close and end at once
};
WaitFailure ClassifyWaitFailure(uint32_t lastError);

// A frame the port can take: at least one byte, at most the write buffer.
bool FitsWriteBuffer(int length);

}  // namespace quillon
