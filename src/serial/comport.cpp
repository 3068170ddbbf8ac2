#include "serial/comport.h"

#include "foundation/log.h"

namespace quillon {

namespace {

const char* ConfigCallName(IPortDevice::ConfigStep step) {
    static const char* const kNames[] = {"SetCommTimeouts()", "SetCommMask()", "GetCommState()",
                                         "BuildCommDCB()", "SetCommState()"};
    return kNames[static_cast<int>(step)];
}

}  // namespace

ComPort::~ComPort() {
    if (prepared_ && !monitorPresent_) device_.Close(Everything());
}

IPortDevice::Release ComPort::Everything() const {
    // A transfer that outlived its cancellation may still write into its block at any time.
    return monitor_.TransfersAbandoned() ? IPortDevice::Release::kAllButTransfers
                                         : IPortDevice::Release::kAll;
}

bool ComPort::InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                       unsigned stopBits, uint32_t commEvents, unsigned /*writeBufferSize*/,
                       IFrameSink* sink) {
    WriteLog("Entering InitPort");
    // Stop a monitor thread still running on this object before its events are replaced. It
    // gets the close deadline once; one that outlives it keeps its events, and the port stays
    // shut.
    if (monitorPresent_) {
        device_.Stop();
        if (!MonitorEnded(device_.Now() + kThreadCloseWaitMs)) {
            WriteLog("COMThread still running, port not reopened");
            return false;
        }
    }
    if (prepared_) {
        WriteLog("Reset Read Event if already Set");
        WriteLog("Reset Write Event if already Set");
        WriteLog("Reset Shutdown Event if already Set");
        WriteLog("Reset ShutdownSet Event if already Set");
    }
    monitor_.SetSink(sink);
    monitor_.SetPortNumber(portNumber);
    WriteLog("Create Port and Baud buffer");

    // The texts are built and logged before the device is called: it holds its lock meanwhile.
    const std::string name = ComDeviceName(portNumber);
    const std::string line = LineSettings(baud, parity, dataBits, stopBits);
    if (monitor_.PortOpen()) WriteLog("COM Port already Open Trying to Close");
    WriteLog("Begin Open COM");
    WriteLog(name.c_str());
    WriteLog(line.c_str());
    if (prepared_) device_.Close(Everything());  // the old handle, events and transfer block
    const IPortDevice::Opened opened = device_.Open(name, line, commEvents, kPortTimeoutMs);
    prepared_ = true;
    monitor_.ClearAbandoned();
    monitor_.SetPortOpen(opened.opened);
    if (!opened.opened) {
        WriteLog("Open COM ERROR");
        monitor_.ReportError("Open COM ERROR", opened.error);
        return false;
    }
    // A failed step leaves the port open with the settings it has.
    device_.Purge();
    if (opened.failed != IPortDevice::ConfigStep::kNone) {
        monitor_.ReportError(ConfigCallName(opened.failed), opened.error);
    }
    WriteLog("Leaving InitPort");
    return true;
}

bool ComPort::MonitorEnded(uint64_t deadline) {
    const bool ended =
        !monitorPresent_ || device_.AwaitThreadEnd(overdue_ ? device_.Now() : deadline);
    overdue_ = monitorPresent_ = !ended;
    return ended;
}

bool ComPort::StartMonitor() {
    if (monitorPresent_ && !device_.AwaitThreadEnd(device_.Now())) {
        WriteLog("COMThread already running");
        return false;
    }
    monitorPresent_ = prepared_ && device_.StartThread(MonitorThread, this);
    return monitorPresent_;
}

uint32_t ComPort::MonitorThread(void* port) { return static_cast<ComPort*>(port)->monitor_.Run(); }

void ComPort::SendToPort(const uint8_t* plainFrame, int length) {
    sentAt_ = monitor_.WriteSteps();
    monitor_.HandOver(plainFrame, length);
}

bool ComPort::WaitForWrite(int milliseconds) {
    const uint64_t deadline =
        device_.Now() + static_cast<uint64_t>(milliseconds > 0 ? milliseconds : 0);
    while (monitor_.WriteSteps() == sentAt_) {
        if (device_.Now() >= deadline) return false;
        device_.AwaitWriteStep(deadline);
    }
    return true;
}

void ComPort::StopPort() {
    WriteLog("Begin Close COM Port");
    // Nothing pending may hold the close: no new transfer starts, the comm-event wait and any
    // write or read in flight are ended. The handle itself is closed once the monitor thread is
    // done with it (or has had its deadline), so the thread never issues a call on a handle that
    // is closed, or already reused.
    monitor_.SetSink(nullptr);  // a reply that still comes in is dropped
    device_.Stop();
    stopping_ = true;
}

void ComPort::FinishClose() {
    if (!stopping_) return;
    stopping_ = false;
    WriteLog("Waiting for ThreadClose");
    const bool ended = MonitorEnded(device_.Now() + kThreadCloseWaitMs);
    WriteLog("Thread Closed");
    monitor_.SetPortOpen(false);
    if (ended) {
        device_.Close(Everything());
        prepared_ = false;
    } else {
        // Still stuck (in a reply hand-over that never returns): it finds the port closed when it
        // comes back and ends by itself. Its events and transfer block stay for it until an open
        // finds it ended.
        device_.Close(IPortDevice::Release::kHandle);
        WriteLog("COMThread still running after the close wait");
    }
    WriteLog("End Close COM Port");
}

}  // namespace quillon
