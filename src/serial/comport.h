// ComPort: the terminal's serial port. It opens a COM port for overlapped I/O, runs one monitor
// thread (PortMonitor) that writes each frame handed over by SendToPort, encoded on the way out,
// and hands every received byte, one at a time, to the link's reply parser. The process has one
// ComPort; the acquisition dialog opens it for one operation and closes it at the end. Every step
// is logged through WriteLog. The operating system is reached through IPortDevice.
#pragma once

#include <cstdint>
#include <string>

#include "serial/port_monitor.h"
#include "serial/terminal_port.h"
#include "terminal/frame_codec.h"

namespace quillon {

// The operating system below one serial port: the monitor thread's calls, and the opening,
// configuring and closing the dialog's thread does.
class IPortDevice : public IMonitorIo {
  public:
    enum class ConfigStep { kTimeouts, kMask, kGetState, kBuildState, kSetState };

    // A monitor thread is alive or not yet released.
    virtual bool MonitorPresent() = 0;
    // Closes the events that exist and makes all of them anew. Returns a bit for each that
    // existed: 1 read, 2 write, 4 shutdown, 8 thread closed.
    virtual unsigned ReplaceEvents() = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    // Closes the port's handle (and forgets a kept copy of that handle).
    virtual void CloseHandle() = 0;
    // Opens the device for overlapped reading and writing; the handle is also kept for
    // AdoptKeptHandle. False (LastError tells why) when it cannot be opened.
    virtual bool Open(const std::string& device) = 0;
    virtual uint32_t LastError() = 0;
    virtual bool Configure(ConfigStep step, uint32_t value, const std::string& line) = 0;
    virtual void Purge() = 0;
    // A thread that has not ended yet; a finished one is released.
    virtual bool ThreadRunning() = 0;
    virtual bool StartThread(uint32_t (*body)(void*), void* context) = 0;
    // No new transfer starts; the comm-event wait and any pending write or read are ended.
    virtual void StopTransfers() = 0;
    virtual void SignalShutdown() = 0;
    virtual uint64_t Now() = 0;
    // Both wait until `deadline` (Now() time), serving messages sent to this thread's windows.
    virtual void WaitThreadClosed(uint64_t deadline) = 0;
    // True when no thread is left (the ended one is released, and is no longer alive).
    virtual bool WaitThreadEnd(uint64_t deadline) = 0;
    // The thread has ended: its events and the lock go. A transfer of it that ignored its
    // cancellation keeps its own record, buffer and event.
    virtual void ReleaseEvents() = 0;
    virtual void ForgetKeptHandle() = 0;
    // Write steps the monitor thread has finished (written, or dropped when it could not be).
    virtual int32_t WritesCompleted() = 0;
    // Waits at most `milliseconds` for the next write step, serving messages sent to this
    // thread's windows meanwhile (the monitor thread may be handing a reply to the dialog).
    virtual void AwaitWriteStep(uint32_t milliseconds) = 0;
};

class ComPort : public ITerminalPort {
  public:
    explicit ComPort(IPortDevice& device) : device_(device), monitor_(device, link_) {}
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    // Opens "\\.\COM<portNumber>" and configures it. Stops a monitor thread still running on
    // this object and closes a port still open first. False when the device cannot be opened.
    bool InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                  unsigned stopBits, uint32_t commEvents, unsigned writeBufferSize,
                  IFrameSink* sink) override;
    bool StartMonitor() override;
    void SendToPort(const uint8_t* plainFrame, int length) override;
    bool WaitForWrite(int milliseconds) override;
    // Closes the port and ends the monitor thread, waiting at most about 10 s for it while
    // serving messages sent to this thread's windows (the thread may be handing a reply over).
    // A thread that has already had those 10 s is not waited for again.
    void ClosePort() override;
    void ForgetSharedHandle() override { device_.ForgetKeptHandle(); }
    void InstallLinkKey(const uint8_t key[16]) override { link_.InstallLinkKey(key); }

  private:
    static uint32_t MonitorThread(void* port);
    // The call name of the first configuring call that failed (its error in `error`), or null.
    const char* Configure(const std::string& line, uint32_t* error);
    // Waits for the monitor thread's end until `deadline`, or only looks when the thread has
    // already had its close deadline. True when no thread is left.
    bool MonitorEnded(uint64_t deadline);

    IPortDevice& device_;
    // The link lives as long as the port: a link key installed for one command serves the next.
    TerminalLink link_;
    PortMonitor monitor_;
    uint32_t commEvents_ = 0;
    int32_t sentAt_ = 0;
    // The monitor thread present has outlived a close deadline. One stuck thread costs one
    // deadline: no later close or open waits for it again (the dialog's close after a failed
    // open, the close at its end, the next dialogs' opens); they only look whether it has ended,
    // and the port stays shut until it has. So a dialog pays the deadline at most once, for its
    // own thread or for one whose close never came. Cleared once the thread is seen to end; only
    // then can a new thread, with a deadline of its own, start.
    bool overdue_ = false;
};

}  // namespace quillon
