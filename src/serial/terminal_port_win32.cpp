#include "serial/terminal_port_win32.h"

namespace quillon {

bool Win32TerminalPort::InitPort(unsigned number, unsigned baud, char parity, unsigned dataBits,
                                 unsigned stopBits, uint32_t events, unsigned writeSize) {
    SharedPortHandle =
        ComPort::InitPort(number, baud, parity, dataBits, stopBits, events, writeSize);
    return SharedPortHandle != INVALID_HANDLE_VALUE;
}

void Win32TerminalPort::SendToPort(const uint8_t* frame, int length) {
    sentAt_ = WritesCompleted();
    ComPort::SendToPort(frame, length);
}

bool Win32TerminalPort::WaitForWrite(int milliseconds) {
    const DWORD start = GetTickCount();
    while (WritesCompleted() == sentAt_) {
        if (static_cast<int>(GetTickCount() - start) >= milliseconds) return false;
        // Serve messages sent to this thread meanwhile: the monitor thread may be handing a
        // reply to the dialog.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    return true;
}

}  // namespace quillon
