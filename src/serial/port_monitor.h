// The serial port's monitor thread and its hand-over from the dialog, as decisions over a small
// interface to the operating system: when to drain the receive queue and how much of it, the
// purge before every write, which wait errors end the thread, what a failed read hands on, and
// which frames are taken for writing. The Win32 port implements IMonitorIo with overlapped calls;
// unit tests drive the same decisions with a fake.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "serial/port_rules.h"
#include "terminal/frame_codec.h"

namespace quillon {

// Exit code of a monitor thread ended by an unexpected comm-event wait error.
const uint32_t kFatalWaitExitCode = 100;

class IMonitorIo {
  public:
    enum class WaitStart { kNoPort, kCompleted, kFailed };
    enum class Event { kShutdown, kCommEvent, kWrite, kOther };
    // kFailed: the call failed at once; kPendingFailed: it was pending and did not complete;
    // kStuck: as kPendingFailed, but the cancelled transfer never reported its end.
    enum class Transfer { kDone, kNoPort, kFailed, kPendingFailed, kStuck };

    virtual ~IMonitorIo() = default;
    // The port's handle is there (it is emptied by a close).
    virtual bool HasPort() = 0;
    // The thread's start: alive from here, and the port purged (both sides).
    virtual void BeginThread() = 0;
    // Starts an overlapped comm-event wait under the lock; kNoPort once the port closes.
    virtual WaitStart StartCommWait(uint32_t* error) = 0;
    // Clears the line's error state under the lock and reads the receive queue's byte count;
    // false without a port.
    virtual bool ClearErrors(uint32_t* queued) = 0;
    // A wait that completed at once: let the event wait below see it as a comm event.
    virtual void SignalCommEvent() = 0;
    // Waits without a time limit for shutdown, a comm event (its event is reset) or a frame to
    // write.
    virtual Event WaitForEvent() = 0;
    // The port's event mask holds the received-character event.
    virtual bool ReceivedCharacter() = 0;
    virtual void Pause(int milliseconds) = 0;
    // Reads one byte; kDone with `got` 0 or 1.
    virtual Transfer ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) = 0;
    // Resets the write event, then under the lock purges both sides: false when the port is
    // closing or gone.
    virtual bool PurgeForWrite() = 0;
    virtual Transfer Write(const uint8_t* data, int length, uint32_t* written, uint32_t* error) = 0;
    // One write step is over (written or dropped): counted for a caller waiting on it.
    virtual void WriteStepDone() = 0;
    // Leaves no comm-event wait outstanding on the handle.
    virtual void EndPendingWait() = 0;
    // The thread is no longer alive; its end is signalled to a close waiting for it.
    virtual void EndThread() = 0;
    // The system's text for an error code.
    virtual std::string SystemText(uint32_t error) = 0;

    // ---- the dialog's side of the hand-over ----
    // Takes over the handle kept from the last open when the port's own is empty; true if it did.
    virtual bool AdoptKeptHandle() = 0;
    virtual void SignalWrite() = 0;
};

class PortMonitor {
  public:
    PortMonitor(IMonitorIo& io, TerminalLink& link) : io_(io), link_(link) {}
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

    // Logs the warning for a failed call, with the system's text for `error` and the port number.
    void ReportError(const char* callName, uint32_t error);
    void SetPortNumber(unsigned portNumber) { portNumber_ = portNumber; }

  private:
    void DrainReceive(uint32_t queued);
    void FlushWrite();

    IMonitorIo& io_;
    TerminalLink& link_;
    std::atomic<IFrameSink*> sink_{nullptr};
    // Padding is written behind the payload when a full-size frame is encoded in place.
    uint8_t writeBuffer_[kWriteBufferSize + 8] = {};
    int writeLength_ = 0;
    unsigned portNumber_ = 0;
};

}  // namespace quillon
