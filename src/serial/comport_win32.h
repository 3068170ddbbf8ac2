// The terminal's serial port: an overlapped COM port and its monitor thread, COMThread, which
// writes each frame handed over by SendToPort (encoded on the way out) and hands every received
// byte, one at a time, to the reply parser. The process has one ComPort; the acquisition dialog
// opens it for one operation and closes it at the end. Every step is logged through WriteLog.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "serial/port_rules.h"
#include "terminal/frame_codec.h"

namespace quillon {

class ComPort {
  public:
    ComPort();
    virtual ~ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    // Opens "\\.\COM<portNumber>" for overlapped I/O and configures it. Stops a monitor thread
    // still running on this object and closes a port still open first. Returns the port handle,
    // or INVALID_HANDLE_VALUE when the device cannot be opened.
    HANDLE InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                    unsigned stopBits, DWORD commEvents, unsigned writeBufferSize,
                    IFrameSink* sink);
    // Starts COMThread on this object; true when a thread was created.
    bool StartMonitor();
    bool ResumeMonitor();
    bool SuspendMonitor();
    // Hands one plain frame to the monitor thread, which encodes and writes it. Without an open
    // port, or when the frame does not fit the write buffer, the frame is dropped (and logged).
    // One frame at a time: the next may follow once the first has been written.
    void SendToPort(const uint8_t* data, int length);
    // Closes the port and ends the monitor thread, waiting at most about 10 s for it while
    // serving messages sent to this thread's windows (the thread may be handing a reply over).
    void ClosePort();

    DCB GetDCB() const { return dcb; }
    DWORD GetCommEvents() const { return commEvents; }
    DWORD GetWriteBufferSize() const { return writeBufferSize; }

    // Logs the warning for a failed call, with the system's text for GetLastError().
    void ReportError(const char* callName);

    // Write steps the monitor thread has finished (written, or dropped when it could not be):
    // lets a caller make sure a frame has gone out before it closes the port.
    LONG WritesCompleted() const { return writesCompleted; }
    // Set (auto-reset) each time the count above goes up; lives as long as the object.
    HANDLE WriteDoneEvent() const { return writeDoneEvent; }

  protected:
    static DWORD WINAPI COMThread(LPVOID param);
    static DWORD MonitorLoop(ComPort* port);
    static void FlushWrite(ComPort* port);
    static void DrainReceive(ComPort* port, COMSTAT comstat);

    // Ends an outstanding comm-event wait so that nothing completes into `overlap` later.
    void EndPendingWait();
    // Waits (at most 1 s) until the comm-event wait in `overlap` is no longer outstanding.
    void AwaitWaitEnd();
    // Waits (up to the close deadline) for the old monitor thread to end and releases it; false
    // when it still runs.
    bool ReapMonitorThread();
    // No new transfer starts; the comm-event wait and any pending write or read are ended.
    void StopTransfers();
    // Waits for a pending write or read without the lock, until it completes or the port closes
    // (which cancels it); true when it completed, with the byte count in `transferred`.
    bool AwaitTransfer(HANDLE handle, OVERLAPPED* io, DWORD* transferred);
    void Lock();
    void Unlock();
    // ClearCommError under the lock; false when there is no port.
    bool ClearErrors(COMSTAT* comstat);
    void Purge();

    HANDLE monitorThread;
    CRITICAL_SECTION lock;
    BOOL threadAlive;
    HANDLE shutdownEvent;
    HANDLE threadClosedEvent;
    HANDLE portHandle;
    HANDLE writeEvent;
    HANDLE eventArray[3];
    OVERLAPPED overlap;
    COMMTIMEOUTS timeouts;
    DCB dcb;
    DWORD portNumber;
    // Padding is written behind the payload when a full-size frame is encoded in place.
    uint8_t writeBuffer[kWriteBufferSize + 8];
    DWORD commEvents;
    DWORD writeBufferSize;
    DWORD writeLength;

    // `overlap` serves the comm-event wait alone; reads and writes get their own overlapped
    // records and events. A wait is often still outstanding while a frame goes out or a byte is
    // read, and two operations on one record mix up their completions (a read then reports the
    // wait's 4 bytes, or its byte lands after it was handed on).
    OVERLAPPED readOverlap;
    OVERLAPPED writeOverlap;
    // Filled by an overlapped WaitCommEvent and ReadFile after the call returns, so they live
    // in the object rather than on the thread's stack.
    DWORD waitEventMask;
    uint8_t readByte;
    // Whether `lock` is initialised: InitPort initialises it once and ClosePort deletes it once
    // the monitor thread has ended, however often either is called.
    bool lockReady;
    volatile LONG writesCompleted = 0;
    // Set under the lock by a close: the monitor thread starts no wait, read or write after it.
    bool closing = false;
    // A cancelled transfer that never reported its end: its record and event are left to it.
    volatile bool transferStuck = false;
    HANDLE writeDoneEvent;
    // The handle the dialog kept from its last InitPort (emptied again after a failed open).
    // SendToPort falls back on it when the port's own handle is empty; ClosePort empties it when
    // it closes that very handle, so no copy of a closed handle is left behind.
    HANDLE sharedHandle = nullptr;
    // The link lives as long as the port: a link key installed for one command serves the next.
    TerminalLink link;
    // Where complete replies go; emptied by ClosePort before it waits for the monitor thread.
    std::atomic<IFrameSink*> sink{nullptr};
};

}  // namespace quillon
