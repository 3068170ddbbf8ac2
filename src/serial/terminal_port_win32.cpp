#include "serial/terminal_port_win32.h"

#include <cstring>

namespace quillon {

bool Win32TerminalPort::InitPort(unsigned number, unsigned baud, char parity, unsigned dataBits,
                                 unsigned stopBits, uint32_t events, unsigned writeSize,
                                 IFrameSink* sink) {
    sink_.store(sink);
    SetReplyTarget(this);
    SharedPortHandle =
        ComPort::InitPort(number, baud, parity, dataBits, stopBits, events, writeSize);
    return SharedPortHandle != INVALID_HANDLE_VALUE;
}

void Win32TerminalPort::ClosePort() {
    ComPort::ClosePort();
    sink_.store(nullptr);
}

void Win32TerminalPort::InstallLinkKey(const uint8_t key[16]) { std::memcpy(LinkKey, key, kKeySize); }

void Win32TerminalPort::OnFrameComplete() {
    IFrameSink* sink = sink_.load();
    // The decoded plain frame: its length field, then checksum and ETX.
    if (sink != nullptr) sink->OnFrame(g_abRxFrame, g_abRxFrame[1] * 256 + g_abRxFrame[2] + 5);
}

void Win32TerminalPort::SendToPort(const uint8_t* frame, int length) {
    // A partly received reply is discarded when a new command goes out.
    g_nRxLen = 0;
    sentAt_ = WritesCompleted();
    ComPort::SendToPort(frame, length);
}

bool Win32TerminalPort::WaitForWrite(int milliseconds) {
    const DWORD start = GetTickCount();
    const HANDLE done = WriteDoneEvent();
    while (WritesCompleted() == sentAt_) {
        const int left = milliseconds - static_cast<int>(GetTickCount() - start);
        if (left <= 0) return false;
        // Wakes as the write finishes, and serves messages sent to this thread meanwhile: the
        // monitor thread may be handing a reply to the dialog.
        if (done != nullptr) {
            MsgWaitForMultipleObjects(1, &done, FALSE, static_cast<DWORD>(left), QS_SENDMESSAGE);
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
        }
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    return true;
}

}  // namespace quillon
