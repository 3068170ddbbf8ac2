#include "serial/comport_win32.h"

#include <cstring>
#include <string>

#include "foundation/log.h"
#include "foundation/wait_win32.h"
#include "terminal/frame_codec.h"

namespace quillon {

namespace {

const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Exit code of a monitor thread ended by an unexpected comm-event wait error.
const DWORD kFatalWaitExitCode = 100;
// How long a cancelled write or read may take to report that it has ended.
const DWORD kCancelLandsMs = 1000;

void CloseAndClear(HANDLE* handle) {
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
}

}  // namespace

ComPort::ComPort()
    : monitorThread(nullptr),
      lock(),
      threadAlive(FALSE),
      shutdownEvent(nullptr),
      threadClosedEvent(nullptr),
      portHandle(nullptr),
      writeEvent(nullptr),
      eventArray(),
      overlap(),
      timeouts(),
      dcb(),
      portNumber(0),
      writeBuffer(),
      commEvents(0),
      writeBufferSize(0),
      writeLength(0),
      readOverlap(),
      writeOverlap(),
      waitEventMask(0),
      readByte(0),
      lockReady(false),
      writeDoneEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ComPort::~ComPort() {
    // At unload: release what is still held without waiting on a thread.
    if (portHandle != nullptr && sharedHandle == portHandle) sharedHandle = nullptr;
    CloseAndClear(&portHandle);
    CloseAndClear(&monitorThread);
    CloseAndClear(&overlap.hEvent);
    CloseAndClear(&readOverlap.hEvent);
    CloseAndClear(&writeOverlap.hEvent);
    CloseAndClear(&writeEvent);
    CloseAndClear(&shutdownEvent);
    CloseAndClear(&threadClosedEvent);
    CloseAndClear(&writeDoneEvent);
    if (lockReady && !threadAlive) DeleteCriticalSection(&lock);
}

void ComPort::Lock() { EnterCriticalSection(&lock); }

void ComPort::Unlock() { LeaveCriticalSection(&lock); }

bool ComPort::ClearErrors(COMSTAT* comstat) {
    DWORD errors = 0;
    Lock();
    const bool ok = portHandle != nullptr && ClearCommError(portHandle, &errors, comstat);
    Unlock();
    return ok;
}

void ComPort::Purge() {
    Lock();
    if (portHandle != nullptr) PurgeComm(portHandle, kPurgeAll);
    Unlock();
}

bool ComPort::ReapMonitorThread() {
    if (monitorThread == nullptr) return !threadAlive;
    if (shutdownEvent != nullptr) SetEvent(shutdownEvent);
    if (!WaitServingSentMessages(monitorThread, GetTickCount64() + kThreadCloseWaitMs)) {
        return false;
    }
    CloseAndClear(&monitorThread);
    threadAlive = FALSE;
    return true;
}

void ComPort::StopTransfers() {
    if (!lockReady) return;
    Lock();
    closing = true;
    if (portHandle != nullptr) {
        // Clearing the mask ends the comm-event wait (cancelling it does not, under wine);
        // cancelling ends a write the line does not take, or a read, wherever it waits.
        SetCommMask(portHandle, 0);
        CancelIoEx(portHandle, nullptr);
    }
    Unlock();
}

HANDLE ComPort::InitPort(unsigned portNumber_, unsigned baud, char parity, unsigned dataBits,
                         unsigned stopBits, DWORD commEvents_, unsigned writeBufferSize_,
                         IFrameSink* sink_) {
    WriteLog("Entering InitPort");

    // Stop a monitor thread still running on this object before its events are replaced. It
    // gets the close deadline; one that outlives it keeps its events, and the port stays shut.
    if (threadAlive || monitorThread != nullptr) {
        StopTransfers();
        if (shutdownEvent != nullptr) SetEvent(shutdownEvent);
        if (!ReapMonitorThread()) {
            WriteLog("COMThread still running, port not reopened");
            return INVALID_HANDLE_VALUE;
        }
    }

    if (overlap.hEvent != nullptr) {
        WriteLog("Reset Read Event if already Set");
        CloseAndClear(&overlap.hEvent);
    }
    if (writeEvent != nullptr) {
        WriteLog("Reset Write Event if already Set");
        CloseAndClear(&writeEvent);
    }
    if (shutdownEvent != nullptr) {
        WriteLog("Reset Shutdown Event if already Set");
        CloseAndClear(&shutdownEvent);
    }
    if (threadClosedEvent != nullptr) {
        WriteLog("Reset ShutdownSet Event if already Set");
        CloseAndClear(&threadClosedEvent);
    }
    if (transferStuck) {
        // A transfer that ignored its cancellation may still signal these: leave them to it.
        readOverlap.hEvent = writeOverlap.hEvent = nullptr;
        transferStuck = false;
    }
    CloseAndClear(&readOverlap.hEvent);
    CloseAndClear(&writeOverlap.hEvent);
    overlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    shutdownEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    threadClosedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    readOverlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeOverlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    eventArray[0] = shutdownEvent;
    eventArray[1] = overlap.hEvent;
    eventArray[2] = writeEvent;

    if (!lockReady) {
        InitializeCriticalSection(&lock);
        lockReady = true;
    }
    closing = false;
    sink = sink_;
    portNumber = portNumber_;
    commEvents = commEvents_;
    writeBufferSize = writeBufferSize_;
    WriteLog("Create Port and Baud buffer");

    // Built before the lock: nothing that can throw runs while it is held.
    const std::string device = ComDeviceName(portNumber);
    const std::string line = LineSettings(baud, parity, dataBits, stopBits);
    Lock();
    if (portHandle != nullptr) {
        WriteLog("COM Port already Open Trying to Close");
        if (sharedHandle == portHandle) sharedHandle = nullptr;
        CloseAndClear(&portHandle);
    }

    WriteLog("Begin Open COM");
    WriteLog(device.c_str());
    WriteLog(line.c_str());

    const HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();  // the log sink may touch it
        WriteLog("Open COM ERROR");
        SetLastError(error);
        ReportError("Open COM ERROR");
        threadAlive = FALSE;
        SetEvent(threadClosedEvent);
        Unlock();
        return INVALID_HANDLE_VALUE;
    }
    portHandle = handle;

    // The first failing call ends the chain; the port stays open with the settings it has.
    timeouts.ReadIntervalTimeout = kPortTimeoutMs;
    timeouts.ReadTotalTimeoutMultiplier = kPortTimeoutMs;
    timeouts.ReadTotalTimeoutConstant = kPortTimeoutMs;
    timeouts.WriteTotalTimeoutMultiplier = kPortTimeoutMs;
    timeouts.WriteTotalTimeoutConstant = kPortTimeoutMs;
    if (!SetCommTimeouts(portHandle, &timeouts)) {
        ReportError("SetCommTimeouts()");
    } else if (!SetCommMask(portHandle, commEvents)) {
        ReportError("SetCommMask()");
    } else if (!GetCommState(portHandle, &dcb)) {
        ReportError("GetCommState()");
    } else {
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (!BuildCommDCBA(line.c_str(), &dcb)) {
            ReportError("BuildCommDCB()");
        } else if (!SetCommState(portHandle, &dcb)) {
            ReportError("SetCommState()");
        }
    }

    PurgeComm(portHandle, kPurgeAll);
    Unlock();
    WriteLog("Leaving InitPort");
    return portHandle;
}

bool ComPort::StartMonitor() {
    if (monitorThread != nullptr) {
        if (WaitForSingleObject(monitorThread, 0) != WAIT_OBJECT_0) {
            WriteLog("COMThread already running");
            return false;
        }
        CloseAndClear(&monitorThread);
    }
    // Alive from here on, not from the thread's first step: a close or reopen that comes before
    // the thread has run must still wait for it.
    threadAlive = TRUE;
    monitorThread = CreateThread(nullptr, 0, COMThread, this, 0, nullptr);
    if (monitorThread == nullptr) threadAlive = FALSE;
    return monitorThread != nullptr;
}

bool ComPort::ResumeMonitor() {
    ResumeThread(monitorThread);
    return true;
}

bool ComPort::SuspendMonitor() {
    SuspendThread(monitorThread);
    return true;
}

void ComPort::SendToPort(const uint8_t* data, int length) {
    link.ResetReceive();  // what came in part-way belonged to an earlier exchange
    if (portHandle == nullptr && sharedHandle != nullptr) {
        WriteLog("FOUND GLOBAL HANDLE GOT");
        portHandle = sharedHandle;
    }
    if (portHandle == nullptr) {
        WriteLog("PORT NOT OPENED Trying to Write");
        return;
    }
    if (!FitsWriteBuffer(length)) {
        WriteLog(Format("FRAME OF %d BYTES DOES NOT FIT THE WRITE BUFFER", length));
        return;
    }
    std::memset(writeBuffer, 0, sizeof writeBuffer);
    std::memcpy(writeBuffer, data, static_cast<size_t>(length));
    writeLength = static_cast<DWORD>(length);
    SetEvent(writeEvent);
}

void ComPort::ClosePort() {
    WriteLog("Begin Close COM Port");
    // Nothing pending may hold the close: no new transfer starts, the comm-event wait and any
    // write or read in flight are ended, and no wait below holds the lock. The handle itself is
    // closed once the monitor thread is done with it (or has had its deadline), so the thread
    // never issues a call on a handle that is closed, or already reused.
    StopTransfers();
    sink = nullptr;
    if (shutdownEvent != nullptr) SetEvent(shutdownEvent);

    WriteLog("Waiting for ThreadClose");
    const ULONGLONG deadline = GetTickCount64() + kThreadCloseWaitMs;
    WaitServingSentMessages(threadClosedEvent, deadline);
    WriteLog("Thread Closed");

    // The thread sets threadClosedEvent just before it returns; wait for the return itself.
    bool ended = true;
    if (monitorThread != nullptr) {
        ended = WaitServingSentMessages(monitorThread, deadline);
        if (ended) CloseAndClear(&monitorThread);
    }
    if (lockReady) Lock();
    if (portHandle != nullptr) {
        if (sharedHandle == portHandle) sharedHandle = nullptr;
        CloseAndClear(&portHandle);
    }
    if (lockReady) Unlock();
    if (ended && !transferStuck) {
        // Nothing uses the events or the lock any more.
        CloseAndClear(&overlap.hEvent);
        CloseAndClear(&writeEvent);
        CloseAndClear(&readOverlap.hEvent);
        CloseAndClear(&writeOverlap.hEvent);
        CloseAndClear(&threadClosedEvent);
        CloseAndClear(&shutdownEvent);
        eventArray[0] = eventArray[1] = eventArray[2] = nullptr;
        threadAlive = FALSE;
        if (lockReady) {
            DeleteCriticalSection(&lock);
            lockReady = false;
        }
    } else if (!ended) {
        // Still stuck (in a reply hand-over that never returns): it finds the port closed when it
        // comes back and ends by itself. Its events and the lock stay for it, and the next
        // InitPort waits for it before replacing them.
        WriteLog("COMThread still running after the close wait");
    }
    // A transfer that ignored its cancellation keeps its events; the next InitPort leaves them
    // to it.
    WriteLog("End Close COM Port");
}

void ComPort::ReportError(const char* callName) {
    const DWORD error = GetLastError();
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    WriteLog(PortWarning(callName, text, portNumber));
}

void ComPort::EndPendingWait() {
    // Clearing the mask ends the wait (cancelling it does not, under wine); the handle is about
    // to be closed or reopened, which sets the mask again. A closed handle has ended it already.
    Lock();
    if (portHandle != nullptr) SetCommMask(portHandle, 0);
    Unlock();
    AwaitWaitEnd();
}

void ComPort::AwaitWaitEnd() {
    // Only the wait uses `overlap`, so its status tells when the wait has ended (a cancelled
    // wait does not always signal the event).
    const ULONGLONG deadline = GetTickCount64() + 1000;
    while (!HasOverlappedIoCompleted(&overlap) && GetTickCount64() < deadline) {
        if (overlap.hEvent == nullptr) {
            Sleep(1);
        } else {
            WaitForSingleObject(overlap.hEvent, 1);
        }
    }
}

DWORD WINAPI ComPort::COMThread(LPVOID param) {
    ComPort* port = static_cast<ComPort*>(param);
    try {
        return MonitorLoop(port);
    } catch (...) {
        // Out of memory in a log line, say. The thread ends as after a fatal wait error, leaving
        // no wait outstanding; the dialog's own time-out ends the operation.
        if (port == nullptr) return kFatalWaitExitCode;
        port->EndPendingWait();
        port->threadAlive = FALSE;
        if (port->threadClosedEvent != nullptr) SetEvent(port->threadClosedEvent);
        return kFatalWaitExitCode;
    }
}

DWORD ComPort::MonitorLoop(ComPort* port) {
    WriteLog("Begin COMThread");
    if (port == nullptr) {
        WriteLog("COMThread Pointer not exists");
        WriteLog("End COMThread");
        return 0;
    }
    port->threadAlive = TRUE;
    port->Purge();

    // Whether our comm-event wait is outstanding. Starting a second one while it is fails with
    // 87, and under wine that failure also signals the wait's event, so the thread would take
    // it for a comm event again and again (and never see a frame waiting to be written). While
    // the wait is outstanding the thread therefore goes straight back to waiting for it.
    bool waitPending = false;
    for (;;) {
        COMSTAT comstat = {};
        if (!waitPending) {
            port->Lock();
            const HANDLE handle = port->closing ? nullptr : port->portHandle;
            BOOL done = FALSE;
            DWORD error = 0;
            if (handle != nullptr) {
                done = WaitCommEvent(handle, &port->waitEventMask, &port->overlap);
                error = GetLastError();
            }
            port->Unlock();
            if (handle == nullptr) {
                WriteLog("COMThread Pointer not exists");
                break;
            }

            if (done) {
                WriteLog("COMThread Clear COM");
                port->ClearErrors(&comstat);
                if (comstat.cbInQue == 0) {
                    WriteLog("COMThread InQue = 0");
                    continue;
                }
                SetEvent(port->overlap.hEvent);  // the bytes are there: drain them below
            } else {
                const WaitFailure failure = ClassifyWaitFailure(error);
                if (failure == WaitFailure::EndThread) {
                    WriteLog("ERROR INVALID HANDLE");
                    WriteLog("ERROR INVALID HANDLE 2");
                    break;
                }
                port->ClearErrors(&comstat);
                if (failure == WaitFailure::RetryOnPending) {
                    WriteLog("COMThread 87");
                } else if (failure == WaitFailure::Pending) {
                    waitPending = true;
                } else {
                    SetLastError(error);
                    port->ReportError("WaitCommEvent()");
                    WriteLog("ERROR DEFAULT");
                    port->threadAlive = FALSE;
                    SetEvent(port->threadClosedEvent);
                    return kFatalWaitExitCode;
                }
            }
        } else if (port->portHandle == nullptr) {
            WriteLog("COMThread Pointer not exists");
            break;
        }

        const DWORD which = WaitForMultipleObjects(3, port->eventArray, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            WriteLog("COMThread Thread Close Signal");
            break;
        } else if (which == WAIT_OBJECT_0 + 1) {
            // Only the wait signals this event: it has completed.
            waitPending = false;
            ResetEvent(port->overlap.hEvent);
            DWORD mask = 0;
            if (port->portHandle != nullptr) GetCommMask(port->portHandle, &mask);
            if (mask & EV_RXCHAR) {
                Sleep(2);
                DrainReceive(port, comstat);
            }
        } else if (which == WAIT_OBJECT_0 + 2) {
            FlushWrite(port);
            ResetEvent(port->writeEvent);
            InterlockedIncrement(&port->writesCompleted);
            if (port->writeDoneEvent != nullptr) SetEvent(port->writeDoneEvent);
        } else {
            WriteLog("Error in WaitMultipleObject");
        }

        if (port->portHandle == nullptr) {
            WriteLog("COMThread Pointer not exists");
            break;
        }
    }

    // Leave no wait outstanding on the handle: its completion would land in this object after
    // the thread has gone.
    if (waitPending) port->EndPendingWait();
    port->threadAlive = FALSE;
    if (port->threadClosedEvent != nullptr) SetEvent(port->threadClosedEvent);
    WriteLog("End COMThread");
    return 0;
}

void ComPort::FlushWrite(ComPort* port) {
    ResetEvent(port->writeEvent);
    port->Lock();
    const HANDLE handle = port->closing ? nullptr : port->portHandle;
    if (handle == nullptr) {
        port->Unlock();
        return;
    }
    port->writeOverlap.Offset = 0;
    port->writeOverlap.OffsetHigh = 0;
    // Whatever the terminal sent and nobody has read belongs to an earlier exchange.
    PurgeComm(handle, kPurgeAll);

    const int wireLength =
        port->link.Encode(port->writeBuffer, static_cast<int>(port->writeLength));
    if (wireLength <= 0) {
        port->Unlock();
        WriteLog(Format("FRAME OF %lu BYTES CANNOT BE ENCODED",
                        static_cast<unsigned long>(port->writeLength)));
        return;
    }

    DWORD written = 0;
    // Issued outside the lock: a driver may take its time inside the call itself, and a close
    // must not queue behind it. The handle stays open until this thread has ended.
    port->Unlock();
    const BOOL done = WriteFile(handle, port->link.WorkArea(), static_cast<DWORD>(wireLength), &written,
                                &port->writeOverlap);
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
        // A line that takes no bytes keeps the write pending for its whole time-out (10 s a
        // byte): it is waited for without the lock, and the close cancels it.
        if (!port->AwaitTransfer(handle, &port->writeOverlap, &written)) {
            port->ReportError("GetOverlappedResults() in WriteFile()");
        }
    } else if (!done) {
        SetLastError(error);
        port->ReportError("WriteFile()");
    }

    // A short write leaves the line's error state set.
    if (written != static_cast<DWORD>(wireLength)) {
        COMSTAT comstat = {};
        port->ClearErrors(&comstat);
    }
}

bool ComPort::AwaitTransfer(HANDLE handle, OVERLAPPED* io, DWORD* transferred) {
    const HANDLE waits[2] = {io->hEvent, shutdownEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // The port is closing. Its close cancelled what was pending then; a transfer issued just
        // after that is cancelled here (the handle stays open until this thread has ended). Let
        // the cancellation land before the record is used again; one that never lands leaves the
        // record and its event to the transfer.
        CancelIoEx(handle, io);
        if (WaitForSingleObject(io->hEvent, kCancelLandsMs) != WAIT_OBJECT_0) {
            WriteLog("TRANSFER NOT ENDED BY THE CLOSE");
            transferStuck = true;
            *transferred = 0;
            SetLastError(ERROR_OPERATION_ABORTED);
            return false;
        }
    }
    // Completed (or cancelled): the record holds the outcome, the handle is not waited on.
    if (!GetOverlappedResult(handle, io, transferred, FALSE)) {
        *transferred = 0;
        return false;
    }
    return true;
}

void ComPort::DrainReceive(ComPort* port, COMSTAT comstat) {
    // Bytes known to be queued: each is still read on its own, but the queue status is asked
    // for again only once they are all read. Under wine every ClearCommError costs about as
    // much as the read itself, and per byte it made reading slower than a 115200-baud line.
    DWORD queued = 0;
    for (;;) {
        if (port == nullptr) {
            WriteLog("Thread Pointer NULL, Exit Forever Loop");
            return;
        }
        if (port->portHandle == nullptr) {
            WriteLog("COMPORT CLOSED, Exit Forever Loop");
            return;
        }
        if (queued == 0) {
            if (!port->ClearErrors(&comstat) || comstat.cbInQue == 0) return;
            queued = comstat.cbInQue;
        }
        --queued;

        port->Lock();
        const HANDLE handle = port->closing ? nullptr : port->portHandle;
        DWORD got = 0;
        if (handle == nullptr) {
            port->Unlock();
            return;
        }
        const BOOL done = ReadFile(handle, &port->readByte, 1, &got, &port->readOverlap);
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        DWORD errors = 0;
        if (!done && error == ERROR_IO_PENDING) ClearCommError(handle, &errors, &comstat);
        port->Unlock();
        if (!done) {
            if (error == ERROR_IO_PENDING) {
                // Waited for without the lock, like a write: the close cancels it.
                if (!port->AwaitTransfer(handle, &port->readOverlap, &got)) {
                    port->ReportError("GetOverlappedResults() in ReadFile()");
                    if (port->transferStuck) return;
                    port->ClearErrors(&comstat);
                }
            } else if (error == ERROR_INVALID_HANDLE) {
                WriteLog("Read File ERROR_INVALID_HANDLE");
                return;
            } else {
                SetLastError(error);
                port->ReportError("ReadFile()");
                port->ClearErrors(&comstat);
                got = 0;
            }
        }
        // A failed read has no byte to hand on.
        if (got == 1) port->link.CollectReplyByte(port->readByte, port->sink.load());
    }
}

}  // namespace quillon
