// The terminal port as the acquisition dialog uses it. ComPort implements it; unit tests use
// fakes that record every call.
#pragma once

#include <cstdint>

#include "terminal/frame_codec.h"

namespace quillon {

// IFrameSink (terminal/frame_codec.h): where the port hands each complete reply.

class ITerminalPort {
  public:
    virtual ~ITerminalPort() = default;
    // Opens and configures the port; false when it cannot be opened. Complete replies go to
    // `sink` (on the monitor thread, which waits for it) until the port is closed.
    virtual bool InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                          unsigned stopBits, uint32_t commEvents, unsigned writeBufferSize,
                          IFrameSink* sink) = 0;
    virtual bool StartMonitor() = 0;
    // Hands one plain frame over; it is encoded with the port's link just before it is written.
    // A partly received reply is dropped: the answer to this frame follows.
    virtual void SendToPort(const uint8_t* plainFrame, int length) = 0;
    // Waits until the monitor thread has written the frame handed over last; false on time-out.
    virtual bool WaitForWrite(int milliseconds) = 0;
    // The close in two halves, so that the dialog's window can be torn down while the monitor
    // thread ends: StopPort hands no reply over any more and tells the thread to end;
    // FinishClose waits for its end and closes the handle. A FinishClose with no StopPort before
    // it does nothing.
    virtual void StopPort() = 0;
    virtual void FinishClose() = 0;
    void ClosePort() {
        StopPort();
        FinishClose();
    }
    // The link key for the frames that follow (from a status reply or a MyKad read).
    virtual void InstallLinkKey(const uint8_t key[16]) = 0;
};

}  // namespace quillon
