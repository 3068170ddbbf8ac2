// ComPort as the dialog's terminal port.
#pragma once

#include <atomic>

#include "serial/comport_win32.h"
#include "serial/terminal_port.h"
#include "terminal/frame_codec.h"

namespace quillon {

class Win32TerminalPort : public ComPort, public ITerminalPort, private IReplyTarget {
public:
    bool InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                  unsigned stopBits, uint32_t commEvents, unsigned writeBufferSize,
                  IFrameSink* sink) override;
    bool StartMonitor() override { return ComPort::StartMonitor(); }
    void SendToPort(const uint8_t* frame, int length) override;
    bool WaitForWrite(int milliseconds) override;
    void ClosePort() override;
    void ForgetSharedHandle() override { SharedPortHandle = nullptr; }
    void InstallLinkKey(const uint8_t key[16]) override;

private:
    // The reply parser's complete frame, on to the sink of the port's current user.
    void OnFrameComplete() override;
    LONG sentAt_ = 0;
    std::atomic<IFrameSink*> sink_{nullptr};
};

}  // namespace quillon
