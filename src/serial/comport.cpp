#include "serial/comport.h"

#include "foundation/log.h"

namespace quillon {

bool ComPort::InitPort(unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                       unsigned stopBits, uint32_t commEvents, unsigned /*writeBufferSize*/,
                       IFrameSink* sink) {
    WriteLog("Entering InitPort");
    // Stop a monitor thread still running on this object before its events are replaced. It
    // gets the close deadline once; one that outlives it keeps its events, and the port stays
    // shut.
    if (device_.MonitorPresent()) {
        device_.StopTransfers();
        device_.SignalShutdown();
        if (!MonitorEnded(device_.Now() + kThreadCloseWaitMs)) {
            WriteLog("COMThread still running, port not reopened");
            return false;
        }
    }
    const unsigned replaced = device_.ReplaceEvents();
    static const char* const kResetLines[] = {
        "Reset Read Event if already Set", "Reset Write Event if already Set",
        "Reset Shutdown Event if already Set", "Reset ShutdownSet Event if already Set"};
    for (unsigned i = 0; i < 4; ++i) {
        if (replaced & (1u << i)) WriteLog(kResetLines[i]);
    }
    monitor_.SetSink(sink);
    monitor_.SetPortNumber(portNumber);
    commEvents_ = commEvents;
    WriteLog("Create Port and Baud buffer");

    // Nothing allocates while the lock is held, and a log line is a string made: the texts are
    // built and the lines that come before the port calls are logged before it is taken, the
    // outcome after it is left. No monitor thread runs here, so the port's handle is read safely
    // outside it.
    const std::string name = ComDeviceName(portNumber);
    const std::string line = LineSettings(baud, parity, dataBits, stopBits);
    const bool stillOpen = device_.HasPort();
    if (stillOpen) WriteLog("COM Port already Open Trying to Close");
    WriteLog("Begin Open COM");
    WriteLog(name.c_str());
    WriteLog(line.c_str());
    device_.Lock();
    if (stillOpen) device_.CloseHandle();
    const bool opened = device_.Open(name);
    uint32_t error = 0;
    const char* failedCall = nullptr;
    if (opened) {
        failedCall = Configure(line, &error);
        device_.Purge();
    } else {
        error = device_.LastError();
        device_.EndThread();  // nothing to wait for: a close returns at once
    }
    device_.Unlock();
    if (!opened) {
        WriteLog("Open COM ERROR");
        monitor_.ReportError("Open COM ERROR", error);
        return false;
    }
    if (failedCall != nullptr) monitor_.ReportError(failedCall, error);
    WriteLog("Leaving InitPort");
    return true;
}

const char* ComPort::Configure(const std::string& line, uint32_t* error) {
    // The first failing call ends the chain; the port stays open with the settings it has.
    static const struct {
        IPortDevice::ConfigStep step;
        const char* callName;
    } kChain[] = {{IPortDevice::ConfigStep::kTimeouts, "SetCommTimeouts()"},
                  {IPortDevice::ConfigStep::kMask, "SetCommMask()"},
                  {IPortDevice::ConfigStep::kGetState, "GetCommState()"},
                  {IPortDevice::ConfigStep::kBuildState, "BuildCommDCB()"},
                  {IPortDevice::ConfigStep::kSetState, "SetCommState()"}};
    for (const auto& link : kChain) {
        const uint32_t value =
            link.step == IPortDevice::ConfigStep::kTimeouts ? kPortTimeoutMs : commEvents_;
        if (!device_.Configure(link.step, value, line)) {
            *error = device_.LastError();
            return link.callName;
        }
    }
    return nullptr;
}

bool ComPort::MonitorEnded(uint64_t deadline) {
    const bool ended = device_.WaitThreadEnd(overdue_ ? device_.Now() : deadline);
    overdue_ = !ended;
    return ended;
}

bool ComPort::StartMonitor() {
    if (device_.ThreadRunning()) {
        WriteLog("COMThread already running");
        return false;
    }
    return device_.StartThread(MonitorThread, this);
}

uint32_t ComPort::MonitorThread(void* port) {
    ComPort* self = static_cast<ComPort*>(port);
    return self->monitor_.Run();
}

void ComPort::SendToPort(const uint8_t* plainFrame, int length) {
    sentAt_ = device_.WritesCompleted();
    monitor_.HandOver(plainFrame, length);
}

bool ComPort::WaitForWrite(int milliseconds) {
    const uint64_t deadline =
        device_.Now() + static_cast<uint64_t>(milliseconds > 0 ? milliseconds : 0);
    while (device_.WritesCompleted() == sentAt_) {
        const uint64_t now = device_.Now();
        if (now >= deadline) return false;
        device_.AwaitWriteStep(static_cast<uint32_t>(deadline - now));
    }
    return true;
}

void ComPort::ClosePort() {
    WriteLog("Begin Close COM Port");
    // Nothing pending may hold the close: no new transfer starts, the comm-event wait and any
    // write or read in flight are ended, and no wait below holds the lock. The handle itself is
    // closed once the monitor thread is done with it (or has had its deadline), so the thread
    // never issues a call on a handle that is closed, or already reused.
    device_.StopTransfers();
    monitor_.SetSink(nullptr);  // a reply that still comes in is dropped
    device_.SignalShutdown();

    WriteLog("Waiting for ThreadClose");
    const uint64_t deadline = device_.Now() + (overdue_ ? 0 : kThreadCloseWaitMs);
    device_.WaitThreadClosed(deadline);
    WriteLog("Thread Closed");
    // The thread signals its end just before it returns; wait for the return itself.
    const bool ended = MonitorEnded(deadline);
    device_.Lock();
    if (device_.HasPort()) device_.CloseHandle();
    device_.Unlock();
    if (ended) {
        device_.ReleaseEvents();
    } else {
        // Still stuck (in a reply hand-over that never returns): it finds the port closed when it
        // comes back and ends by itself. Its events and the lock stay for it until an open finds
        // it ended.
        WriteLog("COMThread still running after the close wait");
    }
    WriteLog("End Close COM Port");
}

}  // namespace quillon
