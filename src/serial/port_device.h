// The operating system below the terminal's serial port, as ComPort and its monitor thread
// (PortMonitor) use it: calls that decide nothing. What is logged, which wait error ends the
// thread, when the line is purged, what a transfer that outlives its cancellation means and how
// long a close waits for the thread are decided above, in portable code; the Win32 device makes
// the overlapped calls, and the unit tests script a fake.
//
// The device owns the port's handle, its events, its lock and the transfer block (the records and
// buffers that overlapped calls write into after they return). ComPort decides when each is made
// and freed: Open makes them, Close frees what no thread can still touch. The lock is taken only
// inside these calls, which never log and never call back, so nothing is logged or allocated
// while it is held.
//
// Two threads call in. The dialog's thread makes the first group of calls; the monitor thread,
// from StartThread until its body returns, the second. Stop is the one call that reaches the
// other thread: no new wait or transfer starts after it, the ones in flight end, Next answers
// kShutdown. A thread stuck in a reply hand-over may outlive its close: its handle is then closed
// under it (its calls answer kClosed) but its events and transfer block stay until it has ended.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

class IPortDevice {
  public:
    // Open's configuring calls in their order; the first that fails ends the chain.
    enum class ConfigStep { kTimeouts, kMask, kGetState, kBuildState, kSetState, kNone };
    struct Opened {
        bool opened;
        ConfigStep failed;  // kNone when every step was applied
        uint32_t error;     // the system's code for the failed open or step
    };
    enum class Release { kHandle, kAll, kAllButTransfers };
    enum class WaitStart { kClosed, kCompleted, kFailed };
    // kReceived: the port's event mask holds the received-character event.
    enum class Event { kShutdown, kReceived, kCommEvent, kWrite, kFailed };
    // kFailed: failed at once; kPendingFailed: pending, then failed or cancelled; kStuck: its
    // cancellation never reported an end, so it may still write into its transfer block.
    enum class Transfer { kDone, kClosed, kFailed, kPendingFailed, kStuck };

    virtual ~IPortDevice() = default;

    // ---- The dialog's thread ----
    // Makes the events, the lock and a transfer block, then opens `device` (overlapped, not
    // shared) and configures it: every comm time-out `timeoutMs`, the event mask `commEvents`,
    // RTS on, the `line` settings. After a Close that released everything (or none before).
    virtual Opened Open(const std::string& device, const std::string& line, uint32_t commEvents,
                        uint32_t timeoutMs) = 0;
    // Closes the handle (if open) and frees what `what` names.
    virtual void Close(Release what) = 0;
    // The monitor thread runs body(context), holding the library until it has returned.
    virtual bool StartThread(uint32_t (*body)(void*), void* context) = 0;
    virtual void Stop() = 0;  // see above: it reaches the monitor thread
    // The waits serve messages sent to this thread's windows (the monitor thread may be handing a
    // reply to the dialog). True when no thread is left; an ended one is released.
    virtual bool AwaitThreadEnd(uint64_t deadline) = 0;
    // Until the next EndWriteStep or `deadline`; it may return early.
    virtual void AwaitWriteStep(uint64_t deadline) = 0;
    virtual void SignalWrite() = 0;  // a frame waits to be written
    virtual uint64_t Now() = 0;      // milliseconds

    // ---- The monitor thread (Purge also the dialog's, right after Open) ----
    virtual bool Purge() = 0;  // both sides, abort and clear; false once stopped or closed
    virtual WaitStart StartWait(uint32_t* error) = 0;  // the overlapped comm-event wait
    // Clears the line's error state and reads the receive queue's byte count.
    virtual bool LineStatus(uint32_t* queued) = 0;
    // Waits for shutdown, the comm-event wait (`came`: it completed already) or SignalWrite;
    // each event but shutdown is reset as it is answered. kReceived comes `settleMs` later.
    virtual Event Next(bool came, uint32_t settleMs) = 0;
    // A pending read has the line's error state cleared; it and a pending write are awaited
    // until they end or Stop cancels them.
    virtual Transfer ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) = 0;
    virtual Transfer Write(const uint8_t* data, int length, uint32_t* written, uint32_t* error) = 0;
    virtual void EndWriteStep() = 0;  // wakes AwaitWriteStep
    // Ends an outstanding comm-event wait; false when it did not report its end.
    virtual bool EndWait() = 0;

    virtual std::string SystemText(uint32_t error) = 0;  // the system's text for an error code
};

}  // namespace quillon
