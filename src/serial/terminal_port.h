// The terminal port as the dialog sees it: replies come in through a frame sink, frames go out
// through the port, which encodes them with its link.
#pragma once

#include <cstdint>

namespace quillon {

class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    // A complete decoded plain frame (STX .. ETX, `length` bytes), valid during the call;
    // called on the monitor thread, which waits until it returns.
    virtual void OnFrame(const uint8_t* frame, int length) = 0;
};

class ITerminalPort {
public:
    virtual ~ITerminalPort() = default;
    virtual bool InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                          unsigned stopBits, uint32_t commEvents, unsigned writeBufferSize,
                          IFrameSink* sink) = 0;  // sink: where complete replies go
    virtual bool StartMonitor() = 0;
    virtual void SendToPort(const uint8_t* plainFrame, int length) = 0;  // encoded with the port's link
    virtual bool WaitForWrite(int milliseconds) = 0;
    virtual void ClosePort() = 0;
    virtual void ForgetSharedHandle() = 0;
    // The link key for the frames that follow (from a status reply or a MyKad read).
    virtual void InstallLinkKey(const uint8_t key[16]) = 0;
};

}  // namespace quillon
