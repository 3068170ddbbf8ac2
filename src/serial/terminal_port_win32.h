// ComPort as the dialog's terminal port.
#pragma once

#include "serial/comport_win32.h"
#include "serial/terminal_port.h"

namespace quillon {

class Win32TerminalPort : public ComPort, public ITerminalPort {
public:
    bool InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                  unsigned stopBits, uint32_t commEvents, unsigned writeBufferSize,
                  IFrameSink* sink) override;
    bool StartMonitor() override { return ComPort::StartMonitor(); }
    void SendToPort(const uint8_t* frame, int length) override;
    bool WaitForWrite(int milliseconds) override;
    void ClosePort() override { ComPort::ClosePort(); }
    void ForgetSharedHandle() override { sharedHandle = nullptr; }
    void InstallLinkKey(const uint8_t key[16]) override { link.InstallLinkKey(key); }

private:
    LONG sentAt_ = 0;
};

}  // namespace quillon
