#include "serial/port_monitor.h"

#include <cstring>

#include "foundation/log.h"

namespace quillon {

uint32_t PortMonitor::Run() {
    try {
        return Watch();
    } catch (...) {
        // Out of memory in a log line, say. The thread ends as after a fatal wait error, leaving
        // no wait outstanding; the dialog's own time-out ends the operation.
        EndWait();
        return kFatalWaitExitCode;
    }
}

uint32_t PortMonitor::Watch() {
    using Event = IPortDevice::Event;
    using WaitStart = IPortDevice::WaitStart;
    WriteLog("Begin COMThread");
    io_.Purge();

    // Whether our comm-event wait is outstanding. Starting a second one while it is fails with
    // 87, and under wine that failure also signals the wait's event, so the thread would take
    // it for a comm event again and again (and never see a frame waiting to be written). While
    // the wait is outstanding the thread therefore goes straight back to waiting for it.
    bool waitPending = false;
    for (;;) {
        uint32_t queued = 0;
        bool came = false;
        if (!waitPending) {
            uint32_t error = 0;
            const WaitStart start = io_.StartWait(&error);
            if (start == WaitStart::kClosed) {
                WriteLog("COMThread Pointer not exists");
                break;
            }
            if (start == WaitStart::kCompleted) {
                WriteLog("COMThread Clear COM");
                io_.LineStatus(&queued);
                if (queued == 0) {
                    WriteLog("COMThread InQue = 0");
                    continue;
                }
                came = true;  // the bytes are there: drain them below, unless shutdown comes first
            } else {
                const WaitFailure failure = ClassifyWaitFailure(error);
                if (failure == WaitFailure::EndThread) {
                    WriteLog("ERROR INVALID HANDLE");
                    WriteLog("ERROR INVALID HANDLE 2");
                    break;
                }
                io_.LineStatus(&queued);
                if (failure == WaitFailure::RetryOnPending) {
                    WriteLog("COMThread 87");
                } else if (failure == WaitFailure::Pending) {
                    waitPending = true;
                } else {
                    ReportError("WaitCommEvent()", error);
                    WriteLog("ERROR DEFAULT");
                    return kFatalWaitExitCode;
                }
            }
        } else if (!open_) {
            WriteLog("COMThread Pointer not exists");
            break;
        }

        const Event event = io_.Next(came, kSettleMs);
        if (event == Event::kShutdown) {
            WriteLog("COMThread Thread Close Signal");
            break;
        } else if (event == Event::kReceived || event == Event::kCommEvent) {
            waitPending = false;  // only the wait signals this event: it has completed
            if (event == Event::kReceived) DrainReceive(queued);
        } else if (event == Event::kWrite) {
            FlushWrite();
            ++writeSteps_;
            io_.EndWriteStep();
        } else {
            WriteLog("Error in WaitMultipleObject");
        }

        if (!open_) {
            WriteLog("COMThread Pointer not exists");
            break;
        }
    }

    // Leave no wait outstanding on the handle: its completion would land in the port after the
    // thread has gone.
    if (waitPending) EndWait();
    WriteLog("End COMThread");
    return 0;
}

void PortMonitor::EndWait() {
    if (!io_.EndWait()) abandoned_ = true;
}

void PortMonitor::DrainReceive(uint32_t queued) {
    // Bytes known to be queued: each is still read on its own, but the queue status is asked
    // for again only once they are all read. Under wine every ClearCommError costs about as
    // much as the read itself, and per byte it made reading slower than a 115200-baud line.
    for (;;) {
        if (!open_) {
            WriteLog("COMPORT CLOSED, Exit Forever Loop");
            return;
        }
        if (queued == 0 && (!io_.LineStatus(&queued) || queued == 0)) return;
        --queued;

        uint8_t byte = 0;
        uint32_t got = 0, error = 0, ignored = 0;
        switch (io_.ReadByte(&byte, &got, &error)) {
            case IPortDevice::Transfer::kDone:
                break;
            case IPortDevice::Transfer::kClosed:
                return;
            case IPortDevice::Transfer::kStuck:
                abandoned_ = true;
                WriteLog("TRANSFER NOT ENDED BY THE CLOSE");
                ReportError("GetOverlappedResults() in ReadFile()", error);
                return;
            case IPortDevice::Transfer::kPendingFailed:
                ReportError("GetOverlappedResults() in ReadFile()", error);
                io_.LineStatus(&ignored);
                got = 0;
                break;
            case IPortDevice::Transfer::kFailed:
                if (error == kErrorInvalidHandle) {
                    WriteLog("Read File ERROR_INVALID_HANDLE");
                    return;
                }
                ReportError("ReadFile()", error);
                io_.LineStatus(&ignored);
                got = 0;
                break;
        }
        // A failed read has no byte to hand on.
        if (got == 1) link_.CollectReplyByte(byte, sink_.load());
    }
}

void PortMonitor::FlushWrite() {
    // Whatever the terminal sent and nobody has read belongs to an earlier exchange.
    if (!io_.Purge()) return;
    const int wireLength = link_.Encode(writeBuffer_, writeLength_);
    if (wireLength <= 0) {
        WriteLog(Format("FRAME OF %lu BYTES CANNOT BE ENCODED",
                        static_cast<unsigned long>(writeLength_)));
        return;
    }
    uint32_t written = 0, error = 0;
    switch (io_.Write(link_.WorkArea(), wireLength, &written, &error)) {
        case IPortDevice::Transfer::kStuck:
            abandoned_ = true;
            WriteLog("TRANSFER NOT ENDED BY THE CLOSE");
            ReportError("GetOverlappedResults() in WriteFile()", error);
            break;
        case IPortDevice::Transfer::kPendingFailed:
            ReportError("GetOverlappedResults() in WriteFile()", error);
            break;
        case IPortDevice::Transfer::kFailed:
            ReportError("WriteFile()", error);
            break;
        default:
            break;
    }
    // A short write leaves the line's error state set.
    if (written != static_cast<uint32_t>(wireLength)) {
        uint32_t ignored = 0;
        io_.LineStatus(&ignored);
    }
}

void PortMonitor::ReportError(const char* callName, uint32_t error) {
    WriteLog(PortWarning(callName, io_.SystemText(error), portNumber_));
}

void PortMonitor::HandOver(const uint8_t* frame, int length) {
    link_.ResetReceive();  // what came in part-way belonged to an earlier exchange
    if (!open_) {
        WriteLog("PORT NOT OPENED Trying to Write");
        return;
    }
    if (!FitsWriteBuffer(length)) {
        WriteLog(Format("FRAME OF %d BYTES DOES NOT FIT THE WRITE BUFFER", length));
        return;
    }
    std::memset(writeBuffer_, 0, sizeof writeBuffer_);
    std::memcpy(writeBuffer_, frame, static_cast<size_t>(length));
    writeLength_ = length;
    io_.SignalWrite();
}

}  // namespace quillon
