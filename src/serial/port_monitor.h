// The serial port's monitor thread and its hand-over from the dialog, as decisions over the port
// device (serial/port_device.h): when to drain the receive queue and how much of it, the purge
// before every write, which wait errors end the thread, what a failed or stuck transfer leads to,
// and which frames are taken for writing.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "serial/port_device.h"
#include "serial/port_rules.h"
#include "terminal/frame_codec.h"

namespace quillon {

// Exit code of a monitor thread ended by an unexpected comm-event wait error (or an exception).
const uint32_t kFatalWaitExitCode = 100;

class PortMonitor {
  public:
    PortMonitor(IPortDevice& io, TerminalLink& link) : io_(io), link_(link) {}
    PortMonitor(const PortMonitor&) = delete;
    PortMonitor& operator=(const PortMonitor&) = delete;

    // The monitor thread, from its start to its end; returns its exit code.
    uint32_t Run();
    // Where complete replies go from now on (null: they are dropped). Any thread may call it.
    void SetSink(IFrameSink* sink) { sink_ = sink; }

    // On the dialog's thread: drops a partly received reply and hands one plain frame to the
    // thread. Without a port, or when the frame does not fit the write buffer, it is dropped
    // (and logged). One frame at a time: the next may follow once the first has been written.
    void HandOver(const uint8_t* frame, int length);
    // Write steps over so far (written, or dropped when they could not be).
    int32_t WriteSteps() const { return writeSteps_; }

    // Logs the warning for a failed call, with the system's text for `error` and the port number.
    void ReportError(const char* callName, uint32_t error);
    void SetPortNumber(unsigned portNumber) { portNumber_ = portNumber; }
    // Whether the port's handle is open: set by the dialog's thread, read by both.
    void SetPortOpen(bool open) { open_ = open; }
    bool PortOpen() const { return open_; }
    // A transfer of this thread outlived its cancellation: the transfer block is its own for
    // good. Read once the thread has ended; a new transfer block starts clear.
    bool TransfersAbandoned() const { return abandoned_; }
    void ClearAbandoned() { abandoned_ = false; }

  private:
    uint32_t Watch();
    void DrainReceive(uint32_t queued);
    void FlushWrite();
    void EndWait();

    IPortDevice& io_;
    TerminalLink& link_;
    std::atomic<IFrameSink*> sink_{nullptr};
    std::atomic<bool> open_{false};
    std::atomic<bool> abandoned_{false};
    std::atomic<int32_t> writeSteps_{0};
    // Padding is written behind the payload when a full-size frame is encoded in place.
    uint8_t writeBuffer_[kWriteBufferSize + 8] = {};
    int writeLength_ = 0;
    unsigned portNumber_ = 0;
};

}  // namespace quillon
