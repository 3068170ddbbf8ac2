// ComPort: the terminal's serial port. It opens a COM port for overlapped I/O, runs one monitor
// thread (PortMonitor) that writes each frame handed over by SendToPort, encoded on the way out,
// and hands every received byte, one at a time, to the link's reply parser. The process has one
// ComPort; the acquisition dialog opens it for one operation and closes it at the end. Every step
// is logged through WriteLog. The operating system is reached through IPortDevice
// (serial/port_device.h), which decides nothing.
#pragma once

#include <cstdint>
#include <string>

#include "serial/port_device.h"
#include "serial/port_monitor.h"
#include "serial/terminal_port.h"
#include "terminal/frame_codec.h"

namespace quillon {

class ComPort : public ITerminalPort {
  public:
    explicit ComPort(IPortDevice& device) : device_(device), monitor_(device, link_) {}
    // At unload: frees what the device holds unless a monitor thread may still use it.
    ~ComPort() override;
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
    // The close: the monitor thread is waited for at most about 10 s while messages sent to this
    // thread's windows are served (the thread may be handing a reply over). A thread that has
    // already had those 10 s is not waited for again.
    void StopPort() override;
    void FinishClose() override;
    void InstallLinkKey(const uint8_t key[16]) override { link_.InstallLinkKey(key); }

  private:
    static uint32_t MonitorThread(void* port);
    // What a close may free once the monitor thread has ended.
    IPortDevice::Release Everything() const;
    // Waits for the monitor thread's end until `deadline`, or only looks when the thread has
    // already had its close deadline. True when no thread is left.
    bool MonitorEnded(uint64_t deadline);

    IPortDevice& device_;
    // The link lives as long as the port: a link key installed for one command serves the next.
    TerminalLink link_;
    PortMonitor monitor_;
    // An open has made the device's events and transfer block, and no close has freed them.
    bool prepared_ = false;
    // A monitor thread has started and has not been seen to end.
    bool monitorPresent_ = false;
    // StopPort has run and FinishClose has not.
    bool stopping_ = false;
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
